// Option text shared by filters, transforms and layers: writing numbers so
// that they parse back to the same value, and splitting a command text into
// words again.
#pragma once

#include <string>
#include <vector>

// Appends a printf-formatted piece to text.
void append_format(std::string& text, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// The value written with the given short directive ("%lf", "%g", ...) when
// that reads back ("%lf") identically, otherwise with "%.17g".
std::string format_double(double value, const char* directive);
// The same for single precision: falls back to "%.9g".
std::string format_float(float value, const char* directive);

// Splits at runs of blanks; a word in double quotes may hold blanks, and its
// quotes are removed.
std::vector<std::string> split_command(const std::string& command);

// An argument vector over owned words, with the empty entry 0 that parsers skip.
class OwnedArgs {
 public:
  explicit OwnedArgs(const std::vector<std::string>& words);
  int argc() const { return int(pointers_.size()) - 1; }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

// Quotes a file name when it holds a blank, so that split_command gives it back whole.
std::string quote_if_needed(const std::string& word);
