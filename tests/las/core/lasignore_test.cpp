#include "las/core/lasignore.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "las/core/option_text.hpp"

namespace {

struct ParseCase {
  std::vector<std::string> args;  // after the program name
  bool ok;
  U32 flags;
  U32 word0;
  U32 word1;
  std::vector<std::string> left;  // arguments not consumed
  std::string error;
};

TEST(LASignore, ParsesOptionsAndLeavesTheRest) {
  const ParseCase cases[] = {
      {{"-ignore_class", "2", "7", "-i", "in.las"}, true, 0x1, 0x84, 0, {"-i", "in.las"}, ""},
      {{"-ignore_extended_class", "0", "33"}, true, 0x3, 0x1, 0x2, {}, ""},
      // Codes stop at the first argument that does not begin with a digit.
      {{"-ignore_class", "5", "-7", "x"}, true, 0x1, 0x20, 0, {"-7", "x"}, ""},
      {{"-ignore_class", "1", "2x", "v3"}, true, 0x1, 0x6, 0, {"v3"}, ""},
      {{"-v", "-ignore_class", "4", "-ignore_withheld", "-o", "out.las"},
       true,
       0x4001,
       0x10,
       0,
       {"-v", "-o", "out.las"},
       ""},
      {{"-ignore_class", "300"},
       false,
       0,
       0,
       0,
       {},
       "ERROR: '-ignore_class' needs arguments between 0 and 255 but '300' is out of range\n"},
      {{"-ignore_class", "3", "256"},
       false,
       0,
       0,
       0,
       {},
       "ERROR: '-ignore_class' needs arguments between 0 and 255 but '256' is out of range\n"},
      {{"-ignore_class", "abc"},
       false,
       0,
       0,
       0,
       {},
       "ERROR: '-ignore_class' needs arguments between 0 and 255 but 'abc' is no valid code\n"},
      {{"-ignore_class"},
       false,
       0,
       0,
       0,
       {},
       "ERROR: '-ignore_class' needs 1 at least argument: classification\n"},
      {{"-ignore_class_mask", "6"}, true, 0x1, 6, 0, {}, ""},
      {{"-ignore_class_mask", "0"},
       false,
       0,
       0,
       0,
       {},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but 0 "
       "makes no sense\n"},
      {{"-ignore_class_mask", "4294967295"},
       false,
       0,
       0,
       0,
       {},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but "
       "4294967295 makes no sense\n"},
      {{"-ignore_class_mask", "m"},
       false,
       0,
       0,
       0,
       {},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but 'm' "
       "is no valid mask\n"},
      {{"-ignore_class_mask"},
       false,
       0,
       0,
       0,
       {},
       "ERROR: '-ignore_class_mask' needs 1 argument: mask\n"},
      {{"-ignore_first"}, true, 0x900, 0, 0, {}, ""},
      {{"-ignore_last"}, true, 0xA00, 0, 0, {}, ""},
      {{"-ignore_first_of_many", "-ignore_last_of_many", "-ignore_intermediate", "-ignore_single"},
       true,
       0xF00,
       0,
       0,
       {},
       ""},
      {{"-ignore_synthetic", "-ignore_keypoint", "-ignore_withheld", "-ignore_overlap"},
       true,
       0xF000,
       0,
       0,
       {},
       ""},
      {{"-ignore_everything"},
       false,
       0,
       0,
       0,
       {},
       "ERROR: cannot understand argument '-ignore_everything'\n"},
  };
  for (const ParseCase& c : cases) {
    OwnedArgs args(c.args);
    LASignore ignore;
    testing::internal::CaptureStderr();
    const bool ok = ignore.parse(args.argc(), args.argv());
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string label = c.args.empty() ? "" : c.args[0] + " " + std::to_string(c.args.size());
    EXPECT_EQ(ok, c.ok) << label;
    EXPECT_EQ(err, c.error) << label;
    if (!c.ok) continue;
    EXPECT_EQ(ignore.get_flags(), c.flags) << label;
    EXPECT_EQ(ignore.get_class_word(0), c.word0) << label;
    EXPECT_EQ(ignore.get_class_word(1), c.word1) << label;
    std::vector<std::string> left;
    for (int i = 1; i < args.argc(); i++) {
      if (args.argv()[i][0]) left.push_back(args.argv()[i]);
    }
    EXPECT_EQ(left, c.left) << label;
  }
}

TEST(LASignore, SingleOptionParseReportsTheLastIndexConsumed) {
  OwnedArgs args({"-ignore_class", "1", "2", "-keep", "-ignore_single"});
  LASignore ignore;
  int i = 1;
  ASSERT_TRUE(ignore.parse(args.argc(), args.argv(), &i));
  EXPECT_EQ(i, 3);
  i = 5;
  ASSERT_TRUE(ignore.parse(args.argc(), args.argv(), &i));
  EXPECT_EQ(i, 5);
  EXPECT_STREQ(args.argv()[4], "-keep");
  EXPECT_STREQ(args.argv()[5], "");
}

struct Pt {
  U8 cls = 1;
  U8 ret = 1, num = 1;
  bool synthetic = false, keypoint = false, withheld = false, overlap = false;
};

LASpoint& fill(LASpoint& p, const Pt& v) {
  p.classification = v.cls;
  p.return_number = v.ret;
  p.number_of_returns = v.num;
  p.synthetic_flag = v.synthetic;
  p.keypoint_flag = v.keypoint;
  p.withheld_flag = v.withheld;
  p.set_overlap_flag(v.overlap);
  return p;
}

TEST(LASignore, ExclusionRules) {
  Pt single;
  Pt first;  // 1 of 3
  first.num = 3;
  Pt middle;  // 2 of 3
  middle.ret = 2;
  middle.num = 3;
  Pt last;  // 3 of 3
  last.ret = 3;
  last.num = 3;
  Pt ground;
  ground.cls = 2;
  Pt flagged;
  flagged.withheld = true;
  Pt overlapped;
  overlapped.overlap = true;
  Pt synthetic;
  synthetic.synthetic = true;
  Pt keypoint;
  keypoint.keypoint = true;
  struct Case {
    std::vector<std::string> options;
    Pt point;
    bool excluded;
  } cases[] = {
      {{}, ground, false},
      {{"-ignore_class", "2"}, ground, true},
      {{"-ignore_class", "2"}, single, false},
      // Codes above 31 are kept but the 5-bit class never matches them.
      {{"-ignore_class", "34"}, ground, false},
      {{"-ignore_class_mask", "4"}, ground, true},
      {{"-ignore_single"}, single, true},
      {{"-ignore_first"}, single, true},
      {{"-ignore_first"}, first, true},
      {{"-ignore_first"}, middle, false},
      {{"-ignore_first_of_many"}, single, false},
      {{"-ignore_intermediate"}, middle, true},
      {{"-ignore_last"}, middle, false},
      {{"-ignore_last"}, last, true},
      {{"-ignore_last"}, single, true},
      {{"-ignore_last_of_many"}, last, true},
      {{"-ignore_last_of_many"}, single, false},
      {{"-ignore_withheld"}, flagged, true},
      {{"-ignore_withheld"}, single, false},
      {{"-ignore_overlap"}, overlapped, true},
      {{"-ignore_synthetic"}, synthetic, true},
      {{"-ignore_keypoint"}, keypoint, true},
      {{"-ignore_keypoint"}, synthetic, false},
  };
  for (const Case& c : cases) {
    OwnedArgs args(c.options);
    LASignore ignore;
    ASSERT_TRUE(ignore.parse(args.argc(), args.argv()));
    LASpoint p;
    const std::string label = c.options.empty() ? "none" : c.options[0];
    EXPECT_EQ(ignore.ignore(fill(p, c.point)), c.excluded) << label;
  }
}

TEST(LASignore, EncodesAndDecodesAsDoubles) {
  OwnedArgs args({"-ignore_class", "1", "-ignore_withheld"});
  LASignore ignore;
  ASSERT_TRUE(ignore.parse(args.argc(), args.argv()));
  std::vector<F64> list;
  ignore.encode(list);
  EXPECT_EQ(list, (std::vector<F64>{16385.0, 2.0}));

  // Behind three leading values, with a class in word 7 as well.
  LASignore wide = ignore;
  wide.add_class(255);
  std::vector<F64> more = {1.0, 12.0, 1.0};
  wide.encode(more);
  ASSERT_EQ(more.size(), 6u);
  EXPECT_EQ(more[3], F64(0x4081));
  EXPECT_EQ(more[5], 2147483648.0);
  LASignore back;
  U32 position = 3;
  ASSERT_TRUE(back.decode(&position, U32(more.size()), more.data()));
  EXPECT_EQ(position, 6u);
  EXPECT_EQ(back.get_flags(), wide.get_flags());
  for (U32 k = 0; k < 8; k++) EXPECT_EQ(back.get_class_word(k), wide.get_class_word(k));

  // No rules: nothing written; at the end of a list nothing read.
  LASignore none;
  EXPECT_EQ(none.encoded_count(), 0u);
  std::vector<F64> empty;
  none.encode(empty);
  EXPECT_TRUE(empty.empty());
  position = 2;
  EXPECT_TRUE(ignore.decode(&position, 2, list.data()));
  EXPECT_EQ(ignore.get_flags(), 0x4001u);
  position = 3;
  EXPECT_FALSE(ignore.decode(&position, 2, list.data()));
}

TEST(LASignore, DecodingRefusesValuesThatAreNotRuleWords) {
  const F64 inf = std::numeric_limits<F64>::infinity();
  const std::vector<std::vector<F64>> bad = {
      {-1.0},
      {4294967296.0},
      {0.5},
      {std::nan("")},
      {inf},
      {1.0},        // word 0 announced but missing
      {3.0, 1.0},   // word 1 missing
      {1.0, -2.0},  // negative class word
      {1.0, 1.5},   // fractional class word
      {1.0, 4294967296.0},
      {1.0, inf},
  };
  for (const auto& list : bad) {
    LASignore ignore;
    ignore.add_class(9);
    U32 position = 0;
    EXPECT_FALSE(ignore.decode(&position, U32(list.size()), list.data())) << list[0];
    // Unchanged on failure.
    EXPECT_EQ(ignore.get_flags(), 1u);
    EXPECT_EQ(ignore.get_class_word(0), 1u << 9);
    EXPECT_EQ(position, 0u);
  }
  // The largest values pass.
  const std::vector<F64> good = {4294967295.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 4294967295.0};
  LASignore ignore;
  U32 position = 0;
  ASSERT_TRUE(ignore.decode(&position, U32(good.size()), good.data()));
  EXPECT_EQ(ignore.get_class_word(7), 4294967295u);
}

TEST(LASignore, Usage) {
  testing::internal::CaptureStderr();
  LASignore().usage();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Ignore points based on classifications.\n"
            "  -ignore_class 7\n"
            "  -ignore_class 0 1 7 33\n"
            "Ignore points based on return type.\n"
            "  -ignore_first -ignore_first_of_many\n"
            "  -ignore_last -ignore_last_of_many\n"
            "  -ignore_intermediate\n"
            "  -ignore_single\n"
            "Ignore points based on flags.\n"
            "  -ignore_synthetic -ignore_keypoint\n"
            "  -ignore_withheld -ignore_overlap\n");
}

}  // namespace
