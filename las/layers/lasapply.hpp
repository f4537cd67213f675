// A reader that wraps the reader of a point file and delivers its points
// with the layers of the file's TRL file applied. It takes over the wrapped
// reader's area query, filter, transform and ignore rules, so that those act
// on the points after the layers.
//
//   LASapply apply;
//   apply.set_directory(dir);
//   if (apply.open(name, std::move(reader), 65536) && apply.load(count)) read from apply
//   else reader = apply.release_reader();   // the plain reader, as it was
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "las/core/bytestream_in.hpp"
#include "las/io/lasreader.hpp"
#include "las/layers/tierling.hpp"
#include "las/layers/trl_file.hpp"

class LASapply : public LASreader {
 public:
  LASapply();
  ~LASapply() override;

  // Where TRL files are looked for; nullptr or "" means beside the inputs.
  void set_directory(const char* directory);
  // Opens the TRL file of `file_name` and checks it against the header of
  // `reader`, which the LASapply then owns (also when opening fails; see
  // release_reader).
  bool open(const char* file_name, std::unique_ptr<LASreader> reader, U32 stream_buffer_size);
  // Loads the first `count` layers of the file; a negative count -k all but
  // the last k, a count beyond the file's layers all of them.
  bool load(I32 count);
  // Gives the wrapped reader back with its area query, filter, transform
  // and ignore rules restored, for reading without layers after open() or
  // load() failed. The LASapply is empty afterwards.
  std::unique_ptr<LASreader> release_reader();

  LASreader* get_reader() const { return reader_.get(); }
  const std::string& get_file_name() const { return file_name_; }
  U32 get_file_layers() const { return file_header_.num_layers; }
  U32 get_loaded_layers() const { return loaded_; }
  // Where the layers begin and where the last loaded layer ends.
  U64 get_layers_start() const { return layers_start_; }
  U64 get_layers_end() const { return layers_end_; }

  I32 get_format() const override;
  bool has_layers() const override { return true; }
  // Layers decode in sequence, so the points cannot be reached out of order.
  bool seek(I64 index) override;
  // No single stream holds the points delivered.
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(bool close_stream = true) override;

 protected:
  bool fetch_point() override;

 private:
  struct Taken {
    U32 inside = 0;
    F32 t_ll_x = 0, t_ll_y = 0, t_size = 0;
    F64 c_center_x = 0, c_center_y = 0, c_radius = 0;
    F64 r_min_x = 0, r_min_y = 0, r_max_x = 0, r_max_y = 0;
    LASfilter* filter = nullptr;
    LAStransform* transform = nullptr;
    LASignore* ignore = nullptr;
    bool taken = false;
    // Starts the same query on `target`.
    void query(LASreader& target) const;
  };
  // A TRL file handle with its stream; layer 0 reads from the main one.
  struct Handle {
    FILE* file = nullptr;
    std::unique_ptr<ByteStreamInFileLE> stream;
  };

  bool open_handle(Handle* handle, U32 buffer_size);
  void close_handle(Handle* handle);
  void drop_layers();
  void take_over_reader();
  void restore_reader();
  // The own header and point as the wrapped reader's, without layers.
  bool reset_header();
  int apply_from(size_t first);

  std::unique_ptr<LASreader> reader_;
  std::string directory_;
  std::string file_name_;
  U32 buffer_size_ = 65536;
  Handle main_;
  std::vector<Handle> handles_;  // of layers 1 and later
  trl::FileHeader file_header_;
  U64 layers_start_ = 0;
  U64 layers_end_ = 0;
  U64 file_size_ = 0;
  U32 loaded_ = 0;
  std::vector<std::unique_ptr<Tierling>> layers_;
  std::vector<size_t> appending_;  // indices of the append layers among them
  bool reader_done_ = false;
  Taken taken_;
};
