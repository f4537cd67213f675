// The compressor configuration of a VZK file and its VLR payload.
#pragma once

#include <string>
#include <vector>

#include "las/core/lasitem.hpp"
#include "las/core/types.hpp"

class ByteStreamOut;

class Vorzak {
 public:
  enum Compressor : U16 { NONE = 0, POINTWISE = 1, POINTWISE_CHUNKED = 2, LAYERED_CHUNKED = 3 };
  static constexpr const char* USER_ID = "vorzak encoded";
  static constexpr U16 RECORD_ID = 22204;
  static constexpr U16 RESERVED = 0xAABB;
  static constexpr U32 DEFAULT_CHUNK_SIZE = 50000;
  static constexpr U32 VERSION_MAJOR = 3;
  static constexpr U32 VERSION_MINOR = 4;
  static constexpr U32 VERSION_REVISION = 3;
  static constexpr U32 BUILD_DATE = 200304;

  U16 compressor = POINTWISE_CHUNKED;
  U16 coder = 0;
  U8 version_major = VERSION_MAJOR;
  U8 version_minor = VERSION_MINOR;
  U16 version_revision = VERSION_REVISION;
  U32 options = 0;
  U32 chunk_size = DEFAULT_CHUNK_SIZE;
  I64 number_of_special_evlrs = -1;
  I64 offset_to_special_evlrs = -1;
  std::vector<LASitem> items;

  U16 num_items() const { return U16(items.size()); }

  bool setup(U16 num_items, const LASitem* items, U16 compressor);
  bool setup(const std::vector<LASitem>& list, U16 compressor) {
    return setup(U16(list.size()), list.data(), compressor);
  }
  bool validate(U16 point_data_record_length = 0);
  bool validateItem(const LASitem& item);
  // Checks the header's point data format (bit 7 already cleared) and record
  // length against this configuration's item list.
  bool validatePointFormat(U8 point_data_format, U16 point_data_record_length);
  bool standardPointType(U8* point_type, U16* record_length);
  bool standardPointType(U16 num_items, const LASitem* items, U8* point_type, U16* record_length);
  bool assignVersion(U16 requested);
  bool assignChunkSize(U32 size);
  bool itemsForPointType(std::vector<LASitem>& list, U8 point_type, U16 point_data_record_length);

  // The VLR payload: 34 + 6 bytes per item.
  U16 payloadSize() const { return U16(34 + 6 * items.size()); }
  std::vector<U8> payload() const;
  // Parses a payload of exactly its own size; false with the error text set.
  bool parsePayload(const U8* data, U32 size);
  // Writes the payload field by field, printing the failing field.
  bool writePayload(ByteStreamOut& stream) const;
  // "by vorzak of Quintrel (200304)"
  static std::string description();

  const std::string& errorText() const { return error_text; }

 private:
  bool fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  std::string error_text;
};
