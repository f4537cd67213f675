// Option parsing of the filter: what it consumes, what it leaves, its
// messages, merging and combining, evaluation order and option text.
#include "las/filter/lasfilter.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "las/core/option_text.hpp"
#include "las/filter/lascriteria.hpp"

namespace {

// The arguments left after parsing, with consumed ones shown as "".
std::vector<std::string> parse_args(LASfilter& filter, const std::vector<std::string>& words,
                                    bool* ok) {
  OwnedArgs args(words);
  *ok = filter.parse(args.argc(), args.argv());
  std::vector<std::string> left;
  for (int i = 1; i < args.argc(); i++) left.push_back(args.argv()[i]);
  return left;
}

// Parses a command text and returns what was printed.
std::string parse_error(const std::string& command, bool* ok) {
  LASfilter filter;
  testing::internal::CaptureStderr();
  *ok = filter.parse(command);
  return testing::internal::GetCapturedStderr();
}

TEST(LASfilterParse, LeavesUnknownArgumentsAndConsumesItsOwn) {
  LASfilter filter;
  bool ok = false;
  const auto left = parse_args(
      filter,
      {"-i",        "in.las", "-keep_class",      "2",         "6",           "-v",
       "-keep_foo", "-clip",  "-drop_withheld",   "-thin_out", "-filter_xor", "-keep_RGB_purple",
       "1",         "2",      "-keep_NDVI_other", "-keep_xy",  "1",           "2",
       "3",         "4"},
      &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(left, (std::vector<std::string>{"-i",
                                            "in.las",
                                            "",
                                            "",
                                            "",
                                            "-v",
                                            "-keep_foo",
                                            "-clip",
                                            "",
                                            "-thin_out",
                                            "-filter_xor",
                                            "-keep_RGB_purple",
                                            "1",
                                            "2",
                                            "-keep_NDVI_other",
                                            "",
                                            "",
                                            "",
                                            "",
                                            ""}));
  EXPECT_EQ(filter.num_criteria(), 3u);
}

TEST(LASfilterParse, EmptyOrForeignArgumentsLeaveNoCriteria) {
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{}, std::vector<std::string>{"-i", "a.las", "-o", "b.las"}}) {
    LASfilter filter;
    bool ok = false;
    const auto left = parse_args(filter, words, &ok);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(filter.active());
    EXPECT_EQ(left, words);
  }
}

TEST(LASfilterParse, ListValuesStopAtFirstArgumentThatIsNoNumber) {
  LASfilter filter;
  bool ok = false;
  const auto left = parse_args(filter,
                               {"-keep_class", "2", "6", "abc", "7", "-drop_return", "1", "-2",
                                "-keep_point_source", "4", "5x", "-o"},
                               &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(left,
            (std::vector<std::string>{"", "", "", "abc", "7", "", "", "-2", "", "", "", "-o"}));
  EXPECT_EQ(filter.get_command(),
            "-keep_class 2 6 -drop_return 1 -keep_point_source 4 -keep_point_source 5 "
            "-filter_and ");
}

TEST(LASfilterParse, ArgumentsAlreadyConsumedAreSkipped) {
  LASfilter filter;
  bool ok = false;
  // The blank stands for an argument another parser consumed.
  const auto left = parse_args(filter, {"", "-drop_withheld", ""}, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(filter.get_command(), "-drop_withheld ");
  EXPECT_EQ(left, (std::vector<std::string>{"", "", ""}));
}

struct ErrorCase {
  const char* command;
  const char* message;
};

TEST(LASfilterParse, MissingBadAndOutOfRangeValues) {
  const ErrorCase cases[] = {
      {"-keep_x 1", "ERROR: '-keep_x' needs 2 arguments: min_x max_x\n"},
      {"-keep_x 1 abc",
       "ERROR: '-keep_x' needs 2 arguments: min_x max_x but 'abc' is no valid max_x\n"},
      {"-drop_z_below", "ERROR: '-drop_z_below' needs 1 argument: min_z\n"},
      {"-keep_circle 1 2 r",
       "ERROR: '-keep_circle' needs 3 arguments: center_x center_y radius but 'r' is no valid "
       "radius\n"},
      {"-keep_xyz 1 2 3 4 5",
       "ERROR: '-keep_xyz' needs 6 arguments: min_x min_y min_z max_x max_y max_z\n"},
      {"-keep_tile a 1 2",
       "ERROR: '-keep_tile' needs 3 arguments: llx lly size but 'a' is no valid llx\n"},
      {"-keep_XY 1 2 3 x",
       "ERROR: '-keep_XY' needs 4 arguments: min_X min_Y max_X max_Y but 'x' is no valid max_Y\n"},
      {"-keep_gpstime 1", "ERROR: '-keep_gpstime' needs 2 arguments: start end\n"},
      {"-keep_class", "ERROR: '-keep_class' needs at least 1 argument: classification\n"},
      {"-keep_class x",
       "ERROR: '-keep_class' needs at least 1 argument: classification but 'x' is no valid "
       "classification\n"},
      {"-keep_class 2 32",
       "ERROR: '-keep_class' needs arguments between 0 and 31 but '32' is out of range\n"},
      {"-drop_class x",
       "ERROR: '-drop_classification' needs at least 1 argument: classification but 'x' is no "
       "valid classification\n"},
      {"-drop_classification 40",
       "ERROR: cannot drop classification 40 because it is larger than 31\n"},
      {"-keep_extended_class",
       "ERROR: '-keep_extended_class' needs at least a argument: classification\n"},
      {"-keep_extended_class y",
       "ERROR: '-keep_extended_classification' needs at least 1 argument: classification but 'y' "
       "is no valid classification\n"},
      {"-keep_extended_class 256",
       "ERROR: cannot keep extended classification 256 because it is larger than 255\n"},
      {"-drop_extended_class 300",
       "ERROR: cannot drop extended classification 300 because it is larger than 255\n"},
      {"-drop_extended_class",
       "ERROR: '-drop_extended_class' needs at least 1 argument: classification\n"},
      {"-drop_extended_classification_mask 1 2 3 x 5 6 7 8",
       "ERROR: '-drop_extended_classification_mask' needs 8 arguments: mask7 mask6 mask5 mask4 "
       "mask3 mask2 mask1 mask0\n       but 'x' is a bad argument for mask4\n"},
      {"-drop_extended_classification_mask 1 2 3",
       "ERROR: '-drop_extended_classification_mask' needs 8 arguments: mask7 mask6 mask5 mask4 "
       "mask3 mask2 mask1 mask0\n"},
      {"-keep_extended_class 2 -drop_extended_class 3",
       "ERROR: cannot use '-drop_extended_class' and '-keep_extended_class' simultaneously\n"},
      {"-keep_return 16", "ERROR: cannot keep return_number 16 because it is larger than 15\n"},
      {"-keep_return", "ERROR: '-keep_return' needs at least 1 argument: return_number\n"},
      {"-drop_return 99", "ERROR: cannot drop return_number 99 because it is larger than 15\n"},
      {"-drop_return z",
       "ERROR: '-drop_return' needs at least 1 argument: return_number but 'z' is no valid "
       "return_number\n"},
      {"-keep_return_mask 65536",
       "ERROR: '-keep_return_mask' needs a return_mask between 0 and 65535 but return_mask is "
       "65536\n"},
      {"-drop_number_of_returns 16",
       "ERROR: '-drop_number_of_returns' needs 1 argument: number of returns but '16' is no valid "
       "value\n"},
      {"-keep_number_of_returns",
       "ERROR: '-keep_number_of_returns' needs 1 argument: number_of_returns\n"},
      {"-drop_scan_direction 2",
       "ERROR: '-drop_scan_direction' needs 1 argument: scan direction but '2' is no valid "
       "value\n"},
      {"-keep_scanner_channel 4",
       "ERROR: '-keep_scanner_channel' needs 1 argument: number between 0 and 3 so '4' is not "
       "valid\n"},
      {"-keep_scanner_channel -1",
       "ERROR: '-keep_scanner_channel' needs 1 argument: number between 0 and 3 so '-1' is not "
       "valid\n"},
      {"-drop_scanner_channel 4", "ERROR: 4 is no valid value for '-drop_scanner_channel'\n"},
      {"-drop_scanner_channel", "ERROR: '-drop_scanner_channel' needs 1 argument: channel\n"},
      {"-keep_intensity 70000 1",
       "ERROR: cannot keep intensity because min of 70000 is larger than 65535\n"},
      {"-keep_intensity 1 70000",
       "ERROR: cannot keep intensity because max of 70000 is larger than 65535\n"},
      {"-keep_intensity_below 70000",
       "ERROR: cannot keep intensity below min of 70000 because it is larger than 65535\n"},
      {"-keep_intensity_above 70000",
       "ERROR: cannot keep intensity above max of 70000 because it is larger than 65535\n"},
      {"-drop_user_data 256", "ERROR: cannot drop user data 256 because it is larger than 255\n"},
      {"-drop_user_data v",
       "ERROR: '-drop_user_data' needs at least 1 argument: value but 'v' is no valid value\n"},
      {"-drop_user_data_below 256",
       "ERROR: cannot drop user data below 256 because it is larger than 255\n"},
      {"-drop_user_data_above 256",
       "ERROR: cannot drop user data above 256 because it is larger than 255\n"},
      {"-drop_user_data_between 256 1",
       "ERROR: cannot drop user data between min and max because min of 256 is larger than 255\n"},
      {"-drop_user_data_between 1 300",
       "ERROR: cannot drop user data between min and max because max of 300 is larger than 255\n"},
      {"-keep_point_source 70000",
       "ERROR: cannot keep_point_source ID 70000 because it is larger than 65535\n"},
      {"-keep_point_source q",
       "ERROR: '-keep_point_source' needs at least 1 argument: ID but 'q' is no valid ID\n"},
      {"-keep_point_source_between 1 70000",
       "ERROR: cannot keep point source because max_ID of 70000 is larger than 65535\n"},
      {"-keep_point_source_between 70000 1",
       "ERROR: cannot keep point source because min_ID of 70000 is larger than 65535\n"},
      {"-drop_point_source 1 70000",
       "ERROR: cannot drop_point_source ID 70000 because it is larger than 65535\n"},
      {"-drop_point_source", "ERROR: '-drop_point_source' needs at least 1 argument: ID\n"},
      {"-drop_point_source_below 70000",
       "ERROR: cannot drop point source below min_ID of 70000 because it is larger than 65535\n"},
      {"-drop_point_source_above 70000",
       "ERROR: cannot drop point source above max_ID of 70000 because it is larger than 65535\n"},
      {"-drop_point_source_between 70000 1",
       "ERROR: cannot drop point source because min_ID of 70000 is larger than 65535\n"},
      {"-drop_point_source_between 1 -1",
       "ERROR: cannot drop point source because max_ID of 4294967295 is larger than 65535\n"},
      {"-keep_every_nth 0", "ERROR: 0 is no valid nth for '-keep_every_nth'\n"},
      {"-drop_every_nth n",
       "ERROR: '-drop_every_nth' needs 1 argument: nth but 'n' is no valid nth\n"},
      {"-keep_random_fraction",
       "ERROR: '-keep_random_fraction' needs 1 argument: fraction [seed]\n"},
      {"-keep_random_fraction half",
       "ERROR: '-keep_random_fraction' needs 1 argument: fraction [seed] but 'half' is no valid "
       "fraction\n"},
      {"-thin_with_grid 0",
       "ERROR: '-thin_with_grid' needs 1 argument: grid spacing but '0' is no valid value\n"},
      {"-thin_with_grid -2.5",
       "ERROR: '-thin_with_grid' needs 1 argument: grid spacing but '-2.5' is no valid value\n"},
      {"-thin_with_grid", "ERROR: '-thin_with_grid' needs 1 argument: grid spacing\n"},
      {"-thin_with_time -1",
       "ERROR: '-thin_with_time' needs 1 argument: time spacing but '-1' is no valid value\n"},
      {"-thin_points_with_time 0",
       "ERROR: '-thin_points_with_time' needs 1 argument: time spacing but '0' is no valid "
       "value\n"},
      {"-thin_pulses_with_time x",
       "ERROR: '-thin_pulses_with_time' needs 1 argument: time spacing but 'x' is no valid time "
       "spacing\n"},
      {"-keep_wavepacket", "ERROR: '-keep_wavepacket' needs 1 argument: index\n"},
      {"-drop_attribute_between 1 2",
       "ERROR: '-drop_attribute_between' needs 3 arguments: index below above\n"},
      {"-keep_attribute_below x 1",
       "ERROR: '-keep_attribute_below' needs 2 arguments: index value but 'x' is no valid index\n"},
      {"-filter_and", "ERROR: '-filter_and' needs to be preceeded by at least two filters\n"},
      {"-keep_class 2 -filter_or",
       "ERROR: '-filter_or' needs to be preceeded by at least two filters\n"},
      {"-keep_class 2 -keep_class 6 -filter_and",
       "ERROR: '-filter_and' needs to be preceeded by at least two filters\n"},
      {"-clip_box 1 2 3 4 5 6",
       "ERROR: '-clip_box' is no longer recognized. check documentation with '-h'.\n"
       "  rename '-clip' to '-keep_xy'.\n"
       "  rename '-clip_box' to '-keep_xyz'.\n"
       "  rename '-clip_tile' to '-keep_tile'.\n"
       "  rename '-clip_z_below' to '-drop_z_below'.\n"
       "  rename '-clip_z_above' to '-drop_z_above'.\n"
       "  rename '-clip_z_between' to '-drop_z'.\n"
       "  etc ...\n"},
  };
  for (const ErrorCase& c : cases) {
    bool ok = true;
    EXPECT_EQ(parse_error(c.command, &ok), c.message) << c.command;
    EXPECT_FALSE(ok) << c.command;
  }
}

TEST(LASfilterParse, MissingValueIsCountedOnTheVectorNotOnBlanks) {
  // The value slot exists but was consumed by another parser: it is read
  // (and refused) rather than reported missing.
  LASfilter filter;
  OwnedArgs args({"-drop_z_below", ""});
  testing::internal::CaptureStderr();
  EXPECT_FALSE(filter.parse(args.argc(), args.argv()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: '-drop_z_below' needs 1 argument: min_z but '' is no valid min_z\n");
}

TEST(LASfilterParse, HelpPrintsUsageAndStops) {
  LASfilter filter;
  bool ok = false;
  testing::internal::CaptureStderr();
  const auto left = parse_args(filter, {"-drop_withheld", "-h", "-keep_class", "2"}, &ok);
  const std::string usage = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ok);
  EXPECT_EQ(left, (std::vector<std::string>{"", "-h", "-keep_class", "2"}));
  EXPECT_EQ(usage.rfind("Filter points based on their coordinates.\n", 0), 0u);
  for (const char* line :
       {"\n  -keep_tile 631000 4834000 1000 (ll_x ll_y size)\n",
        "\n  -keep_xyz 620000 4830000 100 621000 4831000 200 (min_x min_y min_z max_x max_y "
        "max_z)\n",
        "\n  -keep_first -first_only -drop_first\n", "\n  -keep_class 1 3 7\n",
        "\n  -keep_random_fraction 0.1 4711\n",
        "\nBoolean combination of filters.\n  -filter_and\n",
        "\nFilter points with simple thinning.\n",
        "\nFilter points based on extra attributes.\n"}) {
    EXPECT_NE(usage.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(usage.find("filter_or"), std::string::npos);
}

TEST(LASfilterParse, ListsMergeOnlyIntoTheCriterionJustBefore) {
  LASfilter merged;
  ASSERT_TRUE(merged.parse("-keep_class 2 -keep_class 6"));
  EXPECT_EQ(merged.num_criteria(), 1u);
  EXPECT_EQ(merged.get_command(), "-keep_class 2 6 ");

  LASfilter apart;
  ASSERT_TRUE(apart.parse("-keep_class 2 -drop_z_below 1 -keep_class 6"));
  EXPECT_EQ(apart.num_criteria(), 3u);

  LASfilter into_mask;
  ASSERT_TRUE(
      into_mask.parse("-drop_classification_mask 1 -drop_class 4 -drop_return_mask 2 "
                      "-drop_return 3"));
  EXPECT_EQ(into_mask.num_criteria(), 2u);
  EXPECT_EQ(into_mask.get_command(), "-drop_class 0 4 -drop_return 1 3 ");

  LASfilter masks_apart;
  ASSERT_TRUE(masks_apart.parse("-keep_class 2 -keep_classification_mask 4"));
  EXPECT_EQ(masks_apart.num_criteria(), 2u);
}

TEST(LASfilterParse, CombinationsReplaceTheLastTwoAndNest) {
  LASfilter filter;
  ASSERT_TRUE(
      filter.parse("-drop_withheld -keep_class 2 -drop_z_below 1 -filter_or "
                   "-filter_and"));
  ASSERT_EQ(filter.num_criteria(), 1u);
  EXPECT_STREQ(filter.criterion(0)->name(), "filter_and");
  const auto* outer = static_cast<const LAScriterionAnd*>(filter.criterion(0));
  EXPECT_STREQ(outer->first()->name(), "drop_withheld");
  EXPECT_STREQ(outer->second()->name(), "filter_or");
  EXPECT_EQ(filter.field_mask(), U32(LAS_FIELD_FLAGS | LAS_FIELD_CLASSIFICATION | LAS_FIELD_Z));
  EXPECT_EQ(filter.get_command(),
            "-drop_withheld -keep_class 2 -drop_z_below 1.000000 -filter_or -filter_and ");
}

TEST(LASfilterParse, ExtendedClassCriterionComesLast) {
  LASfilter filter;
  ASSERT_TRUE(filter.parse("-keep_extended_class 7 -drop_withheld"));
  ASSERT_EQ(filter.num_criteria(), 2u);
  EXPECT_STREQ(filter.criterion(0)->name(), "drop_withheld");
  EXPECT_STREQ(filter.criterion(1)->name(), "drop_extended_classification_mask");
}

TEST(LASfilterEvaluate, FirstDroppingCriterionIsCountedAndLaterOnesAreNotAsked) {
  LASfilter filter;
  ASSERT_TRUE(filter.parse("-drop_class 2 -keep_every_nth 2"));
  LASpoint point;
  const int classes[] = {2, 0, 0, 2, 0};
  std::string kept;
  for (int c : classes) {
    point.classification = U8(c);
    kept += filter.filter(&point) ? '0' : '1';
  }
  // The every-nth counter sees only the three points of class 0.
  EXPECT_EQ(kept, "00100");
  EXPECT_EQ(filter.counter(0), 2u);
  EXPECT_EQ(filter.counter(1), 2u);
  EXPECT_EQ(filter.passed(), 1u);

  // Stateless criteria are all asked, but still only the first that drops
  // a point counts it.
  LASfilter plain;
  ASSERT_TRUE(plain.parse("-drop_class 2 -drop_withheld -drop_user_data 5"));
  const int fields[][3] = {{2, 1, 5}, {0, 1, 5}, {0, 0, 5}, {2, 0, 0}, {0, 0, 0}};
  for (const auto& f : fields) {
    point.classification = U8(f[0]);
    point.withheld_flag = U8(f[1]);
    point.user_data = U8(f[2]);
    plain.filter(&point);
  }
  EXPECT_EQ(plain.counter(0), 2u);
  EXPECT_EQ(plain.counter(1), 1u);
  EXPECT_EQ(plain.counter(2), 1u);
  EXPECT_EQ(plain.passed(), 1u);
}

TEST(LASfilterEvaluate, StatefulCriteriaAdvanceOnlyForPointsThatReachThem) {
  // Behind "-drop_class 2", a stateful criterion must decide the other
  // points exactly as it would on its own, as if the class-2 points were
  // never there.
  const char* stateful[] = {"-keep_scan_direction_change",
                            "-keep_every_nth 2",
                            "-drop_every_nth 3",
                            "-keep_random_fraction 0.5",
                            "-thin_with_grid 1",
                            "-thin_points_with_time 1",
                            "-thin_pulses_with_time 1",
                            "-keep_every_nth 2 -drop_z_below -1 -filter_or",
                            "-drop_withheld -keep_every_nth 2 -filter_and"};
  LASscaleOffset so;
  LASpoint point;
  point.scale_offset = &so;
  point.has_gps_time = true;
  auto set = [&](int i) {
    point.classification = U8(i % 3 == 0 ? 2 : 1);
    point.scan_direction_flag = U8((i / 2) % 2);
    point.X = (i * 37) % 500;
    point.Y = (i * 11) % 300;
    point.gps_time = 0.37 * (i / 2);
  };
  for (const char* options : stateful) {
    SCOPED_TRACE(options);
    LASfilter chained, alone;
    ASSERT_TRUE(chained.parse(std::string("-drop_class 2 ") + options));
    ASSERT_TRUE(alone.parse(options));
    std::string got, expected;
    for (int i = 0; i < 300; i++) {
      set(i);
      got += chained.filter(&point) ? '0' : '1';
      expected += (point.classification == 2 || alone.filter(&point)) ? '0' : '1';
    }
    EXPECT_EQ(got, expected);
    EXPECT_NE(expected.find('1'), std::string::npos);
  }
}

TEST(LASfilterEvaluate, FieldMasksNameTheFieldsRead) {
  const struct {
    const char* options;
    U32 mask;
  } cases[] = {
      {"-keep_xy 0 0 1 1 -keep_first -keep_every_nth 2 -thin_with_grid 1", 0},
      {"-drop_z_below 1", LAS_FIELD_Z},
      {"-keep_Z 1 2", LAS_FIELD_Z},
      {"-keep_class 2 -drop_extended_class 3", LAS_FIELD_CLASSIFICATION},
      {"-drop_overlap -keep_scan_direction_change", LAS_FIELD_FLAGS},
      {"-keep_intensity 1 2", LAS_FIELD_INTENSITY},
      {"-drop_abs_scan_angle_above 3", LAS_FIELD_SCAN_ANGLE},
      {"-keep_user_data 3", LAS_FIELD_USER_DATA},
      {"-keep_point_source 1 2", LAS_FIELD_POINT_SOURCE},
      {"-keep_gps_time 1 2 -thin_pulses_with_time 1", LAS_FIELD_GPS_TIME},
      {"-keep_RGB_red 1 2 -keep_NDVI_green_is_NIR 0 1", LAS_FIELD_RGB},
      {"-keep_NDVI 0 1", LAS_FIELD_RGB | LAS_FIELD_NIR},
      {"-keep_NDVI_intensity_is_NIR 0 1", LAS_FIELD_RGB | LAS_FIELD_INTENSITY},
      {"-drop_wavepacket 1", LAS_FIELD_WAVEPACKET},
      {"-drop_attribute_below 0 1", LAS_FIELD_EXTRA_BYTES},
  };
  for (const auto& c : cases) {
    LASfilter filter;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(filter.parse(c.options));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(filter.field_mask(), c.mask) << c.options;
  }
}

TEST(LASfilterEvaluate, ResetRestartsPerPassStateButNotCounters) {
  LASfilter filter;
  ASSERT_TRUE(filter.parse("-keep_scan_direction_change -keep_random_fraction 0.5 7"));
  LASpoint point;
  auto pass = [&]() {
    std::string kept;
    for (int i = 0; i < 40; i++) {
      point.scan_direction_flag = U8((i / 3) % 2);
      kept += filter.filter(&point) ? '0' : '1';
    }
    return kept;
  };
  const std::string first = pass();
  const U64 dropped = filter.counter(0) + filter.counter(1);
  filter.reset();
  EXPECT_EQ(pass(), first);
  EXPECT_EQ(filter.counter(0) + filter.counter(1), 2 * dropped);
}

TEST(LASfilterEvaluate, RandomFractionFollowsTheReseededGenerator) {
  // Seeded with 0 the generator draws 38, then (reseeded with 38) 162.
  LASpoint point;
  LASfilter low, high;
  ASSERT_TRUE(low.parse("-keep_random_fraction 0.001"));
  ASSERT_TRUE(high.parse("-keep_random_fraction 0.002"));
  EXPECT_TRUE(low.filter(&point));    // 38 / 32767 > 0.001
  EXPECT_FALSE(high.filter(&point));  // 38 / 32767 <= 0.002
  EXPECT_TRUE(high.filter(&point));   // 162 / 32767 > 0.002

  LASfilter seeded;
  ASSERT_TRUE(seeded.parse("-keep_random_fraction 0.5 4711"));
  EXPECT_EQ(seeded.get_command(), "-keep_random_fraction 0.5 4711 ");
  LASfilter rebuilt;
  ASSERT_TRUE(rebuilt.parse(seeded.get_command()));
  int kept = 0;
  for (int i = 0; i < 1000; i++) {
    const bool a = seeded.filter(&point);
    EXPECT_EQ(rebuilt.filter(&point), a);
    kept += a ? 0 : 1;
  }
  EXPECT_GT(kept, 300);
  EXPECT_LT(kept, 700);
}

TEST(LASfilterCommand, TextOfManyCriteriaRoundTrips) {
  // Far more words than a fixed argument array would hold.
  std::string command;
  for (int i = 0; i < 100; i++) command += "-drop_point_source " + std::to_string(i) + " ";
  LASfilter filter;
  ASSERT_TRUE(filter.parse(command));
  EXPECT_EQ(filter.num_criteria(), 100u);
  EXPECT_EQ(filter.get_command(), command);
  LASfilter rebuilt;
  ASSERT_TRUE(rebuilt.parse(filter.get_command()));
  EXPECT_EQ(rebuilt.num_criteria(), 100u);
}

TEST(LASfilterCommand, BlanksBetweenWordsDoNotMatter) {
  LASfilter one, many;
  ASSERT_TRUE(one.parse("-keep_class 2 6 -drop_withheld"));
  ASSERT_TRUE(many.parse("   -keep_class  2    6  -drop_withheld   "));
  EXPECT_EQ(one.get_command(), many.get_command());
}

TEST(LASfilterCommand, CleanEmptiesTheFilter) {
  LASfilter filter;
  ASSERT_TRUE(filter.parse("-drop_withheld -keep_class 2"));
  filter.clean();
  EXPECT_FALSE(filter.active());
  EXPECT_EQ(filter.get_command(), "");
  LASpoint point;
  point.withheld_flag = 1;
  EXPECT_FALSE(filter.filter(&point));
}

}  // namespace
