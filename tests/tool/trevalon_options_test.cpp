#include "tool/trevalon_options.hpp"

#include <gtest/gtest.h>

#include "las/core/option_text.hpp"

namespace {

struct Parsed {
  ToolParse result;
  TrevalonOptions options;
  std::string messages;
  std::vector<std::string> left;  // arguments not consumed
};

Parsed parse(const std::vector<std::string>& words) {
  OwnedArgs args(words);
  Parsed p;
  testing::internal::CaptureStderr();
  preprocess_arguments(args.argc(), args.argv(), p.options);
  p.result = parse_tool_options(args.argc(), args.argv(), p.options);
  p.messages = testing::internal::GetCapturedStderr();
  for (int i = 1; i < args.argc(); i++) {
    if (args.argv()[i][0]) p.left.push_back(args.argv()[i]);
  }
  return p;
}

TEST(TrevalonOptions, Errors) {
  struct Case {
    std::vector<std::string> words;
    std::string message;
  } cases[] = {
      {{"-step", "0"}, "ERROR: '-step' needs 1 argument: value but 0 in not a valid value\n"},
      {{"-step", "-2"}, "ERROR: '-step' needs 1 argument: value but -2 in not a valid value\n"},
      {{"-step", "abc"}, "ERROR: '-step' needs 1 argument: value but 'abc' in not a valid value\n"},
      {{"-step", "nan"}, "ERROR: '-step' needs 1 argument: value but 'nan' in not a valid value\n"},
      {{"-step", "inf"}, "ERROR: '-step' needs 1 argument: value but 'inf' in not a valid value\n"},
      {{"-step"}, "ERROR: '-step' needs 1 argument: value\n"},
      {{"-classify_as"}, "ERROR: '-classify_as' needs 1 argument: classification code\n"},
      {{"-recover_flightlines_interval"},
       "ERROR: '-recover_flightlines_interval' needs 1 argument: interval size\n"},
      {{"-recover_flightlines_interval", "0"},
       "ERROR: '-recover_flightlines_interval' needs 1 argument: interval size but '0' in not a "
       "valid value\n"},
      {{"-recover_flightlines_interval", "-5"},
       "ERROR: '-recover_flightlines_interval' needs 1 argument: interval size but '-5' in not a "
       "valid value\n"},
      {{"-itrldir"}, "ERROR: '-itrldir' needs 1 argument: directory name\n"},
      {{"-otrldir"}, "ERROR: '-otrldir' needs 1 argument: directory name\n"},
      {{"-bogus"}, "ERROR: cannot understand argument '-bogus'\n"},
      {{"-itrl", "file.las"}, "ERROR: cannot understand argument 'file.las'\n"},
  };
  for (const Case& c : cases) {
    Parsed p = parse(c.words);
    EXPECT_EQ(p.result, ToolParse::EXIT_ERROR) << c.words[0];
    EXPECT_EQ(p.messages, c.message) << c.words[0];
  }
}

TEST(TrevalonOptions, Settings) {
  Parsed p = parse({"-classify_as", "9", "-classify_as", "7", "-remove_overage", "-step", "2.5",
                    "-vv", "-entire_overlap", "-recover_flightlines_interval", "5"});
  ASSERT_EQ(p.result, ToolParse::RUN);
  EXPECT_EQ(p.options.classify_as, 7);
  EXPECT_EQ(p.options.marking(), OverageDecision::REMOVE);
  EXPECT_EQ(p.options.step, 2.5f);
  EXPECT_TRUE(p.options.verbose && p.options.very_verbose);
  EXPECT_TRUE(p.options.entire_overlap);
  EXPECT_TRUE(p.options.recover_flightlines);
  EXPECT_EQ(p.options.recovery_interval, 5.0f);
  EXPECT_TRUE(p.left.empty());

  EXPECT_EQ(parse({"-flag_as_overlap", "-flag_as_withheld"}).options.marking(),
            OverageDecision::FLAG_WITHHELD);
  EXPECT_EQ(parse({"-flag_as_overlap"}).options.marking(), OverageDecision::FLAG_OVERLAP);
  EXPECT_EQ(parse({}).options.marking(), OverageDecision::CLASSIFY);
}

TEST(TrevalonOptions, LayersOptionsAndCounts) {
  Parsed three = parse({"-itrl", "3"});
  ASSERT_EQ(three.result, ToolParse::RUN);
  EXPECT_TRUE(three.options.apply_layers);
  EXPECT_EQ(three.options.layers_to_apply, 3);
  Parsed negative = parse({"-itrl", "-2", "-itrldir", "d"});
  ASSERT_EQ(negative.result, ToolParse::RUN);
  EXPECT_EQ(negative.options.layers_to_apply, -2);
  EXPECT_EQ(negative.options.layers_input_directory, "d");
  Parsed plain = parse({"-itrl", "-v"});
  ASSERT_EQ(plain.result, ToolParse::RUN);
  EXPECT_EQ(plain.options.layers_to_apply, 2147483647);
  EXPECT_TRUE(plain.options.verbose);

  Parsed out = parse({"-otrl_anything", "-quiet"});
  ASSERT_EQ(out.result, ToolParse::RUN);
  EXPECT_TRUE(out.options.write_layers);
  EXPECT_EQ(out.options.command_line, " -otrl_anything -quiet");
}

TEST(TrevalonOptions, EnDashAndIgnoredOptions) {
  Parsed p = parse({"\x96v", "-cores", "4", "-gui", "-cpu64"});
  ASSERT_EQ(p.result, ToolParse::RUN);
  EXPECT_TRUE(p.options.verbose);
  EXPECT_EQ(p.messages,
            "WARNING: not compiled with multi-core batching. ignoring '-cores' ...\n"
            "WARNING: not compiled with GUI support. ignoring '-gui' ...\n"
            "WARNING: not compiled with 64 bit support. ignoring '-cpu64' ...\n");
  // The last argument: nothing past the vector is read.
  Parsed last = parse({"-cores"});
  EXPECT_EQ(last.result, ToolParse::RUN);

  Parsed feet = parse({"-feet"});
  EXPECT_TRUE(feet.options.feet);
}

TEST(TrevalonOptions, HelpAndVersionEndTheRun) {
  Parsed v = parse({"-version"});
  EXPECT_EQ(v.result, ToolParse::EXIT_OK);
  EXPECT_EQ(v.messages, "trevalon (Quintrel) version 200304\n");
  Parsed h = parse({"-h"});
  EXPECT_EQ(h.result, ToolParse::EXIT_OK);
  EXPECT_NE(h.messages.find("usage:\ntrevalon -i tile.las -o out.las\n"), std::string::npos);
}

}  // namespace
