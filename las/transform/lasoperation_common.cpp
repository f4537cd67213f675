#include "las/transform/lasoperation_common.hpp"

#include <cstdio>

#include "las/core/messages.hpp"
#include "las/core/platform.hpp"

namespace transform_detail {

std::string OptionScan::head() const {
  std::string text;
  append_format(text, "'%s' %s %d argument%s: %s", option(), singular_ ? "need" : "needs", count_,
                count_ == 1 ? "" : "s", names_);
  return text;
}

bool OptionScan::need(int n, const char* names, bool singular) {
  count_ = n;
  names_ = names;
  singular_ = singular;
  if (args_.has(index_, n)) return true;
  print_error("%s\n", head().c_str());
  return false;
}

bool OptionScan::scanned(int k, bool ok, const char* what) {
  if (ok) return true;
  // The value messages always say "needs".
  singular_ = false;
  print_error("%s but '%s' is no valid %s\n", head().c_str(), arg(k), what);
  return false;
}

bool OptionScan::value(int k, const char* directive, F64* v, const char* what) {
  return scanned(k, args_.scan(index_ + k, directive, v), what);
}
bool OptionScan::value(int k, const char* directive, F32* v, const char* what) {
  return scanned(k, args_.scan(index_ + k, directive, v), what);
}
bool OptionScan::value(int k, const char* directive, I32* v, const char* what) {
  return scanned(k, args_.scan(index_ + k, directive, v), what);
}
bool OptionScan::value(int k, const char* directive, U32* v, const char* what) {
  return scanned(k, args_.scan(index_ + k, directive, v), what);
}

int OptionScan::consume() {
  args_.consume(index_, count_);
  return index_ + count_;
}

bool read_text_lines(const std::string& file_name, size_t max_length,
                     std::vector<std::string>& lines) {
  FILE* file = platform::open_file(file_name.c_str(), "r");
  if (!file) return false;
  std::unique_ptr<FILE, int (*)(FILE*)> guard(file, fclose);
  std::string line;
  bool overlong = false;
  unsigned number = 0;
  auto finish = [&]() {
    number++;
    if (overlong) {
      print_warning("line %u of '%s' is longer than %u characters and is skipped\n", number,
                    file_name.c_str(), unsigned(max_length));
    } else {
      lines.push_back(line);
    }
    line.clear();
    overlong = false;
  };
  int c;
  bool pending = false;
  while ((c = getc(file)) != EOF) {
    pending = true;
    if (c == '\n') {
      finish();
      pending = false;
      continue;
    }
    if (c == '\r') continue;
    if (line.size() < max_length) {
      line.push_back(char(c));
    } else {
      overlong = true;
    }
  }
  if (pending) finish();
  return true;
}

}  // namespace transform_detail
