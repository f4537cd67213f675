// Where the shared real-file samples live, and a temporary directory.
#pragma once

#include <string>

// The folder of real LAS samples, or "" when the shared folder is absent.
std::string shared_las_dir();

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
