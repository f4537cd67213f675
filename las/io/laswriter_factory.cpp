#include "las/io/laswriter_factory.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "las/core/argcursor.hpp"
#include "las/core/lasheader.hpp"
#include "las/core/messages.hpp"
#include "las/core/platform.hpp"
#include "las/io/laswriter_las.hpp"

namespace {

// Index of the first character of the file part of a path.
size_t base_start(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

// The '.' that starts the extension: the last one in the file part.
size_t extension_dot(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot < base_start(name)) return std::string::npos;
  return dot;
}

// A whole decimal number within [min, max].
bool parse_integer(const char* text, long min, long max, I32* value) {
  errno = 0;
  char* end = nullptr;
  const long v = strtol(text, &end, 10);
  if (end == text || errno != 0 || v < min || v > max) return false;
  while (*end == ' ' || *end == '\t') end++;
  if (*end != '\0') return false;
  *value = I32(v);
  return true;
}

constexpr I32 kMaxIoBuffer = 1 << 30;

}  // namespace

const char* LASwriterFactory::extension_of(I32 f) {
  switch (f) {
    case FORMAT_VZK:
      return "vzk";
    case FORMAT_BIN:
      return "bin";
    case FORMAT_QFIT:
      return "qi";
    case FORMAT_WRL:
      return "wrl";
    case FORMAT_TXT:
      return "txt";
    default:
      return "las";
  }
}

bool LASwriterFactory::parse(int argc, char* argv[]) {
  ArgCursor args(argc, argv);
  for (int i = 1; i < argc; i++) {
    if (args.blank(i)) continue;
    const char* arg = argv[i];
    if (args.is(i, "-h")) {
      usage();
      return true;
    } else if (args.is(i, "-o")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: file_name\n", arg);
        return false;
      }
      if (!set_file_name(argv[i + 1])) return false;
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-odir")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: directory\n", arg);
        return false;
      }
      if (!set_directory(argv[i + 1])) {
        print_error("'%s' is not a valid directory\n", argv[i + 1]);
        return false;
      }
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-odix")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: appendix\n", arg);
        return false;
      }
      set_appendix(argv[i + 1]);
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-ocut")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: number of characters to cut\n", arg);
        return false;
      }
      I32 count = 0;
      if (!parse_integer(argv[i + 1], 0, INT_MAX, &count)) {
        print_error("'%s' needs 1 argument: number of characters to cut but '%s' is not valid\n",
                    arg, argv[i + 1]);
        return false;
      }
      if (!set_cut(count)) return false;
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-oforce")) {
      force = true;
      args.consume(i);
    } else if (args.is(i, "-native")) {
      native = true;
      args.consume(i);
    } else if (args.is(i, "-compatible")) {
      native = false;
      args.consume(i);
    } else if (args.is(i, "-olas") || args.is(i, "-ovzk") || args.is(i, "-obin") ||
               args.is(i, "-oqi") || args.is(i, "-owrl")) {
      static const char* const names[] = {"-olas", "-ovzk", "-obin", "-oqi", "-owrl"};
      for (I32 f = 0; f < 5; f++) {
        if (args.is(i, names[f])) set_format(f + 1);
      }
      args.consume(i);
    } else if (args.is(i, "-otxt")) {
      format = FORMAT_TXT;
      format_specified = true;
      args.consume(i);
    } else if (args.is(i, "-stdout")) {
      use_stdout = true;
      args.consume(i);
    } else if (args.is(i, "-nil")) {
      use_nil = true;
      use_stdout = false;
      args.consume(i);
    } else if (args.is(i, "-chunk_size")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: number_points\n", arg);
        return false;
      }
      I32 size = 0;
      if (!parse_integer(argv[i + 1], 0, INT_MAX, &size)) {
        print_error("'%s' needs 1 argument: number_points but '%s' is not valid\n", arg,
                    argv[i + 1]);
        return false;
      }
      chunk_size = size;
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-oparse")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: string\n", arg);
        return false;
      }
      parse_string = argv[i + 1];
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-osep")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: separator\n", arg);
        return false;
      }
      separator = argv[i + 1];
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-oscale_rgb")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: scale\n", arg);
        return false;
      }
      scale_rgb = F32(atof(argv[i + 1]));
      args.consume(i, 1);
      i++;
    } else if (args.is(i, "-opts")) {
      pts = true;
      args.consume(i);
    } else if (args.is(i, "-optx")) {
      ptx = true;
      args.consume(i);
    } else if (args.is(i, "-io_obuffer")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: size\n", arg);
        return false;
      }
      I32 size = 0;
      if (!parse_integer(argv[i + 1], 1, kMaxIoBuffer, &size)) {
        print_error("'%s' needs 1 argument: size but '%s' is not a valid size\n", arg, argv[i + 1]);
        return false;
      }
      io_buffer_size = size;
      args.consume(i, 1);
      i++;
    }
  }
  return true;
}

void LASwriterFactory::usage() const {
  print_message("Supported LAS Outputs\n");
  print_message("  -o lidar.las\n");
  print_message("  -o lidar.vzk\n");
  print_message("  -o xyzta.txt -oparse xyzta (on-the-fly to ASCII)\n");
  print_message("  -o terrasolid.bin\n");
  print_message("  -o nasa.qi\n");
  print_message("  -odir C:%cdata%cground (specify output directory)\n", '\\', '\\');
  print_message("  -odix _classified (specify file name appendix)\n");
  print_message("  -ocut 2 (cut the last two characters from name)\n");
  print_message("  -olas -ovzk -otxt -obin -oqfit (specify format)\n");
  print_message("  -stdout (pipe to stdout)\n");
  print_message("  -nil    (pipe to NULL)\n");
}

bool LASwriterFactory::set_chunk_size(I32 size) {
  if (size < 0) return false;
  chunk_size = size;
  return true;
}

bool LASwriterFactory::set_io_buffer_size(I32 size) {
  if (size < 1 || size > kMaxIoBuffer) return false;
  io_buffer_size = size;
  return true;
}

bool LASwriterFactory::apply_directory(std::string& name) const {
  if (!has_directory) return true;
  std::string joined = directory;
  // An empty directory is the current one.
  if (!joined.empty() && joined.back() != '/') joined += '/';
  name = joined + name.substr(base_start(name));
  return true;
}

bool LASwriterFactory::apply_cut(std::string& name) const {
  if (cut == 0) return true;
  const size_t dot = extension_dot(name);
  const size_t end = dot == std::string::npos ? name.size() : dot;
  const size_t length = end - base_start(name);
  // Cutting the whole file part would leave a name that is only an extension.
  if (size_t(cut) >= length) {
    print_error("cannot cut %d characters from the name '%s'\n", cut, name.c_str());
    return false;
  }
  name.erase(end - size_t(cut), size_t(cut));
  return true;
}

void LASwriterFactory::apply_appendix(std::string& name) const {
  if (appendix.empty()) return;
  const size_t dot = extension_dot(name);
  if (dot == std::string::npos) {
    name += appendix;
  } else {
    name.insert(dot, appendix);
  }
}

bool LASwriterFactory::set_file_name(const char* name) {
  file_name.clear();
  if (name == nullptr) return true;
  std::string n = name;
  while (!n.empty() && n.back() == ' ') n.pop_back();
  if (n.empty()) return true;
  const size_t dot = extension_dot(n);
  if (dot != std::string::npos && dot + 4 >= n.size()) {
    if (!format_specified) {
      const std::string extension = n.substr(dot + 1);
      auto has = [&](const char* a, const char* b) {
        return extension.find(a) != std::string::npos || extension.find(b) != std::string::npos;
      };
      if (has("vzk", "VZK")) {
        format = FORMAT_VZK;
      } else if (has("las", "LAS")) {
        format = FORMAT_LAS;
      } else if (has("bin", "BIN")) {
        format = FORMAT_BIN;
      } else if (has("qi", "QI")) {
        format = FORMAT_QFIT;
      } else if (has("wrl", "WRL")) {
        format = FORMAT_WRL;
      } else {
        format = FORMAT_TXT;
      }
    }
  } else {
    n += '.';
    n += extension_of(format);
  }
  apply_directory(n);
  if (!apply_cut(n)) return false;
  apply_appendix(n);
  file_name = n;
  return true;
}

bool LASwriterFactory::set_format(I32 f) {
  if (f < FORMAT_NONE || f > FORMAT_TXT) return false;
  format = f;
  format_specified = true;
  if (!file_name.empty()) {
    const size_t dot = extension_dot(file_name);
    if (dot != std::string::npos) {
      file_name.resize(dot + 1);
      file_name += extension_of(format);
    }
  }
  return true;
}

bool LASwriterFactory::set_directory(const char* dir) {
  directory.clear();
  has_directory = false;
  if (dir == nullptr) return true;
  if (strchr(dir, ';') || strchr(dir, '"')) {
    print_warning("specified '-odir' seems to contain a substring '\"' or ';'.\n");
    print_message("         if the directory name is given in quotes it must not end\n");
    print_message("         with a backslash, which would escape the closing quote.\n");
    print_message("         write it as -odir \"D:\\data\" and not -odir \"D:\\data\\\".\n");
  }
  directory = dir;
  // Keep "/" itself: it names the root.
  if (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  has_directory = true;
  if (!file_name.empty()) apply_directory(file_name);
  return directory.empty() || platform::is_directory(directory.c_str());
}

bool LASwriterFactory::set_appendix(const char* text) {
  appendix = text ? text : "";
  if (!file_name.empty()) apply_appendix(file_name);
  return true;
}

bool LASwriterFactory::set_cut(I32 count) {
  if (count < 0) {
    print_error("cannot cut %d characters from a name\n", count);
    return false;
  }
  cut = count;
  if (!file_name.empty()) return apply_cut(file_name);
  return true;
}

bool LASwriterFactory::is_protected(const std::string& name, std::string* which) const {
  for (const std::string& input : protected_files) {
    if (platform::same_file(name.c_str(), input.c_str())) {
      if (which) *which = input;
      return true;
    }
  }
  return false;
}

std::string LASwriterFactory::temp_name(const std::string& input) {
  const char* extension = extension_of(format);
  for (int k = 1;; k++) {
    std::string name =
        k == 1 ? std::string("temp.") + extension : "temp_" + std::to_string(k) + "." + extension;
    // Every input that is derived onto itself gets its own temporary name.
    if (temp_names_used.count(name) || name == input ||
        platform::same_file(name.c_str(), input.c_str()) || is_protected(name, nullptr)) {
      continue;
    }
    temp_names_used.insert(name);
    return name;
  }
}

bool LASwriterFactory::make_file_name(const char* input_name, I32 number) {
  const char* extension = extension_of(format);
  std::string name;
  const bool have_input = input_name != nullptr && input_name[0] != '\0';
  if (number < 0) {
    if (!have_input) {
      name = std::string("output.") + extension;
    } else {
      name = input_name;
      const size_t dot = extension_dot(name);
      if (dot != std::string::npos) name.resize(dot);
      if (cut) {
        const size_t length = name.size() - base_start(name);
        if (size_t(cut) >= length) {
          print_error("cannot cut %d characters from the name '%s'\n", cut, input_name);
          return false;
        }
        name.resize(name.size() - size_t(cut));
      }
      if (!appendix.empty()) {
        name += appendix;
      } else if (!has_directory && cut == 0 && number == -1) {
        name += "_1";
      }
      name += '.';
      name += extension;
    }
  } else {
    if (have_input) {
      name = input_name;
      if (!apply_cut(name)) return false;
    } else if (!file_name.empty()) {
      name = file_name;
    } else {
      name = "output_0000000.xxx";
    }
    size_t dot = extension_dot(name);
    if (dot == std::string::npos) dot = name.size();
    // Every digit before the extension is rewritten, so that no digit of an
    // earlier number survives.
    I64 rest = number;
    const size_t first = base_start(name);
    for (size_t k = dot; k > first && name[k - 1] >= '0' && name[k - 1] <= '9'; k--) {
      name[k - 1] = char('0' + rest % 10);
      rest /= 10;
    }
    if (rest != 0) {
      print_warning("file name number %d too big to store in '%s'. use more digits.\n", number,
                    name.c_str());
    }
    name.resize(dot);
    name += '.';
    name += extension;
  }
  apply_directory(name);
  if (have_input && !force &&
      (name == input_name || platform::same_file(name.c_str(), input_name))) {
    const std::string changed = temp_name(input_name);
    print_warning("generated output name '%s'\n", input_name);
    print_message("         identical to input name. changed to '%s'.\n", changed.c_str());
    print_message("         you can override this safety measure with '-oforce'.\n");
    name = changed;
  }
  file_name = name;
  return true;
}

std::unique_ptr<LASwriter> LASwriterFactory::open(const LASheader* header) {
  const U32 compressor = (format == FORMAT_VZK) ? (native ? 3 : 2) : 0;
  const bool las_format = format == FORMAT_NONE || format == FORMAT_LAS || format == FORMAT_VZK;
  static const char* const writer_names[] = {"laswriterlas", "laswriterlas",  "laswriterlas",
                                             "laswriterbin", "laswriterqfit", "laswriterwrl",
                                             "laswritertxt"};
  if (use_nil) {
    auto writer = std::make_unique<LASwriterLAS>();
    if (!writer->open_nil(header, compressor, 2, chunk_size)) {
      print_error("cannot open laswriterlas to NULL\n");
      return nullptr;
    }
    return writer;
  }
  if (!file_name.empty()) {
    if (format < FORMAT_NONE || format > FORMAT_TXT) {
      print_error("unknown format %d\n", format);
      return nullptr;
    }
    std::string input;
    // Opening for writing truncates, and an input may still be read later.
    if (is_protected(file_name, &input)) {
      print_error("output file '%s' is the input file '%s'. refusing to overwrite it.\n",
                  file_name.c_str(), input.c_str());
      return nullptr;
    }
    if (!las_format) {
      print_error("writing %s files is not supported\n", extension_of(format));
      print_error("cannot open %s with file name '%s'\n", writer_names[format], file_name.c_str());
      return nullptr;
    }
    auto writer = std::make_unique<LASwriterLAS>();
    if (!writer->open(file_name.c_str(), header, compressor, 2, chunk_size, io_buffer_size)) {
      print_error("cannot open laswriterlas with file name '%s'\n", file_name.c_str());
      return nullptr;
    }
    return writer;
  }
  if (use_stdout) {
    if (format < FORMAT_NONE || format > FORMAT_TXT) {
      print_error("unknown format %d\n", format);
      return nullptr;
    }
    if (!las_format) {
      print_error("writing %s files is not supported\n", extension_of(format));
      print_error("cannot open %s to stdout\n", writer_names[format]);
      return nullptr;
    }
    auto writer = std::make_unique<LASwriterLAS>();
    if (!writer->open(stdout, header, compressor, 2, chunk_size)) {
      print_error("cannot open laswriterlas to stdout\n");
      return nullptr;
    }
    return writer;
  }
  print_error("no laswriter output specified\n");
  return nullptr;
}
