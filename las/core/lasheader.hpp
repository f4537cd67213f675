// The in-memory description of one point file: public header block, VLRs,
// EVLRs, user data and parsed views of the records the library understands.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "las/core/lasattribute.hpp"
#include "las/core/laspoint.hpp"
#include "las/core/types.hpp"

class Vorzak;

// One VLR (54-byte header when stored) or EVLR (60-byte header).
// Invariant: data.size() == record_length_after_header.
class LASvlrRecord {
 public:
  U16 reserved = 0;
  char user_id[16] = {};
  U16 record_id = 0;
  U64 record_length_after_header = 0;  // 16 bits for a VLR
  char description[32] = {};
  std::vector<U8> data;

  // Compares by the field's 16 bytes, never past them.
  bool has_user_id(const char* id) const;
  bool is(const char* id, U16 record) const { return record_id == record && has_user_id(id); }
  std::string get_user_id() const;
  std::string get_description() const;
  // Copies at most 16 characters (zero-padded).
  void set_user_id(const char* id);
  // Copies at most 31 characters so that the text stays terminated.
  void set_description(const char* text);
};

// Directory header at the start of a GeoKeyDirectoryTag payload.
struct LASvlrGeoKeys {
  U16 key_directory_version;
  U16 key_revision;
  U16 minor_revision;
  U16 number_of_keys;
};

struct LASvlrKeyEntry {
  U16 key_id;
  U16 tiff_tag_location;
  U16 count;
  U16 value_offset;
};

struct LASvlrClassification {
  U8 class_number;
  char description[15];
};

// One LASF_Spec wave packet descriptor (stored as 26 unaligned bytes).
struct LASvlrWavePacketDescr {
  U8 bits_per_sample = 0;
  U8 compression_type = 0;
  U32 number_of_samples = 0;
  U32 temporal_spacing = 0;
  F64 digitizer_gain = 0.0;
  F64 digitizer_offset = 0.0;
  static LASvlrWavePacketDescr parse(const U8* bytes);
};

// Tiling record ("Quintrel" 10), 28 bytes when stored.
struct LASvlrParcelgrid {
  U32 level = 0;
  U32 level_index = 0;
  U32 implicit_levels = 0;  // 30 bits
  bool buffer = false;
  bool reversible = false;
  F32 min_x = 0.0f;
  F32 max_x = 0.0f;
  F32 min_y = 0.0f;
  F32 max_y = 0.0f;
};

// Original counts and bounding box ("Quintrel" 20), 176 bytes when stored.
struct LASvlrLasoriginal {
  I64 number_of_point_records = 0;
  I64 number_of_points_by_return[15] = {};
  F64 min_x = 0.0;
  F64 max_x = 0.0;
  F64 min_y = 0.0;
  F64 max_y = 0.0;
  F64 min_z = 0.0;
  F64 max_z = 0.0;
  I64 position = 0;  // where a writer put its data, for rewriting on close
};

class LASheader : public LASscaleOffset, public LASattributeSet {
 public:
  char file_signature[4] = {'L', 'A', 'S', 'F'};
  U16 file_source_ID = 0;
  U16 global_encoding = 0;
  U32 project_ID_GUID_data_1 = 0;
  U16 project_ID_GUID_data_2 = 0;
  U16 project_ID_GUID_data_3 = 0;
  U8 project_ID_GUID_data_4[8] = {};
  U8 version_major = 1;
  U8 version_minor = 2;
  char system_identifier[32] = {};
  char generating_software[32] = {};
  U16 file_creation_day = 0;
  U16 file_creation_year = 0;
  U16 header_size = 227;
  U32 offset_to_point_data = 227;
  U32 number_of_variable_length_records = 0;
  U8 point_data_format = 0;
  U16 point_data_record_length = 20;
  U32 number_of_point_records = 0;
  U32 number_of_points_by_return[5] = {};
  F64 max_x = 0.0;
  F64 min_x = 0.0;
  F64 max_y = 0.0;
  F64 min_y = 0.0;
  F64 max_z = 0.0;
  F64 min_z = 0.0;
  U64 start_of_waveform_data_packet_record = 0;
  U64 start_of_first_extended_variable_length_record = 0;
  U32 number_of_extended_variable_length_records = 0;
  U64 extended_number_of_point_records = 0;
  U64 extended_number_of_points_by_return[15] = {};

  U32 user_data_in_header_size = 0;
  std::vector<U8> user_data_in_header;

  std::vector<LASvlrRecord> vlrs;
  std::vector<LASvlrRecord> evlrs;

  // Views into record payloads (not owned). They are cleared or re-derived
  // whenever records are added, replaced or removed. Counts are what the
  // payload really holds, which may be fewer than a directory declares.
  const LASvlrGeoKeys* vlr_geo_keys = nullptr;
  const LASvlrKeyEntry* geo_key_entries = nullptr;
  U32 geo_key_count = 0;
  const F64* geo_double_params = nullptr;
  U32 geo_double_params_count = 0;
  const char* geo_ascii_params = nullptr;
  U64 geo_ascii_params_size = 0;
  const char* wkt_math_transform = nullptr;
  U64 wkt_math_transform_size = 0;
  const char* wkt_coordinate_system = nullptr;
  U64 wkt_coordinate_system_size = 0;
  const LASvlrClassification* classification_lookup = nullptr;
  U32 classification_lookup_count = 0;
  // 256 entries once the first descriptor is seen; each points to at least 26 bytes.
  std::vector<const U8*> wave_packet_descriptors;

  // Only a shared_ptr so that this layer need not know the codec type; the
  // header is its one owner (take_over moves it).
  std::shared_ptr<Vorzak> compressor_record;
  std::unique_ptr<LASvlrParcelgrid> vlr_parcelgrid;
  std::unique_ptr<LASvlrLasoriginal> vlr_lasoriginal;

  U32 user_data_after_header_size = 0;
  std::vector<U8> user_data_after_header;

  LASheader() = default;
  ~LASheader() = default;
  // Views point into this header's records, so headers are moved with
  // take_over or duplicated with copy_from, never copied implicitly.
  LASheader(const LASheader&) = delete;
  LASheader& operator=(const LASheader&) = delete;

  void reset();
  bool check() const;

  // Takes ownership of `data` (whose size is the record length). Refuses a
  // payload over 65535 bytes or one that would push the point data offset
  // past 32 bits; nothing changes on failure.
  bool add_vlr(const char* user_id, U16 record_id, std::vector<U8> data,
               const char* description = nullptr, bool append = false);
  bool remove_vlr(U32 index);
  bool remove_vlr(const char* user_id, U16 record_id);
  // Index of the first matching VLR, or -1.
  I32 find_vlr(const char* user_id, U16 record_id) const;

  bool set_geo_keys(I32 number_of_keys, const LASvlrKeyEntry* entries);
  bool set_geo_double_params(I32 count, const F64* values);
  bool update_attributes_vlr();

  bool save_original();
  bool restore_original();

  // Moves every record, view and sub-record of `other` into this header;
  // `other` is left reset.
  void take_over(LASheader& other);
  // Deep copy with views re-derived from the copied records.
  void copy_from(const LASheader& other);

  // Sets the views, attributes and wave packet table from one record, as a
  // reader does when it meets the record. With `verbose` the anomalies are
  // reported as warnings.
  void interpret_record(const LASvlrRecord& record, bool extended, bool verbose);
  // Re-derives all views from the current records (attributes untouched).
  void refresh_views();

  bool get_wave_packet_descriptor(U32 index, LASvlrWavePacketDescr* descr) const;

  // Field lengths of the stored header for a version.
  static U16 fields_size(U8 version_minor);

 private:
  void clear_views();
  void interpret(const LASvlrRecord& record, bool extended, bool verbose, bool with_attributes);
  void sync_attributes_from_record(const LASvlrRecord& record);
};
