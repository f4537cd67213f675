#include "las/core/messages.hpp"

#include <cstdarg>
#include <cstdio>

namespace {
void print_with(const char* prefix, const char* format, va_list args) {
  if (prefix) fputs(prefix, stderr);
  vfprintf(stderr, format, args);
}
}  // namespace

void print_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_with("ERROR: ", format, args);
  va_end(args);
}

void print_warning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_with("WARNING: ", format, args);
  va_end(args);
}

void print_message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_with(nullptr, format, args);
  va_end(args);
}
