// A layer of a TRL file: one recorded change of a point file. On the writing
// side it sees each point as read and as it is to be written and records what
// differs; on the reading side it re-applies that change to every point. A
// layer carries the ignore rules that were in force when it was written and
// leaves the points they exclude alone on both sides.
#pragma once

#include <memory>
#include <string>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/core/lasheader.hpp"
#include "las/core/lasignore.hpp"
#include "las/core/laspoint.hpp"
#include "las/core/messages.hpp"
#include "las/core/types.hpp"
#include "las/io/laswriter.hpp"

namespace trl {
// Layer types.
constexpr U32 kReplace = 1, kDiff = 2, kAdd = 4, kHeader = 8, kDelete = 16, kAppend = 32,
              kFilter = 64, kTransform = 128, kAddVLR = 256;
// Point fields a layer changes.
constexpr U32 kFieldAll = 0, kFieldXY = 3, kFieldZ = 4, kFieldXYZ = 7, kFieldIntensity = 8,
              kFieldClassification = 256, kFieldWithheld = 512, kFieldSynthetic = 1024,
              kFieldKeypoint = 2048, kFieldOverlap = 4096, kFieldUserData = 0x4000,
              kFieldRGB = 0x20000, kFieldExtended = 0x1000000, kFieldNIR = 0x2000000;
// How the per-point data is stored.
constexpr U32 kCompressionNone = 1, kCompressionPointwise = 2;
constexpr U32 kLayerHeaderSize = 44;

// 0 single return, 1 first of many, 2 last of many, 3 intermediate; the
// context of most coded layers.
U32 return_type_class(const LASpoint& point);
// Writes the counts and bounds of the points a layer kept into the header.
void put_inventory(LASheader* header, const LASwriterInventory& inventory);
}  // namespace trl

class Tierling : public LASignore {
 public:
  Tierling(U32 type, U32 fields, U32 compression);
  ~Tierling() override;
  Tierling(const Tierling&) = delete;
  Tierling& operator=(const Tierling&) = delete;

  // The LAS header the layer belongs to (not owned). Writing takes the
  // header modifications from it; reading applies them to it.
  void set_header(LASheader* header) { header_ = header; }
  LASheader* get_header() const { return header_; }

  U32 get_type() const { return type_; }
  U32 get_fields() const { return fields_; }
  U32 get_compression() const { return compression_; }
  U32 get_modification_mask() const { return modification_mask_; }
  void set_modification_mask(U32 mask) { modification_mask_ = mask; }
  const std::string& get_description() const { return description_; }
  void set_description(const std::string& text) { description_ = text; }
  U64 get_start_position() const { return start_position_; }
  U64 get_size() const { return size_; }
  U32 get_header_size() const { return header_size_; }

  // Prints the layer description block.
  virtual void describe() const;

  // ---- writing side
  // With a stream the layer header is written there now and the data
  // follows it; without, the data goes into a memory buffer and layer
  // header plus buffer reach the TRL stream in done_writing.
  bool start_writing(ByteStreamOut* stream);
  // `read` is the point as read, `written` the point as it is to be written.
  // Layers without per-point data record nothing.
  virtual bool record(const LASpoint& read, const LASpoint& written);
  // Only the delete layer answers true, for the point it just recorded.
  virtual bool last_point_deleted() const { return false; }
  // A point an earlier layer deleted: the layer records nothing for it, but
  // a layer that counts points counts it.
  virtual void skip_point() {}
  // Ends the data, writes a buffered layer to `stream`, lets the layer update
  // the header, then patches the size and rewrites the header modifications.
  // The stream is left at its end.
  bool done_writing(ByteStreamOut* stream);

  // ---- reading side (the layer header was read by read_tierling)
  // The data starts at the stream's current position.
  bool start_reading(ByteStreamIn* stream);
  // Layers that add attributes extend the point's layout.
  virtual bool adjust_point(LASpoint* point);
  // Applies the layer to the next point. A layer that deletes sets the
  // point's deleted marker.
  virtual bool apply(LASpoint* point);
  // Append layers deliver their stored points after the file's own ones;
  // false when there is none (more).
  virtual bool next_appended_point(LASpoint* point);
  virtual bool done_reading();

  // ---- layer record (file format)
  // Layer header, header modifications, ignore words, description and
  // specialized header; remembers where the layer starts.
  bool write_layer_header(ByteStreamOut* stream);
  // The part after the fixed 44 bytes of a layer starting at `start`; the
  // codes were read by read_tierling.
  bool read_layer_header_rest(ByteStreamIn* stream, I64 start, U64 size, U32 modification_mask,
                              U32 ignore_mask, U32 description_size, U32 header_size);
  virtual bool write_specialized_header(ByteStreamOut* stream) const;
  virtual bool read_specialized_header(ByteStreamIn* stream);

  // A specialized header declaring more bytes than its class knows: skips
  // the `offset_to_data - consumed` bytes that follow the known fields
  // (`consumed` counts offset_to_data itself). False when offset_to_data is
  // below `consumed` or the bytes are missing.
  static bool skip_specialized_rest(ByteStreamIn* stream, U32 offset_to_data, U32 consumed);
  // Specialized headers of offset_to_data (u16) and one-byte fields, named
  // in messages with the layer's `kind`. Reading refuses an offset_to_data
  // below the fields and skips what follows them.
  static bool write_byte_fields(ByteStreamOut* stream, const char* kind, const U8* values,
                                const char* const* names, U32 count);
  static bool read_byte_fields(ByteStreamIn* stream, const char* kind, U8* values,
                               const char* const* names, U32 count);
  // Reads one field of a specialized header; the end of the data gives the
  // field's error line.
  template <typename Read>
  static bool read_field(Read read, const char* kind, const char* field) {
    try {
      read();
      return true;
    } catch (const EndOfData&) {
      print_error("reading layer %s specialized header %s\n", kind, field);
      return false;
    }
  }

 protected:
  // Subclass hooks around the per-point data (none for layers without
  // any). The data stream is the TRL stream or the layer's buffer.
  virtual bool start_writing_data(ByteStreamOut* data);
  virtual bool end_writing_data();
  virtual bool start_reading_data(ByteStreamIn* data);
  // Called before the header modifications are rewritten.
  virtual void update_header(LASheader* header);

  bool excluded(const LASpoint& point) const { return !is_empty() && ignore(point); }
  ByteStreamOut* data_out() const { return data_out_; }
  ByteStreamIn* data_in() const { return data_in_; }

 private:
  bool write_modifications(ByteStreamOut* stream) const;
  bool read_modifications(ByteStreamIn* stream);

  U32 type_;
  U32 fields_;
  U32 compression_;
  U32 modification_mask_ = 0;
  U32 header_size_ = trl::kLayerHeaderSize;
  U64 start_position_ = 0;
  U64 size_ = 0;
  std::string description_;
  LASheader* header_ = nullptr;
  ByteStreamOut* data_out_ = nullptr;
  ByteStreamIn* data_in_ = nullptr;
  std::unique_ptr<ByteStreamOutArrayLE> buffer_;
};
