// The only place that talks to the operating system directly (POSIX).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "las/core/types.hpp"

namespace platform {

// 64-bit positioning of C files; false / -1 on failure.
bool seek(FILE* file, I64 position, int whence = SEEK_SET);
I64 tell(FILE* file);

// Opens a file by its (UTF-8) name.
FILE* open_file(const char* name, const char* mode);

// Creates a new file that must not exist yet (O_EXCL, mode 0600), opened for
// reading and writing; nullptr when the name is taken or creation fails.
FILE* create_exclusive(const char* name);

// Flushes the file and cuts it to `length` bytes; false on failure.
bool truncate_file(FILE* file, I64 length);

bool has_wildcard(const std::string& pattern);
// Regular files matching a wildcard pattern, sorted bytewise; directories skipped.
std::vector<std::string> glob_files(const std::string& pattern);
bool is_directory(const char* path);
bool file_exists(const char* path);
// Same device and inode; false when either does not exist.
bool same_file(const char* a, const char* b);

int process_id();
// Seconds since the first call in this process, from a steady clock.
double elapsed_seconds();

// Starts a program found on the search path with its standard output on a
// pipe, without a shell. The returned process is waited for by close().
class PipeProcess {
 public:
  PipeProcess() = default;
  ~PipeProcess();
  PipeProcess(const PipeProcess&) = delete;
  PipeProcess& operator=(const PipeProcess&) = delete;
  bool start(const std::vector<std::string>& argv);
  FILE* output() const { return out_; }
  // Closes the pipe and waits; the exit status, or -1.
  int close();

 private:
  FILE* out_ = nullptr;
  long pid_ = -1;
};

}  // namespace platform

// The C-library style generator: values 0 to 32767, the same on every machine.
class Rand15 {
 public:
  explicit Rand15(U32 seed = 1) : state_(seed) {}
  void seed(U32 seed) { state_ = seed; }
  int next() {
    state_ = state_ * 214013u + 2531011u;
    return int((state_ >> 16) & 0x7FFF);
  }

 private:
  U32 state_;
};
