// The one place where the library prints its messages to standard error.
#pragma once

#define TREVALON_PRINTF(a, b) __attribute__((format(printf, a, b)))

// "ERROR: " + text; the format holds the rest of the line including its "\n".
void print_error(const char* format, ...) TREVALON_PRINTF(1, 2);
// "WARNING: " + text; the format holds the rest of the line including its "\n".
void print_warning(const char* format, ...) TREVALON_PRINTF(1, 2);
// Verbose output and continuation lines, printed as given.
void print_message(const char* format, ...) TREVALON_PRINTF(1, 2);
