#include "las/core/option_text.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void append_format(std::string& text, const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(small, sizeof(small), format, args);
  va_end(args);
  if (n < 0) {
    va_end(copy);
    return;
  }
  if (size_t(n) < sizeof(small)) {
    text.append(small, size_t(n));
  } else {
    std::string big(size_t(n) + 1, '\0');
    vsnprintf(&big[0], big.size(), format, copy);
    text.append(big.data(), size_t(n));
  }
  va_end(copy);
}

std::string format_double(double value, const char* directive) {
  std::string text;
  append_format(text, directive, value);
  double back;
  if (sscanf(text.c_str(), "%lf", &back) == 1 &&
      (back == value || (back != back && value != value))) {
    return text;
  }
  text.clear();
  append_format(text, "%.17g", value);
  return text;
}

std::string format_float(float value, const char* directive) {
  std::string text;
  append_format(text, directive, double(value));
  float back;
  if (sscanf(text.c_str(), "%f", &back) == 1 &&
      (back == value || (back != back && value != value))) {
    return text;
  }
  text.clear();
  append_format(text, "%.9g", double(value));
  return text;
}

std::vector<std::string> split_command(const std::string& command) {
  std::vector<std::string> words;
  size_t i = 0, n = command.size();
  while (i < n) {
    while (i < n && command[i] == ' ') i++;
    if (i >= n) break;
    std::string word;
    if (command[i] == '"') {
      size_t end = command.find('"', i + 1);
      if (end == std::string::npos) end = n;
      word = command.substr(i + 1, end - i - 1);
      i = (end < n) ? end + 1 : n;
    } else {
      size_t end = command.find(' ', i);
      if (end == std::string::npos) end = n;
      word = command.substr(i, end - i);
      i = end;
    }
    words.push_back(word);
  }
  return words;
}

OwnedArgs::OwnedArgs(const std::vector<std::string>& words) : words_(words) {
  words_.insert(words_.begin(), std::string());
  for (std::string& w : words_) pointers_.push_back(&w[0]);
  pointers_.push_back(nullptr);
}

std::string quote_if_needed(const std::string& word) {
  if (word.find(' ') == std::string::npos && !word.empty()) return word;
  return "\"" + word + "\"";
}
