// Many point files of one format read as one input with one merged header.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "las/io/lasreader.hpp"

class LASreaderLAS;

// The kinds of point input, told apart by the file name.
enum class LASinputKind { LAS, BIN, SHP, ASC, BIL, DTM, PLY, QFIT, TXT };

// The kind of the first of these substrings found anywhere in the name:
// ".las"/".vzk" (and upper case), ".bin", ".shp", ".asc", ".bil", ".dtm",
// ".ply", ".qi"; anything else is text.
LASinputKind las_input_kind(const char* name);
// "LAS", "BIN", ... as used in messages.
const char* las_input_kind_name(LASinputKind kind);
// "lasreaderlas", "lasreaderbin", ... as used in messages.
const char* las_input_reader_name(LASinputKind kind);

class LASreaderMerged : public LASreader {
 public:
  LASreaderMerged();
  ~LASreaderMerged() override;

  // False (after an error) for a name that cannot be opened for reading or
  // whose kind differs from the files already added.
  bool add_file_name(const char* name);
  bool add_file_name(const char* name, U32 file_ID);
  size_t get_file_count() const { return names.size(); }

  // Scale factors of 0 leave that axis as the files have it.
  void set_scale_factor(F64 x, F64 y, F64 z);
  void set_offset(F64 x, F64 y, F64 z);
  void set_io_ibuffer_size(I32 size) { io_ibuffer_size = size; }
  // The point source operation of the transform set with set_transform gets
  // each file's flightline number (start + file index, or file ID + 1).
  void set_files_are_flightlines(I32 start) { files_are_flightlines = start; }
  void set_apply_file_source_ID(bool on) { apply_file_source_ID = on; }

  bool open();
  bool reopen();

  I32 get_format() const override;
  // Kept here and handed to each file's reader when it is opened.
  void set_filter(LASfilter* filter) override;
  void set_transform(LAStransform* transform) override;
  bool inside_none() override;
  bool inside_tile(F32 ll_x, F32 ll_y, F32 size) override;
  bool inside_circle(F64 center_x, F64 center_y, F64 radius) override;
  bool inside_rectangle(F64 min_x, F64 min_y, F64 max_x, F64 max_y) override;
  bool seek(I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(bool close_stream = true) override;

  // Whether the files are read into other scale factors or offsets.
  bool is_rescaled() const { return rescale; }
  bool is_reoffset() const { return reoffset; }

 protected:
  bool fetch_point() override;

 private:
  struct Box {
    F64 min_x, min_y, max_x, max_y;
  };
  bool add(const char* name, bool with_id, U32 file_ID);
  void drop_file(size_t index);
  bool open_next_file();
  bool outside_query(const Box& box) const;
  bool fit_quantization();
  std::unique_ptr<LASreaderLAS> make_reader() const;

  std::vector<std::string> names;
  std::vector<U32> file_ids;
  bool with_ids = false;
  bool kind_set = false;
  LASinputKind kind = LASinputKind::LAS;
  std::vector<Box> boxes;
  std::unique_ptr<LASreaderLAS> reader;
  bool reader_open = false;
  size_t next_file = 0;

  F64 requested_scale[3] = {0, 0, 0};
  F64 requested_offset[3] = {0, 0, 0};
  bool requested_reoffset = false;
  I32 io_ibuffer_size = 262144;
  I32 files_are_flightlines = 0;
  bool apply_file_source_ID = false;

  bool rescale = false;
  bool reoffset = false;
  bool warned_point_type = false;
  bool warned_point_size = false;
  bool warned_attributes = false;

  LASfilter* kept_filter = nullptr;
  LAStransform* kept_transform = nullptr;
};
