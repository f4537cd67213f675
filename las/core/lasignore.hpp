// Rules that leave points out of a computation without removing them: by
// classification, by return type and by flags. Layers carry their rules as a
// list of doubles, so the rules encode into and decode from one.
#pragma once

#include <vector>

#include "las/core/laspoint.hpp"
#include "las/core/types.hpp"

class LASignore {
 public:
  // Rule bits of the flags; bits 0-7 mark class words in use.
  static constexpr U32 CLASS_WORDS = 0x000000FFu;
  static constexpr U32 FIRST_OF_MANY = 0x00000100u;
  static constexpr U32 LAST_OF_MANY = 0x00000200u;
  static constexpr U32 INTERMEDIATE = 0x00000400u;
  static constexpr U32 SINGLE = 0x00000800u;
  static constexpr U32 RETURNS = FIRST_OF_MANY | LAST_OF_MANY | INTERMEDIATE | SINGLE;
  static constexpr U32 SYNTHETIC = 0x00001000u;
  static constexpr U32 KEYPOINT = 0x00002000u;
  static constexpr U32 WITHHELD = 0x00004000u;
  static constexpr U32 OVERLAP = 0x00008000u;

  LASignore() = default;
  virtual ~LASignore() = default;
  LASignore(const LASignore&) = default;
  LASignore& operator=(const LASignore&) = default;

  // Consumes (blanks) every "-ignore_" option in argv[1..argc-1] with its
  // values and leaves all other arguments. False after printing an error.
  bool parse(int argc, char* argv[]);
  // Parses the "-ignore_" option at argv[*i]; on success the option and its
  // values are blanked and *i is the index of the last argument consumed.
  bool parse(int argc, char* argv[], int* i);
  void usage() const;

  // True when the rules exclude the point.
  bool ignore(const LASpoint& point) const;

  // Values that encode() appends: none when no rule is set.
  U32 encoded_count() const;
  // Appends the rules at list[*position] and advances *position; the list
  // must have room for encoded_count() more values.
  void encode(F64* list, U32* position) const;
  void encode(std::vector<F64>& list) const;
  // Reads rules from list[*position], the list holding `length` values. At
  // the end of the list nothing is read and the rules stay as they are. On
  // failure the rules stay unchanged.
  bool decode(U32* position, U32 length, const F64* list);

  void clear();
  bool is_empty() const { return flags_ == 0; }
  U32 get_flags() const { return flags_; }
  U32 get_class_word(U32 k) const { return k < 8 ? class_words_[k] : 0; }
  // Enters one class code 0-255 into the class mask.
  void add_class(U32 code);
  void set_flags(U32 bits) { flags_ |= bits; }

 private:
  U32 flags_ = 0;
  U32 class_words_[8] = {0, 0, 0, 0, 0, 0, 0, 0};
};
