#include "tests/support/test_data.hpp"

#include <cstdlib>
#include <filesystem>

#include "las/core/platform.hpp"

std::string shared_las_dir() {
  const char* env = getenv("TREVALON_SHARED");
  std::string base = env ? env : "../shared";
  std::string dir = base + "/testdata/las";
  if (!platform::is_directory(dir.c_str())) return std::string();
  // Absolute, so that tests may hand it to programs run elsewhere.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::canonical(dir, ec);
  return ec ? dir : absolute.string();
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "trevalon-XXXXXX").string();
  char* made = mkdtemp(&pattern[0]);
  path_ = made ? made : ".";
}

TempDir::~TempDir() {
  if (path_ != ".") {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
}
