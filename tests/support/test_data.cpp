#include "tests/support/test_data.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

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

bool read_las_records(const std::string& path, U8& type, U16& length,
                      std::vector<std::vector<U8>>& records) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<U8> b((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (b.size() < 227 || memcmp(b.data(), "LASF", 4) != 0) return false;
  auto le32 = [&b](size_t at) {
    return U32(b[at]) | (U32(b[at + 1]) << 8) | (U32(b[at + 2]) << 16) | (U32(b[at + 3]) << 24);
  };
  const U32 offset = le32(96);
  type = b[104] & 0x3F;
  length = U16(b[105] | (b[106] << 8));
  U64 count = le32(107);
  if (b[25] >= 4 && b.size() >= 255) {
    U64 extended;
    memcpy(&extended, &b[247], 8);
    if (extended != 0) count = extended;
  }
  if (length == 0 || offset > b.size()) return false;
  count = std::min<U64>(count, (b.size() - offset) / length);
  records.clear();
  for (U64 i = 0; i < count; i++) {
    const U8* r = b.data() + offset + i * length;
    records.emplace_back(r, r + length);
  }
  return true;
}
