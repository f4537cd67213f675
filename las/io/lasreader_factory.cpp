#include "las/io/lasreader_factory.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "las/core/argcursor.hpp"
#include "las/core/lasignore.hpp"
#include "las/core/messages.hpp"
#include "las/core/platform.hpp"
#include "las/filter/lasfilter.hpp"
#include "las/io/lasreader_buffered.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/io/lasreader_merged.hpp"
#include "las/io/lasreader_pipeon.hpp"
#include "las/io/lasreader_stored.hpp"
#include "las/transform/lastransform.hpp"

namespace {

constexpr U32 kMaxIoBuffer = 1u << 30;

void trim_line_end(std::string& line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\n' ||
                           line.back() == '\r')) {
    line.pop_back();
  }
}

const char* skip_blanks(const char* text) {
  while (*text == ' ' || *text == '\t') text++;
  return text;
}

// Reads one line of any length; false at the end of the file.
bool read_line(FILE* file, std::string& line) {
  line.clear();
  char chunk[1024];
  while (fgets(chunk, sizeof(chunk), file)) {
    line += chunk;
    if (!line.empty() && line.back() == '\n') return true;
  }
  return !line.empty();
}

// Whether an optional value of -iadd_attribute is there: a non-zero value,
// or, where zero is allowed, the text "0" or "0.0".
bool optional_value(const char* text, bool zero_allowed, F64* value) {
  *value = atof(text);
  if (*value != 0.0) return true;
  return zero_allowed && (strcmp(text, "0") == 0 || strcmp(text, "0.0") == 0);
}

bool overlaps(const LASreaderFactory::InputFile& f, F64 min_x, F64 min_y, F64 max_x, F64 max_y) {
  return !(f.min_x > max_x || f.max_x < min_x || f.min_y > max_y || f.max_y < min_y);
}

}  // namespace

LASreaderFactory::LASreaderFactory() = default;
LASreaderFactory::~LASreaderFactory() = default;

void LASreaderFactory::usage() const {
  print_message("Supported LAS Inputs\n");
  print_message("  -i lidar.las\n");
  print_message("  -i lidar.vzk\n");
  print_message("  -i lidar1.las lidar2.las lidar3.las -merged\n");
  print_message("  -i *.las - merged\n");
  print_message("  -i flight0??.vzk flight1??.vzk\n");
  print_message("  -i terrasolid.bin\n");
  print_message("  -i esri.shp\n");
  print_message("  -i nasa.qi\n");
  print_message("  -i lidar.txt -iparse xyzti -iskip 2 (on-the-fly from ASCII)\n");
  print_message("  -i lidar.txt -iparse xyzi -itranslate_intensity 1024\n");
  print_message("  -lof file_list.txt\n");
  print_message("  -stdin (pipe from stdin)\n");
  print_message("  -rescale 0.01 0.01 0.001\n");
  print_message("  -rescale_xy 0.01 0.01\n");
  print_message("  -rescale_z 0.01\n");
  print_message("  -reoffset 600000 4000000 0\n");
  print_message("Fast AOI Queries for LAS/VZK with spatial indexing SKX files\n");
  print_message("  -inside min_x min_y max_x max_y\n");
  print_message("  -inside_tile ll_x ll_y size\n");
  print_message("  -inside_circle center_x center_y radius\n");
}

// ---------------------------------------------------------------------------
// Input names

bool LASreaderFactory::add_file(InputFile file, bool only_new, std::vector<InputFile>& list) {
  if (only_new) {
    for (const InputFile& f : list) {
      if (f.name == file.name) return true;
    }
  }
  list.push_back(std::move(file));
  return true;
}

bool LASreaderFactory::add_name(const char* name, bool only_new, std::vector<InputFile>& list) {
  if (name == nullptr || name[0] == '\0') return true;
  // A name that exists as it is wins over reading it as a pattern.
  if (platform::file_exists(name) && !platform::is_directory(name)) {
    InputFile f;
    f.name = name;
    return add_file(std::move(f), only_new, list);
  }
  if (platform::has_wildcard(name)) {
    const std::vector<std::string> matches = platform::glob_files(name);
    if (matches.empty()) {
      print_warning("no file matches '%s'\n", name);
      return true;
    }
    for (const std::string& m : matches) {
      InputFile f;
      f.name = m;
      add_file(std::move(f), only_new, list);
    }
    return true;
  }
  if (platform::is_directory(name)) {
    print_error("'%s' is a directory, not a file\n", name);
  } else {
    print_error("cannot find file '%s'\n", name);
  }
  return false;
}

bool LASreaderFactory::add_file_name(const char* name, bool only_new) {
  return add_name(name, only_new, files);
}

bool LASreaderFactory::add_file_name(const char* name, U32 id, bool only_new) {
  if (name == nullptr || name[0] == '\0') return false;
  if (!platform::file_exists(name) || platform::is_directory(name)) {
    print_error("cannot find file '%s'\n", name);
    return false;
  }
  InputFile f;
  f.name = name;
  f.has_id = true;
  f.id = id;
  return add_file(std::move(f), only_new, files);
}

bool LASreaderFactory::add_file_name(const char* name, U32 id, I64 count, F64 min_x, F64 min_y,
                                     F64 max_x, F64 max_y, bool only_new) {
  if (name == nullptr || name[0] == '\0') return false;
  if (!platform::file_exists(name) || platform::is_directory(name)) {
    print_error("cannot find file '%s'\n", name);
    return false;
  }
  InputFile f;
  f.name = name;
  f.has_id = true;
  f.id = id;
  f.has_box = true;
  f.point_count = count;
  f.min_x = min_x;
  f.min_y = min_y;
  f.max_x = max_x;
  f.max_y = max_y;
  return add_file(std::move(f), only_new, files);
}

bool LASreaderFactory::add_neighbor_file_name(const char* name, bool only_new) {
  return add_name(name, only_new, neighbors);
}

bool LASreaderFactory::add_list(const char* list_name, bool only_new,
                                std::vector<InputFile>& list) {
  FILE* file = platform::open_file(list_name, "r");
  if (file == nullptr) {
    print_error("cannot open '%s'\n", list_name);
    return false;
  }
  bool ok = true;
  std::string line;
  while (ok && read_line(file, line)) {
    trim_line_end(line);
    if (line.empty()) continue;
    const char* text = line.c_str();
    U32 id = 0;
    long long count = 0;
    F64 box[4];
    int name_at = -1;
    if (sscanf(text, "%u,%lld,%lf,%lf,%lf,%lf,%n", &id, &count, &box[0], &box[1], &box[2], &box[3],
               &name_at) == 6 &&
        name_at > 0) {
      const char* name = skip_blanks(text + name_at);
      if (!platform::file_exists(name) || platform::is_directory(name)) {
        print_error("cannot find file '%s'\n", name);
        ok = false;
        break;
      }
      InputFile f;
      f.name = name;
      f.has_id = true;
      f.id = id;
      f.has_box = true;
      f.point_count = count;
      f.min_x = box[0];
      f.min_y = box[1];
      f.max_x = box[2];
      f.max_y = box[3];
      add_file(std::move(f), only_new, list);
      continue;
    }
    name_at = -1;
    if (sscanf(text, "%u,%n", &id, &name_at) == 1 && name_at > 0) {
      const char* name = skip_blanks(text + name_at);
      if (!platform::file_exists(name) || platform::is_directory(name)) {
        print_error("cannot find file '%s'\n", name);
        ok = false;
        break;
      }
      InputFile f;
      f.name = name;
      f.has_id = true;
      f.id = id;
      add_file(std::move(f), only_new, list);
      continue;
    }
    ok = add_name(text, only_new, list);
  }
  fclose(file);
  return ok;
}

bool LASreaderFactory::add_list_of_files(const char* list_name, bool only_new) {
  return add_list(list_name, only_new, files);
}

bool LASreaderFactory::add_neighbor_list_of_files(const char* list_name, bool only_new) {
  return add_list(list_name, only_new, neighbors);
}

const char* LASreaderFactory::get_file_name() const {
  return current_name.empty() ? nullptr : current_name.c_str();
}

const char* LASreaderFactory::get_file_name(size_t index) const {
  return index < files.size() ? files[index].name.c_str() : nullptr;
}

std::vector<std::string> LASreaderFactory::get_file_names() const {
  std::vector<std::string> names;
  for (const InputFile& f : files) names.push_back(f.name);
  for (const InputFile& f : neighbors) names.push_back(f.name);
  return names;
}

bool LASreaderFactory::has_next() const {
  return file_current < files.size() || (use_stdin && !stdin_opened);
}

bool LASreaderFactory::is_buffered() const {
  return buffer_size > 0 && (files.size() > 1 || !neighbors.empty());
}

void LASreaderFactory::set_scale_factor(const F64* scale) {
  use_rescale = scale != nullptr;
  for (int a = 0; a < 3; a++) scale_factor[a] = scale ? scale[a] : 0.0;
}

void LASreaderFactory::set_offset(const F64* values) {
  use_reoffset = values != nullptr;
  for (int a = 0; a < 3; a++) offset[a] = values ? values[a] : 0.0;
}

void LASreaderFactory::set_inside_tile(F32 ll_x, F32 ll_y, F32 size) {
  tile_ll_x = ll_x;
  tile_ll_y = ll_y;
  tile_size = size;
  inside_mode |= 1;
}

void LASreaderFactory::set_inside_circle(F64 center_x, F64 center_y, F64 radius) {
  circle_x = center_x;
  circle_y = center_y;
  circle_radius = radius;
  inside_mode |= 2;
}

void LASreaderFactory::set_inside_rectangle(F64 min_x, F64 min_y, F64 max_x, F64 max_y) {
  rect_min_x = min_x;
  rect_min_y = min_y;
  rect_max_x = max_x;
  rect_max_y = max_y;
  inside_mode |= 4;
}

void LASreaderFactory::set_filter(LASfilter* f) {
  owned_filter.reset();
  filter = f;
}

void LASreaderFactory::set_transform(LAStransform* t) {
  owned_transform.reset();
  transform = t;
}

// ---------------------------------------------------------------------------
// Option parsing

bool LASreaderFactory::parse(int argc, char* argv[], bool allow_ignore) {
  ArgCursor args(argc, argv);
  for (int i = 1; i < argc; i++) {
    if (args.blank(i)) continue;
    const char* arg = argv[i];
    if (arg[0] != '-') continue;
    if (args.is(i, "-h")) {
      LASfilter().usage();
      LAStransform().usage();
      if (allow_ignore) LASignore().usage();
      usage();
      return true;
    } else if (args.is(i, "-i") || args.is(i, "-neighbors")) {
      const bool neighbor = args.is(i, "-neighbors");
      int j = i + 1;
      int added = 0;
      for (; j < argc && argv[j][0] != '-'; j++) {
        if (args.blank(j)) continue;
        const bool ok =
            neighbor ? add_neighbor_file_name(argv[j], unique) : add_file_name(argv[j], unique);
        if (!ok) return false;
        args.consume(j);
        added++;
      }
      if (added == 0) {
        print_error("'%s' needs at least 1 argument: file_name or wild_card\n", arg);
        return false;
      }
      args.consume(i);
      i = j - 1;
    } else if (strncmp(arg, "-ignore_", 8) == 0) {
      if (!allow_ignore) {
        print_error("this tool does not process '-ignore_xxxx' options\n");
        return false;
      }
      if (!ignore) ignore = std::make_unique<LASignore>();
      if (!ignore->parse(argc, argv, &i)) return false;
    } else if (args.is(i, "-inside_tile")) {
      if (!args.has(i, 3)) {
        print_error("'%s' needs 3 arguments: ll_x ll_y size\n", arg);
        return false;
      }
      F32 v[3];
      static const char* const names[3] = {"ll_x", "ll_y", "size"};
      for (int k = 0; k < 3; k++) {
        if (!args.scan(i + 1 + k, "%f", &v[k])) {
          print_error("'%s' needs 3 arguments: ll_x ll_y size, but '%s' is not a valid %s.\n", arg,
                      argv[i + 1 + k], names[k]);
          return false;
        }
      }
      if (!(v[2] > 0) || !std::isfinite(v[2])) {
        print_error("'%s' needs 3 arguments: ll_x ll_y size, but %f is not valid a size.\n", arg,
                    v[2]);
        return false;
      }
      set_inside_tile(v[0], v[1], v[2]);
      args.consume(i, 3);
      i += 3;
    } else if (args.is(i, "-inside_circle")) {
      if (!args.has(i, 3)) {
        print_error("'%s' needs 3 arguments: center_x center_y radius\n", arg);
        return false;
      }
      F64 v[3];
      static const char* const names[3] = {"center_x", "center_y", "radius"};
      for (int k = 0; k < 3; k++) {
        if (!args.scan(i + 1 + k, "%lf", &v[k])) {
          print_error(
              "'%s' needs 3 arguments: center_x center_y radius, but '%s' is not a valid %s.\n",
              arg, argv[i + 1 + k], names[k]);
          return false;
        }
      }
      if (!(v[2] > 0) || !std::isfinite(v[2])) {
        print_error(
            "'%s' needs 3 arguments: center_x center_y radius, but %lf is not valid a radius.\n",
            arg, v[2]);
        return false;
      }
      set_inside_circle(v[0], v[1], v[2]);
      args.consume(i, 3);
      i += 3;
    } else if (args.is(i, "-inside") || args.is(i, "-inside_rectangle")) {
      if (!args.has(i, 4)) {
        print_error("'%s' needs 4 arguments: min_x min_y max_x max_y\n", arg);
        return false;
      }
      F64 v[4];
      static const char* const names[4] = {"min_x", "min_y", "max_x", "max_y"};
      for (int k = 0; k < 4; k++) {
        if (!args.scan(i + 1 + k, "%lf", &v[k])) {
          print_error(
              "'%s' needs 4 arguments: min_x min_y max_x max_y, but '%s' is not a valid %s.\n", arg,
              argv[i + 1 + k], names[k]);
          return false;
        }
      }
      if (!(v[0] < v[2])) {
        print_error(
            "'%s' needs 4 arguments: min_x min_y max_x max_y, but %lf / %lf are not a valid "
            "min_x / max_x pair.\n",
            arg, v[0], v[2]);
        return false;
      }
      if (!(v[1] < v[3])) {
        print_error(
            "'%s' needs 4 arguments: min_x min_y max_x max_y, but %lf / %lf are not a valid "
            "min_y / max_y pair.\n",
            arg, v[1], v[3]);
        return false;
      }
      set_inside_rectangle(v[0], v[1], v[2], v[3]);
      args.consume(i, 4);
      i += 4;
    } else if (strncmp(arg, "-inside", 7) == 0) {
      print_error("unknown '-inside' option '%s'\n", arg);
      return false;
    } else if (args.is(i, "-iadd_attribute") || args.is(i, "-iadd_extra")) {
      if (!args.has(i, 3)) {
        print_error("'%s' needs 3 arguments: data_type name description\n", arg);
        return false;
      }
      if (attributes.size() >= kMaxExtraAttributes) {
        print_error("'%s' cannot add more than %d extra attributes\n", arg,
                    int(kMaxExtraAttributes));
        return false;
      }
      ExtraAttribute a;
      a.data_type = atoi(argv[i + 1]);
      a.name = argv[i + 2];
      a.description = argv[i + 3];
      int used = 3;
      F64 v;
      F64* targets[5] = {&a.scale, &a.offset, &a.pre_scale, &a.pre_offset, &a.no_data};
      static const bool zero_allowed[5] = {false, true, false, true, true};
      for (int k = 0; k < 5 && args.has(i, used + 1); k++) {
        if (!optional_value(argv[i + used + 1], zero_allowed[k], &v)) break;
        *targets[k] = v;
        used++;
      }
      attributes.push_back(a);
      args.consume(i, used);
      i += used;
    } else if (args.is(i, "-iparse")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: string\n", arg);
        return false;
      }
      parse_string = argv[i + 1];
      has_parse_string = true;
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-iskip")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: number_of_lines\n", arg);
        return false;
      }
      U32 n = 0;
      if (!args.scan(i + 1, "%u", &n)) {
        print_error("'%s' needs 1 argument: number_of_lines but '%s' is not a valid number.\n", arg,
                    argv[i + 1]);
        return false;
      }
      if (n == 0 || argv[i + 1][0] == '-') {
        print_error("'%s' needs 1 argument: number_of_lines but %u is not valid.\n", arg, n);
        return false;
      }
      skip_lines = n;
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-io_ibuffer")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: size\n", arg);
        return false;
      }
      U32 n = 0;
      if (!args.scan(i + 1, "%u", &n)) {
        print_error("'%s' needs 1 argument: size but '%s' is not a valid size.\n", arg,
                    argv[i + 1]);
        return false;
      }
      if (n == 0 || n > kMaxIoBuffer || argv[i + 1][0] == '-') {
        print_error("'%s' needs 1 argument: size but %u is not valid.\n", arg, n);
        return false;
      }
      io_ibuffer_size = I32(n);
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-itranslate_intensity") || args.is(i, "-iscale_intensity") ||
               args.is(i, "-itranslate_scan_angle") || args.is(i, "-iscale_scan_angle")) {
      const bool translation = strncmp(arg, "-itranslate", 11) == 0;
      const char* what = translation ? "translation" : "scale";
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: %s\n", arg, what);
        return false;
      }
      F32 v = 0;
      if (!args.scan(i + 1, "%f", &v)) {
        print_error("'%s' needs 1 argument: %s but '%s' is not valid.\n", arg, what, argv[i + 1]);
        return false;
      }
      if (v == 0.0f || !std::isfinite(v)) {
        print_error("'%s' needs 1 argument: %s but %f is not valid.\n", arg, what, v);
        return false;
      }
      if (args.is(i, "-itranslate_intensity")) {
        translate_intensity = v;
      } else if (args.is(i, "-iscale_intensity")) {
        scale_intensity = v;
      } else if (args.is(i, "-itranslate_scan_angle")) {
        translate_scan_angle = v;
      } else {
        scale_scan_angle = v;
      }
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-ipts")) {
      itxt = ipts = true;
      args.consume(i);
    } else if (args.is(i, "-iptx")) {
      itxt = iptx = true;
      args.consume(i);
    } else if (args.is(i, "-itxt")) {
      itxt = true;
      args.consume(i);
    } else if (args.is(i, "-rescale")) {
      if (!args.has(i, 3)) {
        print_error("'%s' needs 3 arguments: rescale_x rescale_y rescale_z\n", arg);
        return false;
      }
      F64 v[3];
      static const char* const names[3] = {"rescale_x", "rescale_y", "rescale_z"};
      for (int k = 0; k < 3; k++) {
        if (!args.scan(i + 1 + k, "%lf", &v[k])) {
          print_error(
              "'%s' needs 3 arguments: rescale_x rescale_y rescale_z, but '%s' is not a valid "
              "%s\n",
              arg, argv[i + 1 + k], names[k]);
          return false;
        }
        if (v[k] == 0.0 || !std::isfinite(v[k])) {
          print_error(
              "'%s' needs 3 arguments: rescale_x rescale_y rescale_z, but %lf is not a valid %s\n",
              arg, v[k], names[k]);
          return false;
        }
      }
      set_scale_factor(v);
      args.consume(i, 3);
      i += 3;
    } else if (args.is(i, "-rescale_xy")) {
      if (!args.has(i, 2)) {
        print_error("'%s' needs 2 argument: rescale_x rescale_y\n", arg);
        return false;
      }
      F64 v[3] = {0, 0, 0};
      static const char* const names[2] = {"rescale_x", "rescale_y"};
      for (int k = 0; k < 2; k++) {
        if (!args.scan(i + 1 + k, "%lf", &v[k])) {
          print_error("'%s' needs 3 arguments: rescale_x rescale_y, but '%s' is not a valid %s\n",
                      arg, argv[i + 1 + k], names[k]);
          return false;
        }
        if (v[k] == 0.0 || !std::isfinite(v[k])) {
          print_error("'%s' needs 3 arguments: rescale_x rescale_y, but %lf is not a valid %s\n",
                      arg, v[k], names[k]);
          return false;
        }
      }
      set_scale_factor(v);
      args.consume(i, 2);
      i += 2;
    } else if (args.is(i, "-rescale_z")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: rescale_z\n", arg);
        return false;
      }
      F64 v[3] = {0, 0, 0};
      if (!args.scan(i + 1, "%lf", &v[2])) {
        print_error("'%s' needs 1 argument: rescale_z, but '%s' is not a valid rescale_z\n", arg,
                    argv[i + 1]);
        return false;
      }
      if (v[2] == 0.0 || !std::isfinite(v[2])) {
        print_error("'%s' needs 1 argument: rescale_z, but %lf is not a valid rescale_z\n", arg,
                    v[2]);
        return false;
      }
      set_scale_factor(v);
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-reoffset")) {
      if (!args.has(i, 3)) {
        print_error("'%s' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z\n", arg);
        return false;
      }
      F64 v[3];
      static const char* const names[3] = {"reoffset_x", "reoffset_y", "reoffset_z"};
      for (int k = 0; k < 3; k++) {
        if (!args.scan(i + 1 + k, "%lf", &v[k]) || !std::isfinite(v[k])) {
          print_error(
              "'%s' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z, but '%s' is not a "
              "valid %s\n",
              arg, argv[i + 1 + k], names[k]);
          return false;
        }
      }
      set_offset(v);
      args.consume(i, 3);
      i += 3;
    } else if (args.is(i, "-auto_reoffset")) {
      auto_reoffset = true;
      args.consume(i);
    } else if (args.is(i, "-unique")) {
      unique = true;
      args.consume(i);
    } else if (args.is(i, "-comma_not_point")) {
      comma_not_point = true;
      args.consume(i);
    } else if (args.is(i, "-stdin")) {
      use_stdin = true;
      args.consume(i);
    } else if (args.is(i, "-stored")) {
      stored = true;
      args.consume(i);
    } else if (args.is(i, "-lof")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: list_of_files\n", arg);
        return false;
      }
      if (!add_list_of_files(argv[i + 1], unique)) {
        print_error("cannot load list of files '%s'\n", argv[i + 1]);
        return false;
      }
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-apply_file_source_ID")) {
      apply_file_source_ID = true;
      args.consume(i);
    } else if (args.is(i, "-files_are_flightlines") || args.is(i, "-faf")) {
      if (i + 1 < argc && argv[i + 1][0] >= '1' && argv[i + 1][0] <= '9') {
        files_are_flightlines = atoi(argv[i + 1]);
        args.consume(i, 1);
        i++;
      } else {
        files_are_flightlines = 1;
        args.consume(i);
      }
    } else if (args.is(i, "-faf_index")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: index\n", arg);
        return false;
      }
      files_are_flightlines_index = atoi(argv[i + 1]) - 1;
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-merged")) {
      merged = true;
      args.consume(i);
    } else if (args.is(i, "-buffered")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: buffer_size\n", arg);
        return false;
      }
      F32 v = 0;
      if (!args.scan(i + 1, "%f", &v)) {
        print_error("'%s' needs 1 argument: buffer_size. but '%s' is not a valid buffer_size\n",
                    arg, argv[i + 1]);
        return false;
      }
      if (!(v > 0) || !std::isfinite(v)) {
        print_error("'%s' needs 1 argument: buffer_size, but %f is not valid\n", arg, v);
        return false;
      }
      buffer_size = v;
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-temp_files")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: base name\n", arg);
        return false;
      }
      temp_file_base = argv[i + 1];
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-neighbors_lof")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs at least 1 argument: file_name\n", arg);
        return false;
      }
      if (!add_neighbor_list_of_files(argv[i + 1], unique)) {
        print_error("cannot load neighbor list of files '%s'\n", argv[i + 1]);
        return false;
      }
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-pipe_on")) {
      pipe_on = true;
      args.consume(i);
    } else if (args.is(i, "-populate")) {
      populate_header = true;
      args.consume(i);
    } else if (args.is(i, "-do_not_populate")) {
      populate_header = false;
      args.consume(i);
    }
  }
  return finish_parse(argc, argv);
}

bool LASreaderFactory::finish_parse(int argc, char* argv[]) {
  if (ignore && ignore->is_empty()) ignore.reset();
  if (!neighbors.empty()) {
    if (files.size() > 1) {
      print_error("neighbors only supported for one buffered input file, not for %d\n",
                  int(files.size()));
      return false;
    }
    if (buffer_size <= 0) {
      print_error("neighbors only make sense when used with '-buffered 50' or similar\n");
      return false;
    }
  }
  if (pipe_on) {
    // Both would write a point file to standard output, interleaved.
    for (int i = 1; i < argc; i++) {
      if (strcmp(argv[i], "-stdout") == 0) {
        print_error("'-pipe_on' cannot be combined with '-stdout'\n");
        return false;
      }
    }
  }
  if (files_are_flightlines) {
    if (files_are_flightlines >= 65536) {
      print_warning("files_are_flightlines start value %d is too large\n", files_are_flightlines);
    } else if (I64(files_are_flightlines) + files_are_flightlines_index > 65535) {
      print_warning("files_are_flightlines start value %d plus index %d is too large\n",
                    files_are_flightlines, files_are_flightlines_index + 1);
    }
  }
  if (I64(files_are_flightlines_index) + 1 >= 65536) {
    print_warning("files_are_flightlines_index index value %d is too large\n",
                  files_are_flightlines_index + 1);
  }

  owned_filter = std::make_unique<LASfilter>();
  if (!owned_filter->parse(argc, argv)) return false;
  if (owned_filter->active()) {
    filter = owned_filter.get();
  } else {
    owned_filter.reset();
    filter = nullptr;
  }
  owned_transform = std::make_unique<LAStransform>();
  if (!owned_transform->parse(argc, argv)) return false;
  if (!owned_transform->active()) {
    if (owned_transform->is_filtered()) {
      print_warning("no LAStransform specified. '-filtered_transform' has no effect.\n");
    }
    owned_transform.reset();
    transform = nullptr;
  } else {
    transform = owned_transform.get();
    if (transform->is_filtered()) {
      if (owned_filter) {
        transform->set_filter(std::move(owned_filter));
        filter = nullptr;
      } else {
        print_warning("no LASfilter specified. '-filtered_transform' has no effect.\n");
        transform->set_filter(nullptr);
      }
    }
  }
  if (files_are_flightlines || apply_file_source_ID) {
    if (!transform) {
      owned_transform = std::make_unique<LAStransform>();
      transform = owned_transform.get();
    }
    transform->add_set_point_source(0);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Opening

void LASreaderFactory::set_flightline(U32 number) {
  current_flightline = I64(files_are_flightlines) + files_are_flightlines_index + I64(number);
  if (transform) transform->add_set_point_source(U16(current_flightline));
}

void LASreaderFactory::set_query(LASreader* reader) {
  if (inside_mode & 4) {
    reader->inside_rectangle(rect_min_x, rect_min_y, rect_max_x, rect_max_y);
  } else if (inside_mode & 1) {
    reader->inside_tile(tile_ll_x, tile_ll_y, tile_size);
  } else if (inside_mode & 2) {
    reader->inside_circle(circle_x, circle_y, circle_radius);
  }
}

void LASreaderFactory::attach(LASreader* reader, bool with_query) {
  reader->set_filter(filter);
  reader->set_transform(transform);
  reader->set_ignore(get_ignore());
  if (with_query) set_query(reader);
}

std::unique_ptr<LASreaderLAS> LASreaderFactory::make_las_reader() const {
  const F64* s = scale_factor;
  if (use_rescale && use_reoffset) {
    return std::make_unique<LASreaderLASrescalereoffset>(s[0], s[1], s[2], offset[0], offset[1],
                                                         offset[2]);
  }
  if (use_rescale && auto_reoffset) {
    return std::make_unique<LASreaderLASrescalereoffset>(s[0], s[1], s[2]);
  }
  if (use_rescale) return std::make_unique<LASreaderLASrescale>(s[0], s[1], s[2], true);
  if (use_reoffset) return std::make_unique<LASreaderLASreoffset>(offset[0], offset[1], offset[2]);
  if (auto_reoffset) return std::make_unique<LASreaderLASreoffset>();
  return std::make_unique<LASreaderLAS>();
}

std::unique_ptr<LASreader> LASreaderFactory::wrap(std::unique_ptr<LASreader> reader,
                                                  const char* kind_name, bool from_stdin) {
  LASignore* rules = reader->get_ignore();
  if (stored) {
    auto wrapper = std::make_unique<LASreaderStored>();
    if (!wrapper->open(std::move(reader))) {
      print_error("could not open lasreaderstored with %s\n", kind_name);
      return nullptr;
    }
    wrapper->set_ignore(rules);
    reader = std::move(wrapper);
  }
  if (pipe_on) {
    auto wrapper = std::make_unique<LASreaderPipeOn>();
    if (!wrapper->open(std::move(reader))) {
      if (from_stdin) {
        print_error("cannot open lasreaderpipeon with %s from stdin\n", kind_name);
      } else {
        print_error("cannot open lasreaderpipeon with %s\n", kind_name);
      }
      return nullptr;
    }
    wrapper->set_ignore(rules);
    reader = std::move(wrapper);
  }
  return reader;
}

std::unique_ptr<LASreader> LASreaderFactory::open(const char* other, bool reset_index) {
  if (filter) filter->reset();
  if (transform) transform->reset();
  if (other == nullptr && file_current >= files.size()) {
    if (use_stdin && !stdin_opened) return open_stdin();
    return nullptr;
  }
  bool with_ids = false;
  for (const InputFile& f : files) with_ids = with_ids || f.has_id;
  if (other == nullptr && merged && (files.size() > 1 || with_ids)) return open_merged();

  const std::string name = other ? std::string(other) : files[file_current].name;
  if (!other) file_current++;
  // Flightlines are numbered by the position in the list, from 1.
  if (files_are_flightlines) set_flightline(U32(other ? file_current + 1 : file_current));
  std::unique_ptr<LASreader> reader =
      is_buffered() ? open_buffered(name.c_str()) : open_single(name);
  if (other && reset_index) file_current = 0;
  return reader;
}

std::unique_ptr<LASreader> LASreaderFactory::open_merged() {
  auto reader = std::make_unique<LASreaderMerged>();
  reader->set_io_ibuffer_size(io_ibuffer_size);
  if (use_rescale) reader->set_scale_factor(scale_factor[0], scale_factor[1], scale_factor[2]);
  if (use_reoffset) reader->set_offset(offset[0], offset[1], offset[2]);
  // Files that cannot be added are reported and left out.
  for (const InputFile& f : files) {
    if (f.has_id) {
      reader->add_file_name(f.name.c_str(), f.id);
    } else {
      reader->add_file_name(f.name.c_str());
    }
  }
  reader->set_files_are_flightlines(files_are_flightlines);
  reader->set_apply_file_source_ID(apply_file_source_ID);
  file_current = files.size();
  if (!reader->open()) {
    print_error("cannot open lasreadermerged with %d file names\n", int(files.size()));
    return nullptr;
  }
  current_name = files.empty() ? std::string() : files[0].name;
  attach(reader.get(), true);
  return wrap(std::move(reader), "lasreadermerged", false);
}

std::unique_ptr<LASreader> LASreaderFactory::open_buffered(const char* main_name) {
  auto reader = std::make_unique<LASreaderBuffered>();
  reader->set_buffer_size(buffer_size);
  reader->set_io_ibuffer_size(io_ibuffer_size);
  if (use_rescale) reader->set_scale_factor(scale_factor);
  if (use_reoffset) reader->set_offset(offset);
  reader->set_auto_reoffset(auto_reoffset);
  const int total = int(files.size() + neighbors.size());
  // Set before opening so that a failure is reported with this name.
  current_name = main_name;
  if (!reader->set_file_name(main_name)) {
    print_error("cannot open lasreaderbuffered with %d file names\n", total);
    return nullptr;
  }
  // The main file's box, from its list entry or else from its header, tells
  // which neighbours can reach into the buffer.
  bool have_box = false;
  F64 box[4] = {0, 0, 0, 0};
  bool any_box = false;
  for (const InputFile& f : files) {
    if (f.name == main_name && f.has_box) {
      box[0] = f.min_x;
      box[1] = f.min_y;
      box[2] = f.max_x;
      box[3] = f.max_y;
      have_box = true;
    }
    any_box = any_box || f.has_box;
  }
  for (const InputFile& f : neighbors) any_box = any_box || f.has_box;
  if (any_box && !have_box) {
    LASreaderLAS peek;
    if (las_input_kind(main_name) == LASinputKind::LAS && peek.open(main_name, 4096, true)) {
      box[0] = peek.header.min_x;
      box[1] = peek.header.min_y;
      box[2] = peek.header.max_x;
      box[3] = peek.header.max_y;
      have_box = true;
      peek.close(true);
    }
  }
  const F64 b = buffer_size;
  auto wanted = [&](const InputFile& f) {
    return !have_box || !f.has_box || overlaps(f, box[0] - b, box[1] - b, box[2] + b, box[3] + b);
  };
  for (const InputFile& f : files) {
    if (f.name == main_name || !wanted(f)) continue;
    if (!reader->add_neighbor_file_name(f.name.c_str())) {
      print_error("cannot open lasreaderbuffered with %d file names\n", total);
      return nullptr;
    }
  }
  for (const InputFile& f : neighbors) {
    if (f.name == main_name || !wanted(f)) continue;
    if (!reader->add_neighbor_file_name(f.name.c_str())) {
      print_error("cannot open lasreaderbuffered with %d file names\n", total);
      return nullptr;
    }
  }
  reader->set_filter(filter);
  reader->set_transform(transform);
  if (!files_are_flightlines && apply_file_source_ID && transform) {
    // Buffer points are read while opening, so the value must be known before.
    LASreaderLAS peek;
    if (las_input_kind(main_name) == LASinputKind::LAS && peek.open(main_name, 4096, true)) {
      transform->add_set_point_source(peek.header.file_source_ID);
    }
  }
  if (!reader->open()) {
    print_error("cannot open lasreaderbuffered with %d file names\n", total);
    return nullptr;
  }
  if (files_are_flightlines) reader->header.file_source_ID = U16(current_flightline);
  reader->set_ignore(get_ignore());
  set_query(reader.get());
  return wrap(std::move(reader), "lasreaderbuffered", false);
}

std::unique_ptr<LASreader> LASreaderFactory::open_single(const std::string& name) {
  // Set before opening so that a failure is reported with this name.
  current_name = name;
  const LASinputKind kind = las_input_kind(name.c_str());
  if (kind != LASinputKind::LAS) {
    print_error("reading %s files is not supported\n", las_input_kind_name(kind));
    print_error("cannot open %s with file name '%s'\n", las_input_reader_name(kind), name.c_str());
    return nullptr;
  }
  std::unique_ptr<LASreaderLAS> reader = make_las_reader();
  if (!reader->open(name.c_str(), io_ibuffer_size, false, 0xFFFFFFFF)) {
    print_error("cannot open lasreaderlas with file name '%s'\n", name.c_str());
    return nullptr;
  }
  if (files_are_flightlines) {
    reader->header.file_source_ID = U16(current_flightline);
  } else if (apply_file_source_ID && transform) {
    transform->add_set_point_source(reader->header.file_source_ID);
  }
  attach(reader.get(), true);
  return wrap(std::move(reader), "lasreaderlas", false);
}

std::unique_ptr<LASreader> LASreaderFactory::open_stdin() {
  stdin_opened = true;
  current_name.clear();
  if (itxt) {
    print_error("reading text points from stdin is not supported\n");
    print_error("cannot open lasreadertxt with file name '%s'\n", "stdin");
    return nullptr;
  }
  std::unique_ptr<LASreaderLAS> reader = make_las_reader();
  if (!reader->open(stdin, false, 0xFFFFFFFF)) {
    print_error("cannot open lasreaderlas from stdin \n");
    return nullptr;
  }
  if (files_are_flightlines) {
    set_flightline(1);
    reader->header.file_source_ID = U16(current_flightline);
  } else if (apply_file_source_ID && transform) {
    transform->add_set_point_source(reader->header.file_source_ID);
  }
  attach(reader.get(), true);
  return wrap(std::move(reader), "lasreaderlas", true);
}

bool LASreaderFactory::reopen(LASreader* reader, bool remain_buffered) {
  if (reader == nullptr) {
    print_error("pointer to LASreader is NULL\n");
    return false;
  }
  // Resetting first makes the overflow report of the closing reader come
  // once, from its last pass, rather than once per pass.
  if (filter) filter->reset();
  if (transform) transform->reset();
  reader->close(true);
  LASreader* target = reader;
  if (auto* pipe = dynamic_cast<LASreaderPipeOn*>(reader)) {
    pipe->reset_counter();
    target = pipe->get_inner();
  }
  if (auto* s = dynamic_cast<LASreaderStored*>(target)) {
    if (!s->reopen()) {
      print_error("could not reopen lasreaderstored for stored input\n");
      return false;
    }
  } else if (auto* m = dynamic_cast<LASreaderMerged*>(target)) {
    if (!m->reopen()) {
      print_error("cannot reopen lasreadermerged\n");
      return false;
    }
    // The merged reader hands these to each file as it opens it.
    m->set_filter(filter);
    m->set_transform(transform);
  } else if (auto* b = dynamic_cast<LASreaderBuffered*>(target)) {
    if (!b->reopen()) {
      print_error("cannot reopen lasreaderbuffered\n");
      return false;
    }
    if (!remain_buffered) b->remove_buffer();
  } else if (auto* las = dynamic_cast<LASreaderLAS*>(target)) {
    if (current_name.empty()) {
      print_error(stdin_opened ? "cannot reopen lasreaderlas from stdin\n"
                               : "no lasreader input specified\n");
      return false;
    }
    if (!las->open(current_name.c_str(), io_ibuffer_size, false, 0xFFFFFFFF)) {
      print_error("cannot reopen lasreaderlas with file name '%s'\n", current_name.c_str());
      return false;
    }
    if (files_are_flightlines) las->header.file_source_ID = U16(current_flightline);
  } else {
    print_error("no lasreader input specified\n");
    return false;
  }
  if (inside_mode) {
    reader->inside_none();
    set_query(reader);
  }
  return true;
}
