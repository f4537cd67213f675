#include "las/layers/lasapply.hpp"

#include <cinttypes>

#include "las/core/messages.hpp"
#include "las/core/platform.hpp"
#include "las/core/types.hpp"

LASapply::LASapply() = default;

LASapply::~LASapply() {
  drop_layers();
  close_handle(&main_);
}

void LASapply::set_directory(const char* directory) {
  directory_ = directory ? directory : "";
}

bool LASapply::open_handle(Handle* handle, U32 buffer_size) {
  handle->file = platform::open_file(file_name_.c_str(), "rb");
  if (!handle->file) {
    print_error("cannot open file '%s'\n", file_name_.c_str());
    return false;
  }
  if (setvbuf(handle->file, nullptr, _IOFBF, buffer_size) != 0) {
    print_warning("setvbuf() failed with buffer size %u\n", buffer_size);
  }
  handle->stream = std::make_unique<ByteStreamInFileLE>(handle->file);
  return true;
}

void LASapply::close_handle(Handle* handle) {
  handle->stream.reset();
  if (handle->file) fclose(handle->file);
  handle->file = nullptr;
}

void LASapply::drop_layers() {
  for (auto& layer : layers_) layer->done_reading();
  appending_.clear();
  layers_.clear();
  for (Handle& h : handles_) close_handle(&h);
  handles_.clear();
}

void LASapply::take_over_reader() {
  if (taken_.taken) return;
  LASreader& r = *reader_;
  taken_.inside = r.get_inside();
  taken_.t_ll_x = r.get_t_ll_x();
  taken_.t_ll_y = r.get_t_ll_y();
  taken_.t_size = r.get_t_size();
  taken_.c_center_x = r.get_c_center_x();
  taken_.c_center_y = r.get_c_center_y();
  taken_.c_radius = r.get_c_radius();
  taken_.r_min_x = r.get_r_min_x();
  taken_.r_min_y = r.get_r_min_y();
  taken_.r_max_x = r.get_r_max_x();
  taken_.r_max_y = r.get_r_max_y();
  taken_.filter = r.get_filter();
  taken_.transform = r.get_transform();
  taken_.ignore = r.get_ignore();
  taken_.taken = true;
  // Ending the query first gives the wrapped header back its own bounds.
  if (taken_.inside) r.inside_none();
  r.set_filter(nullptr);
  r.set_transform(nullptr);
  r.set_ignore(nullptr);
}

void LASapply::Taken::query(LASreader& target) const {
  if (inside == 1) {
    target.inside_tile(t_ll_x, t_ll_y, t_size);
  } else if (inside == 2) {
    target.inside_circle(c_center_x, c_center_y, c_radius);
  } else if (inside == 3) {
    target.inside_rectangle(r_min_x, r_min_y, r_max_x, r_max_y);
  }
}

void LASapply::restore_reader() {
  if (!taken_.taken || !reader_) return;
  LASreader& r = *reader_;
  r.set_filter(taken_.filter);
  r.set_transform(taken_.transform);
  r.set_ignore(taken_.ignore);
  taken_.query(r);
  taken_ = Taken();
}

bool LASapply::reset_header() {
  inside_none();
  // A copy, not a take-over: the wrapped reader stays whole, so that it can
  // be given back and read without layers.
  header.copy_from(reader_->header);
  if (!point.init_layout(&header, header.point_data_format, header.point_data_record_length,
                         &header)) {
    return false;
  }
  point_count = header.number_of_point_records ? I64(header.number_of_point_records)
                                               : I64(header.extended_number_of_point_records);
  points_read = 0;
  return true;
}

bool LASapply::open(const char* file_name, std::unique_ptr<LASreader> reader,
                    U32 stream_buffer_size) {
  if (!reader) {
    print_error("LASreader pointer is zero\n");
    return false;
  }
  // A reader given before goes back to how it was and is dropped.
  if (reader_) {
    drop_layers();
    close_handle(&main_);
    restore_reader();
  }
  reader_ = std::move(reader);
  clear_status();
  reader_done_ = false;
  if (file_name == nullptr) {
    print_error("file name pointer is zero\n");
    return false;
  }
  file_name_ = trl::file_name(file_name, directory_.empty() ? nullptr : directory_.c_str());
  buffer_size_ = stream_buffer_size;
  if (!open_handle(&main_, stream_buffer_size)) return false;

  drop_layers();
  loaded_ = 0;
  file_header_ = trl::FileHeader();
  if (!trl::check_file_header(main_.stream.get(), reader_->header, false, &file_header_)) {
    print_error("reading and checking TRL header\n");
    close_handle(&main_);
    return false;
  }
  layers_start_ = U64(main_.stream->tell());
  layers_end_ = layers_start_;
  // Layer sizes are checked against the file's size, so it must be known.
  file_size_ = 0;
  const I64 end = platform::seek(main_.file, 0, SEEK_END) ? platform::tell(main_.file) : -1;
  if (end >= 0) file_size_ = U64(end);
  if (end < I64(layers_start_) || !main_.stream->seek(I64(layers_start_))) {
    print_error("reading and checking TRL header\n");
    close_handle(&main_);
    return false;
  }

  take_over_reader();
  if (!reset_header()) {
    close_handle(&main_);
    return false;
  }
  set_filter(taken_.filter);
  set_transform(taken_.transform);
  set_ignore(taken_.ignore);
  taken_.query(*this);
  return true;
}

bool LASapply::load(I32 count) {
  if (!reader_ || !main_.stream) {
    print_error("no TRL file is open\n");
    return false;
  }
  drop_layers();
  loaded_ = 0;
  layers_end_ = layers_start_;
  const U32 in_file = file_header_.num_layers;
  U32 wanted;
  if (count < 0) {
    const I64 but = -I64(count);
    wanted = but >= I64(in_file) ? 0 : U32(I64(in_file) - but);
  } else {
    wanted = U32(count) > in_file ? in_file : U32(count);
  }
  if (wanted == 0) return true;

  bool ok = true;
  U64 position = layers_start_;
  for (U32 k = 0; k < wanted && ok; k++) {
    ByteStreamIn* stream = main_.stream.get();
    if (k > 0) {
      handles_.emplace_back();
      if (!open_handle(&handles_.back(), buffer_size_)) {
        ok = false;
        break;
      }
      stream = handles_.back().stream.get();
    }
    // Layers begin where the one before ends; each has its own handle so
    // that all of them can be decoded side by side.
    if (position > U64(INT64_MAX) || !stream->seek(I64(position))) {
      print_error("loading Tierling %u of %u\n", k + 1, wanted);
      ok = false;
      break;
    }
    std::unique_ptr<Tierling> layer = trl::read_tierling(stream, &header);
    // A layer must hold at least its fixed header and lie within the file.
    if (layer && (layer->get_size() < trl::kLayerHeaderSize || position > file_size_ ||
                  layer->get_size() > file_size_ - position)) {
      print_error("layer %u of %u claims %" PRIu64 " bytes but the file has %" PRIu64
                  " after its start\n",
                  k + 1, wanted, layer->get_size(), file_size_ - position);
      layer.reset();
    }
    if (!layer) {
      print_error("loading Tierling %u of %u\n", k + 1, wanted);
      ok = false;
      break;
    }
    if (!layer->start_reading(stream)) {
      print_error("initializing Tierling %u of %u\n", k + 1, wanted);
      ok = false;
      break;
    }
    if (!layer->adjust_point(&point)) {
      print_error("updating LASpoint for Tierling %u of %u\n", k + 1, wanted);
      ok = false;
      break;
    }
    position = layer->get_start_position() + layer->get_size();
    if (layer->get_type() == trl::kAppend) appending_.push_back(layers_.size());
    layers_.push_back(std::move(layer));
  }
  if (!ok) {
    // Back to the points as the file holds them.
    drop_layers();
    reset_header();
    taken_.query(*this);
    return false;
  }
  loaded_ = wanted;
  layers_end_ = position;
  // Layers that delete or append points record the new counts.
  point_count = header.number_of_point_records ? I64(header.number_of_point_records)
                                               : I64(header.extended_number_of_point_records);
  return true;
}

std::unique_ptr<LASreader> LASapply::release_reader() {
  drop_layers();
  close_handle(&main_);
  restore_reader();
  set_filter(nullptr);
  set_transform(nullptr);
  set_ignore(nullptr);
  inside_none();
  return std::move(reader_);
}

I32 LASapply::get_format() const {
  return reader_ ? reader_->get_format() : 1;
}

bool LASapply::seek(I64 index) {
  if (index == points_read) return true;
  print_error("cannot seek to point %" PRId64 " with layers applied\n", index);
  return false;
}

void LASapply::close(bool close_stream) {
  if (reader_) reader_->close(close_stream);
  // The count and end of the loaded layers stay known for an appending writer.
  drop_layers();
  close_handle(&main_);
}

// 1: the point stays, 0: a layer deleted it, -1: a layer failed.
int LASapply::apply_from(size_t first) {
  for (size_t k = first; k < layers_.size(); k++) {
    if (!layers_[k]->apply(&point)) {
      print_error("applying Tierling %u of %u to point %" PRId64 "\n", unsigned(k + 1),
                  unsigned(layers_.size()), points_read);
      set_failed();
      return -1;
    }
    // Later layers never saw a deleted point when they were written.
    if (point.marked_deleted) return 0;
  }
  return 1;
}

bool LASapply::fetch_point() {
  if (!reader_) return false;
  try {
    while (!reader_done_) {
      if (!reader_->read_point()) {
        if (reader_->failed()) set_failed();
        if (reader_->truncated()) set_truncated();
        reader_done_ = true;
        break;
      }
      point.copy_from(reader_->point);
      const int kept = apply_from(0);
      if (kept > 0) {
        points_read++;
        return true;
      }
      if (kept < 0) return false;
    }
    if (failed()) return false;
    // The file's own points are done: the append layers deliver theirs.
    for (;;) {
      int kept = -2;
      for (size_t index : appending_) {
        point.marked_deleted = 0;
        if (layers_[index]->next_appended_point(&point)) {
          kept = apply_from(index + 1);
          break;
        }
      }
      if (kept == -2 || kept < 0) return false;
      if (kept > 0) {
        points_read++;
        return true;
      }
    }
  } catch (const EndOfData&) {
    print_error("layer data ended early at point %" PRId64 "\n", points_read);
  } catch (const DecodingError&) {
    print_error("corrupt layer data at point %" PRId64 "\n", points_read);
  }
  set_failed();
  return false;
}
