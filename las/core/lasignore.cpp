#include "las/core/lasignore.hpp"

#include <cmath>
#include <cstring>

#include "las/core/argcursor.hpp"
#include "las/core/messages.hpp"

void LASignore::clear() {
  flags_ = 0;
  for (U32& w : class_words_) w = 0;
}

void LASignore::add_class(U32 code) {
  if (code > 255) return;
  flags_ |= (1u << (code >> 5));
  class_words_[code >> 5] |= (1u << (code & 31));
}

void LASignore::usage() const {
  print_message("Ignore points based on classifications.\n");
  print_message("  -ignore_class 7\n");
  print_message("  -ignore_class 0 1 7 33\n");
  print_message("Ignore points based on return type.\n");
  print_message("  -ignore_first -ignore_first_of_many\n");
  print_message("  -ignore_last -ignore_last_of_many\n");
  print_message("  -ignore_intermediate\n");
  print_message("  -ignore_single\n");
  print_message("Ignore points based on flags.\n");
  print_message("  -ignore_synthetic -ignore_keypoint\n");
  print_message("  -ignore_withheld -ignore_overlap\n");
}

bool LASignore::parse(int argc, char* argv[]) {
  for (int i = 1; i < argc; i++) {
    if (strncmp(argv[i], "-ignore_", 8) != 0) continue;
    if (!parse(argc, argv, &i)) return false;
  }
  return true;
}

bool LASignore::parse(int argc, char* argv[], int* index) {
  ArgCursor args(argc, argv);
  int i = *index;
  const char* option = argv[i];
  if (args.is(i, "-ignore_class") || args.is(i, "-ignore_extended_class")) {
    if (!args.has(i, 1)) {
      print_error("'%s' needs 1 at least argument: classification\n", option);
      return false;
    }
    U32 code;
    if (!args.scan(i + 1, "%u", &code)) {
      print_error("'%s' needs arguments between 0 and 255 but '%s' is no valid code\n", option,
                  argv[i + 1]);
      return false;
    }
    int last = i + 1;
    for (;;) {
      if (code > 255) {
        print_error("'%s' needs arguments between 0 and 255 but '%u' is out of range\n", option,
                    code);
        return false;
      }
      add_class(code);
      // Codes end at the first argument that does not begin with a digit.
      if (!args.digit_at(last + 1) || !args.scan(last + 1, "%u", &code)) break;
      last++;
    }
    args.consume(i, last - i);
    *index = last;
    return true;
  }
  if (args.is(i, "-ignore_class_mask")) {
    if (!args.has(i, 1)) {
      print_error("'%s' needs 1 argument: mask\n", option);
      return false;
    }
    U32 mask;
    if (!args.scan(i + 1, "%u", &mask)) {
      print_error(
          "'%s' needs argument between 0x00000000 and 0xFFFFFFFF but '%s' is no valid mask\n",
          option, argv[i + 1]);
      return false;
    }
    if (mask == 0 || mask == 0xFFFFFFFFu) {
      print_error("'%s' needs argument between 0x00000000 and 0xFFFFFFFF but %u makes no sense\n",
                  option, mask);
      return false;
    }
    class_words_[0] = mask;
    flags_ |= 1u;
    args.consume(i, 1);
    *index = i + 1;
    return true;
  }
  static const struct {
    const char* option;
    U32 bits;
  } kFlagOptions[] = {
      {"-ignore_first_of_many", FIRST_OF_MANY},
      {"-ignore_last_of_many", LAST_OF_MANY},
      {"-ignore_intermediate", INTERMEDIATE},
      {"-ignore_single", SINGLE},
      {"-ignore_first", SINGLE | FIRST_OF_MANY},
      {"-ignore_last", SINGLE | LAST_OF_MANY},
      {"-ignore_synthetic", SYNTHETIC},
      {"-ignore_keypoint", KEYPOINT},
      {"-ignore_withheld", WITHHELD},
      {"-ignore_overlap", OVERLAP},
  };
  for (const auto& entry : kFlagOptions) {
    if (args.is(i, entry.option)) {
      flags_ |= entry.bits;
      args.consume(i);
      return true;
    }
  }
  print_error("cannot understand argument '%s'\n", option);
  return false;
}

bool LASignore::ignore(const LASpoint& point) const {
  if (flags_ == 0) return false;
  // Only class word 0 is consulted: the legacy class has 5 bits.
  if ((flags_ & CLASS_WORDS) && ((class_words_[0] >> point.classification) & 1u)) return true;
  if (flags_ & RETURNS) {
    const U32 r = point.return_number;
    const U32 n = point.number_of_returns;
    if ((flags_ & SINGLE) && n <= 1) return true;
    if ((flags_ & FIRST_OF_MANY) && n > 1 && r <= 1) return true;
    if ((flags_ & LAST_OF_MANY) && n > 1 && r >= n) return true;
    if ((flags_ & INTERMEDIATE) && r > 1 && r < n) return true;
  }
  if ((flags_ & SYNTHETIC) && point.synthetic_flag) return true;
  if ((flags_ & KEYPOINT) && point.keypoint_flag) return true;
  if ((flags_ & WITHHELD) && point.withheld_flag) return true;
  if ((flags_ & OVERLAP) && point.get_overlap_flag()) return true;
  return false;
}

U32 LASignore::encoded_count() const {
  if (flags_ == 0) return 0;
  return 1 + U32(__builtin_popcount(flags_ & CLASS_WORDS));
}

void LASignore::encode(F64* list, U32* position) const {
  if (flags_ == 0) return;
  list[(*position)++] = F64(flags_);
  for (U32 k = 0; k < 8; k++) {
    if (flags_ & (1u << k)) list[(*position)++] = F64(class_words_[k]);
  }
}

void LASignore::encode(std::vector<F64>& list) const {
  const size_t start = list.size();
  list.resize(start + encoded_count());
  U32 position = U32(start);
  encode(list.data(), &position);
}

// A rule value must be a whole number that fits in 32 unsigned bits.
static bool rule_value(F64 v, U32* out) {
  if (!(v >= 0.0 && v <= 4294967295.0) || std::floor(v) != v) return false;
  *out = U32(v);
  return true;
}

bool LASignore::decode(U32* position, U32 length, const F64* list) {
  U32 p = *position;
  if (p == length) return true;
  if (p > length || !list) return false;
  U32 flags;
  if (!rule_value(list[p++], &flags)) return false;
  U32 words[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (U32 k = 0; k < 8; k++) {
    if (!(flags & (1u << k))) continue;
    if (p >= length || !rule_value(list[p++], &words[k])) return false;
  }
  flags_ = flags;
  for (U32 k = 0; k < 8; k++) class_words_[k] = words[k];
  *position = p;
  return true;
}
