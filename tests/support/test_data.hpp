// Where the shared real-file samples live, and a temporary directory.
#pragma once

#include <string>
#include <vector>

#include "las/core/types.hpp"

// The folder of real LAS samples, or "" when the shared folder is absent.
std::string shared_las_dir();

// The point records of a LAS file, raw, with the point type and record
// length from its header: false when it is not a LAS file. The count is the
// 64-bit one of LAS 1.4 where that is set, cut to the records the file holds.
bool read_las_records(const std::string& path, U8& type, U16& length,
                      std::vector<std::vector<U8>>& records);

// A fresh directory removed with its contents at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

#define SKIP_WITHOUT_SHARED_DATA(dir) \
  std::string dir = shared_las_dir(); \
  if (dir.empty()) GTEST_SKIP() << "shared LAS samples not found (../shared/testdata/las)"
