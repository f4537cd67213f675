// A writer that writes no point file: its layers record how every point
// written differs from the point as read, and land in the TRL file of the
// input, new or appended to an existing one.
//
//   Amendor amendor(&header);
//   amendor.replace_field("classification", 0x30, text, 3, params);
//   amendor.open(input_name, reader, append, false, 65536);
//   while (reader->read_point()) { ...change scratch...; amendor.write_point(&scratch); }
//   amendor.close();
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "las/core/bytestream_inout.hpp"
#include "las/io/lasreader.hpp"
#include "las/io/laswriter.hpp"
#include "las/layers/tierling.hpp"

class Amendor : public LASwriter {
 public:
  // The output header is not owned and must outlive the Amendor; later
  // header updates are copied into it and the layers take their header
  // modifications from it.
  explicit Amendor(LASheader* header);
  ~Amendor() override;

  // ---- before open(): one layer per call. The parameters hold the layer's
  // values and then its ignore rules (as 64-bit floats).
  bool delete_points(U32 modification_mask, const char* description, U32 num_parameters,
                     const F64* parameters);
  // "classification": a count c, c class codes, allow_unchanged (optional),
  // the ignore rules. "user_data": min, max (defaults 0, 255), the rules.
  // "intensity": uses both bytes, uses the lower byte, the rules. "Z", the
  // four flags and "extended LAS 1.4 attributes": the rules only.
  bool replace_field(const char* field, U32 modification_mask, const char* description,
                     U32 num_parameters, const F64* parameters);
  bool filter_points(const char* text, U32 modification_mask, const char* description);
  bool transform_points(const char* text, U32 modification_mask, const char* description);
  // Where TRL files go; nullptr or "" puts them beside their inputs.
  void set_directory(const char* directory);
  // Files a layers file must never replace (the run's inputs); the input
  // given to open() is always one.
  void set_protected_files(std::vector<std::string> names) { protected_ = std::move(names); }

  // Opens the TRL file of `file_name` for the points of `reader` (not owned;
  // it must stay open while points are written). With `append` the layers
  // go after the existing ones (after the loaded ones when the reader
  // applies layers); a missing file is created. Unless `buffer_all_layers`
  // the first layer writes straight into the file.
  bool open(const char* file_name, const LASreader* reader, bool append, bool buffer_all_layers,
            U32 stream_buffer_size);

  // The point as it is to be written; the reader's current point is the
  // point as read.
  bool write_point(const LASpoint* point) override;
  bool chunk() override { return true; }
  bool update_header(const LASheader* header, bool use_inventory = false,
                     bool update_extra_bytes = false) override;
  // Finishes the layers and the file; the number of bytes added.
  I64 close(bool update_npoints = true) override;
  // Gives up the layers being written: a new file is never put in place, an
  // existing one is cut back to the layers it had. For runs that failed;
  // an Amendor destroyed while still open discards too.
  void discard();

  bool is_open() const { return file_ != nullptr; }
  const std::string& get_file_name() const { return file_name_; }
  U32 get_layer_count() const { return U32(layers_.size()); }
  U32 get_existing_layers() const { return existing_layers_; }

 private:
  bool add(std::unique_ptr<Tierling> layer, U32 modification_mask, const char* description);
  bool before_open(const char* operation) const;
  bool open_file(bool append, bool* created);
  bool find_append_position(const LASreader* reader, const LASheader& point_header);
  void close_file();

  LASheader* header_;
  std::vector<std::unique_ptr<Tierling>> layers_;
  std::string directory_;
  std::vector<std::string> protected_;
  std::string file_name_;
  std::string write_name_;  // file_name_, or a new file's name until it is complete
  FILE* file_ = nullptr;
  std::unique_ptr<ByteStreamInOutFileLE> stream_;
  bool created_ = false;
  const LASreader* reader_ = nullptr;
  U32 existing_layers_ = 0;
  I64 start_ = 0;
  I64 expected_ = 0;
};
