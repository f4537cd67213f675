#include "las/layers/amendor.hpp"

#include <cinttypes>
#include <cmath>
#include <cstring>

#include "las/core/messages.hpp"
#include "las/core/platform.hpp"
#include "las/filter/lasfilter.hpp"
#include "las/layers/lasapply.hpp"
#include "las/layers/tierling_other.hpp"
#include "las/layers/tierling_replace.hpp"
#include "las/layers/trl_file.hpp"
#include "las/transform/lastransform.hpp"

namespace {

// A parameter that must be a whole number in [low, high].
bool whole(F64 value, F64 low, F64 high, U32* out) {
  if (!(value >= low && value <= high) || std::floor(value) != value) return false;
  *out = U32(value);
  return true;
}

// Layer classes may hide the name with a per-point decode of their own.
bool decode_rules(LASignore& rules, U32* position, U32 length, const F64* list) {
  return rules.decode(position, length, list);
}

}  // namespace

Amendor::Amendor(LASheader* header) : header_(header) {}

// Only a run that broke off leaves an Amendor open: its layers are not
// complete and must not be finished into the file.
Amendor::~Amendor() {
  discard();
}

bool Amendor::before_open(const char* operation) const {
  if (!is_open()) return true;
  print_error("cannot call %s() after open()\n", operation);
  return false;
}

bool Amendor::add(std::unique_ptr<Tierling> layer, U32 modification_mask, const char* description) {
  layer->set_header(header_);
  layer->set_modification_mask(modification_mask);
  layer->set_description(description ? description : "");
  layers_.push_back(std::move(layer));
  return true;
}

bool Amendor::delete_points(U32 modification_mask, const char* description, U32 num_parameters,
                            const F64* parameters) {
  if (!before_open("delete_points")) return false;
  auto layer = std::make_unique<TierlingDeletePointsCompressed>();
  U32 position = 0;
  if ((num_parameters && !parameters) ||
      !decode_rules(*layer, &position, num_parameters, parameters)) {
    print_error("adding layer[%d] delete_points\n", int(layers_.size()));
    return false;
  }
  // The layer's counts and bounds reach the file only through the mask;
  // without them a reader of the layers would announce the deleted points.
  U32 counts = 0x1000 | 0x2000 | 0x100000 | 0x200000 | 0x400000;
  if (header_ && header_->version_minor >= 4) counts |= 0x4000000 | 0x8000000;
  return add(std::move(layer), modification_mask | counts, description);
}

bool Amendor::replace_field(const char* field, U32 modification_mask, const char* description,
                            U32 num_parameters, const F64* parameters) {
  if (!before_open("replace_field")) return false;
  const int index = int(layers_.size());
  const char* name = field ? field : "";
  const U32 n = parameters ? num_parameters : 0;
  const F64* p = parameters;
  U32 position = 0;
  std::unique_ptr<Tierling> layer;
  bool values_ok = true;
  if (strcmp(name, "classification") == 0) {
    std::vector<U8> classes;
    bool allow_unchanged = false;
    if (n > 0) {
      U32 count = 0;
      values_ok = whole(p[0], 0, 256, &count) && count <= n - 1;
      position = 1;
      for (U32 k = 0; values_ok && k < count; k++) {
        U32 code = 0;
        values_ok = whole(p[position++], 0, 255, &code);
        classes.push_back(U8(code));
      }
      if (values_ok && position < n) allow_unchanged = p[position++] != 0.0;
    }
    if (values_ok) {
      layer = std::make_unique<TierlingReplaceClassificationCompressed>(std::move(classes),
                                                                        allow_unchanged);
    }
  } else if (strcmp(name, "user_data") == 0) {
    U32 min_value = 0, max_value = 255;
    if (n > 0) values_ok = whole(p[0], 0, 255, &min_value);
    if (values_ok && n > 1) values_ok = whole(p[1], 0, 255, &max_value);
    position = n < 2 ? n : 2;
    if (values_ok && min_value <= max_value) {
      layer = std::make_unique<TierlingReplaceUserDataCompressed>(U8(min_value), U8(max_value));
    } else {
      values_ok = false;
    }
  } else if (strcmp(name, "intensity") == 0) {
    values_ok = n >= 2;
    if (values_ok) {
      layer = std::make_unique<TierlingReplaceIntensityCompressed>(p[0] != 0.0, p[1] != 0.0);
      position = 2;
    }
  } else if (strcmp(name, "Z") == 0) {
    layer = std::make_unique<TierlingReplaceZCompressed>();
  } else if (strcmp(name, "withheld_flag") == 0) {
    layer = std::make_unique<TierlingReplaceWithheldFlagCompressed>();
  } else if (strcmp(name, "synthetic_flag") == 0) {
    layer = std::make_unique<TierlingReplaceSyntheticFlagCompressed>();
  } else if (strcmp(name, "keypoint_flag") == 0) {
    layer = std::make_unique<TierlingReplaceKeypointFlagCompressed>();
  } else if (strcmp(name, "overlap_flag") == 0) {
    layer = std::make_unique<TierlingReplaceOverlapFlagCompressed>();
  } else if (strcmp(name, "extended LAS 1.4 attributes") == 0) {
    layer = std::make_unique<TierlingReplaceExtendedLAS14AttributesCompressed>();
  } else {
    print_error("changing field '%s' not supported.\n", name);
    return false;
  }
  if (!values_ok || !layer || !decode_rules(*layer, &position, n, p)) {
    print_error("adding layer[%d] replace '%s'\n", index, name);
    return false;
  }
  return add(std::move(layer), modification_mask, description);
}

bool Amendor::filter_points(const char* text, U32 modification_mask, const char* description) {
  if (!before_open("filter_points")) return false;
  if (!text || !text[0]) {
    print_error("adding layer[%d] filter_points\n", int(layers_.size()));
    return false;
  }
  return add(std::make_unique<TierlingFilter>(text), modification_mask, description);
}

bool Amendor::transform_points(const char* text, U32 modification_mask, const char* description) {
  if (!before_open("transform_points")) return false;
  if (!text || !text[0]) {
    print_error("adding layer[%d] transform_points\n", int(layers_.size()));
    return false;
  }
  return add(std::make_unique<TierlingTransform>(text), modification_mask, description);
}

void Amendor::set_directory(const char* directory) {
  directory_ = directory ? directory : "";
}

bool Amendor::open_file(bool append, bool* created) {
  *created = false;
  write_name_ = file_name_;
  if (append) {
    file_ = platform::open_file(file_name_.c_str(), "r+b");
    // An existing file that cannot be opened is not replaced.
    if (!file_ && platform::file_exists(file_name_.c_str())) {
      print_error("cannot open file '%s'\n", file_name_.c_str());
      return false;
    }
  }
  if (!file_) {
    // A new file is written under a name of its own and replaces an older
    // one only once complete, so that a failed run keeps the old layers.
    write_name_ = file_name_ + "." + std::to_string(platform::process_id()) + ".tmp";
    file_ = platform::open_file(write_name_.c_str(), "w+b");
    *created = file_ != nullptr;
  }
  if (!file_) {
    print_error("cannot open file '%s'\n", file_name_.c_str());
    return false;
  }
  return true;
}

void Amendor::close_file() {
  stream_.reset();
  if (file_) fclose(file_);
  file_ = nullptr;
}

bool Amendor::find_append_position(const LASreader* reader, const LASheader& point_header) {
  trl::FileHeader existing;
  if (!trl::check_file_header(stream_.get(), point_header, true, &existing)) {
    print_error("checking TRL header(s)\n");
    return false;
  }
  // After the layers the reader applies, when it applies this very file;
  // otherwise after all that the file holds.
  const auto* apply = dynamic_cast<const LASapply*>(reader);
  I64 position;
  if (apply && apply->get_file_name() == file_name_) {
    existing_layers_ = apply->get_loaded_layers();
    position = I64(apply->get_layers_end());
  } else {
    existing_layers_ = existing.num_layers;
    if (!platform::seek(file_, 0, SEEK_END)) {
      print_error("checking TRL header(s)\n");
      return false;
    }
    position = platform::tell(file_);
  }
  // A stdio file must be positioned between reading and writing.
  if (position < 0 || !platform::seek(file_, position, SEEK_SET)) {
    print_error("checking TRL header(s)\n");
    return false;
  }
  return true;
}

bool Amendor::open(const char* file_name, const LASreader* reader, bool append,
                   bool buffer_all_layers, U32 stream_buffer_size) {
  if (is_open()) {
    print_error("amendor is already open for '%s'\n", file_name_.c_str());
    return false;
  }
  if (reader == nullptr) {
    print_error("LASreader pointer is zero\n");
    return false;
  }
  // The layers file is named after its input; piped input has no name.
  if (file_name == nullptr || file_name[0] == '\0') {
    print_error("file name pointer is zero\n");
    return false;
  }
  if (header_ == nullptr) {
    print_error("header pointer is zero\n");
    return false;
  }
  // The TRL file belongs to the point file, also when layers are applied.
  const auto* apply = dynamic_cast<const LASapply*>(reader);
  const LASheader& point_header =
      (apply && apply->get_reader()) ? apply->get_reader()->header : reader->header;

  file_name_ = trl::file_name(file_name, directory_.empty() ? nullptr : directory_.c_str());
  // An input whose name already ends in "trl" would be its own layers
  // file, and another input may bear the name.
  std::vector<std::string> inputs = protected_;
  inputs.push_back(file_name);
  for (const std::string& input : inputs) {
    if (file_name_ == input || platform::same_file(file_name_.c_str(), input.c_str())) {
      print_error("layers file '%s' is the input file '%s'. refusing to overwrite it.\n",
                  file_name_.c_str(), input.c_str());
      file_name_.clear();
      return false;
    }
  }
  if (!open_file(append, &created_)) return false;
  if (setvbuf(file_, nullptr, _IOFBF, stream_buffer_size) != 0) {
    print_warning("setvbuf() failed with buffer size %u\n", stream_buffer_size);
  }
  stream_ = std::make_unique<ByteStreamInOutFileLE>(file_);

  // Reading the file later repeats the on-the-fly filter and transform the
  // points were read with, before the layers recorded here.
  std::vector<std::unique_ptr<Tierling>> front;
  const LASfilter* filter = reader->get_filter();
  if (filter && filter->active()) {
    const std::string text = filter->get_command();
    front.push_back(std::make_unique<TierlingFilter>(text));
    front.back()->set_description(text);
  }
  const LAStransform* transform = reader->get_transform();
  if (transform && transform->active()) {
    const std::string text = transform->get_command();
    front.push_back(std::make_unique<TierlingTransform>(text));
    front.back()->set_description(text);
  }
  for (auto& layer : front) layer->set_header(header_);
  layers_.insert(layers_.begin(), std::make_move_iterator(front.begin()),
                 std::make_move_iterator(front.end()));

  bool ok;
  if (created_) {
    existing_layers_ = 0;
    ok = trl::write_file_header(stream_.get(), point_header, U32(layers_.size()));
    if (!ok) print_error("writing TRL header\n");
  } else {
    ok = find_append_position(reader, point_header);
  }
  if (!ok) {
    close_file();
    if (created_) remove(write_name_.c_str());
    return false;
  }

  start_ = platform::tell(file_);
  static_cast<LASscaleOffset&>(*this) = *header_;
  expected_ = header_->number_of_point_records ? I64(header_->number_of_point_records)
                                               : I64(header_->extended_number_of_point_records);
  point_count = expected_;
  points_written = 0;
  reader_ = reader;

  const U32 count = U32(layers_.size());
  for (U32 k = 0; k < count; k++) {
    ByteStreamOut* direct = (k == 0 && !buffer_all_layers) ? stream_.get() : nullptr;
    if (!layers_[k]->start_writing(direct)) {
      print_error("initializing layer %u of %u\n", k + 1, count);
      discard();
      return false;
    }
  }
  return true;
}

bool Amendor::write_point(const LASpoint* point) {
  if (!is_open() || point == nullptr) return false;
  points_written++;
  const LASpoint& read = reader_->point;
  const U32 count = U32(layers_.size());
  for (U32 k = 0; k < count; k++) {
    Tierling& layer = *layers_[k];
    if (!layer.record(read, *point)) {
      print_error("recording point %" PRId64 " in layer %u of %u\n", points_written, k + 1, count);
      return false;
    }
    // Reading applies no later layer to a deleted point, so none records it.
    if (layer.last_point_deleted()) {
      for (U32 later = k + 1; later < count; later++) layers_[later]->skip_point();
      break;
    }
  }
  return true;
}

bool Amendor::update_header(const LASheader* header, bool, bool) {
  if (header == nullptr) {
    print_error("header pointer is zero\n");
    return false;
  }
  if (header_ == nullptr) return false;
  LASheader& h = *header_;
  if (header != header_) {
    h.file_source_ID = header->file_source_ID;
    h.global_encoding = header->global_encoding;
    h.version_major = header->version_major;
    h.version_minor = header->version_minor;
    memcpy(h.system_identifier, header->system_identifier, sizeof(h.system_identifier));
    memcpy(h.generating_software, header->generating_software, sizeof(h.generating_software));
    h.file_creation_day = header->file_creation_day;
    h.file_creation_year = header->file_creation_year;
    h.header_size = header->header_size;
    h.offset_to_point_data = header->offset_to_point_data;
    h.number_of_point_records = header->number_of_point_records;
    h.point_data_format = header->point_data_format;
    h.point_data_record_length = header->point_data_record_length;
    static_cast<LASscaleOffset&>(h) = *header;
    memcpy(h.number_of_points_by_return, header->number_of_points_by_return,
           sizeof(h.number_of_points_by_return));
    h.max_x = header->max_x;
    h.min_x = header->min_x;
    h.max_y = header->max_y;
    h.min_y = header->min_y;
    h.max_z = header->max_z;
    h.min_z = header->min_z;
    if (h.version_minor >= 4) {
      h.extended_number_of_point_records = header->extended_number_of_point_records;
      memcpy(h.extended_number_of_points_by_return, header->extended_number_of_points_by_return,
             sizeof(h.extended_number_of_points_by_return));
    }
    if (h.version_minor >= 3) {
      h.start_of_waveform_data_packet_record = header->start_of_waveform_data_packet_record;
    }
  }
  if (h.version_minor >= 3 && h.start_of_waveform_data_packet_record != 0) {
    print_warning("header->start_of_waveform_data_packet_record is %" PRId64
                  ". setting it to 0 ...\n",
                  I64(h.start_of_waveform_data_packet_record));
    h.start_of_waveform_data_packet_record = 0;
  }
  expected_ = h.number_of_point_records ? I64(h.number_of_point_records)
                                        : I64(h.extended_number_of_point_records);
  point_count = expected_;
  return true;
}

I64 Amendor::close(bool) {
  if (!is_open()) return 0;
  if (points_written != expected_) {
    print_warning("written %" PRId64 " points but expected %" PRId64 " points\n", points_written,
                  expected_);
  }
  const U32 count = U32(layers_.size());
  for (U32 k = 0; k < count; k++) {
    if (!layers_[k]->done_writing(stream_.get())) {
      print_error("closing layer %u of %u\n", k + 1, count);
      discard();
      return -1;
    }
  }
  const I64 end = platform::tell(file_);
  layers_.clear();
  const U32 total = existing_layers_ + count;
  if (!platform::seek(file_, 16, SEEK_SET) || !stream_->put32(total)) {
    print_error("writing num_layers_after\n");
    discard();
    return -1;
  }
  // Layers appended after fewer than all existing ones replace the rest,
  // whose bytes must not linger past the new end.
  if (end < 0 || !platform::truncate_file(file_, end)) {
    print_error("cutting '%s' to %" PRId64 " bytes\n", file_name_.c_str(), end);
    discard();
    return -1;
  }
  close_file();
  reader_ = nullptr;
  if (created_ && rename(write_name_.c_str(), file_name_.c_str()) != 0) {
    print_error("cannot rename '%s' to '%s'\n", write_name_.c_str(), file_name_.c_str());
    remove(write_name_.c_str());
    return -1;
  }
  return end - start_;
}

void Amendor::discard() {
  if (!is_open()) return;
  layers_.clear();
  reader_ = nullptr;
  if (created_) {
    close_file();
    remove(write_name_.c_str());
    return;
  }
  // The first new layer may already stand where later existing ones were,
  // so the file keeps exactly the layers before it.
  fflush(file_);
  platform::truncate_file(file_, start_);
  if (platform::seek(file_, 16, SEEK_SET)) stream_->put32(existing_layers_);
  close_file();
}
