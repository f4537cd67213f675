// Output names derived from inputs, explicit names and formats, option
// errors, and opening writers without overwriting an input.
#include "las/io/laswriter_factory.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "las/core/lasheader.hpp"
#include "las/core/option_text.hpp"
#include "las/io/laswriter.hpp"
#include "tests/support/las_builder.hpp"
#include "tests/support/test_data.hpp"

namespace {

struct Parsed {
  bool ok;
  std::string messages;
  std::vector<std::string> left;  // arguments not consumed
};

Parsed parse(LASwriterFactory& factory, const std::vector<std::string>& words) {
  OwnedArgs args(words);
  testing::internal::CaptureStderr();
  const bool ok = factory.parse(args.argc(), args.argv());
  Parsed p{ok, testing::internal::GetCapturedStderr(), {}};
  for (int i = 1; i < args.argc(); i++) {
    if (args.argv()[i][0]) p.left.push_back(args.argv()[i]);
  }
  return p;
}

std::string derived(const std::vector<std::string>& words, const char* input, int number = -1,
                    std::string* messages = nullptr) {
  LASwriterFactory factory;
  Parsed p = parse(factory, words);
  EXPECT_TRUE(p.ok) << p.messages;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(factory.make_file_name(input, number));
  const std::string out = testing::internal::GetCapturedStderr();
  if (messages) *messages = out;
  return factory.get_file_name() ? factory.get_file_name() : "";
}

TEST(LASwriterFactoryNames, DerivedFromInput) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    const char* input;
    std::string expected;
  } cases[] = {
      {{}, "/d/data/tile.las", "/d/data/tile_1.las"},
      {{"-odir", dir.path()}, "/d/data/tile.las", dir.path() + "/tile.las"},
      {{"-odir", dir.path() + "/"}, "/d/data/tile.las", dir.path() + "/tile.las"},
      {{"-odix", "_g"}, "/d/data/tile.las", "/d/data/tile_g.las"},
      {{"-ocut", "2"}, "/d/data/tile.las", "/d/data/ti.las"},
      {{"-odix", "_g", "-ocut", "1"}, "/d/data/tile.las", "/d/data/til_g.las"},
      {{"-ovzk"}, "/d/data/tile.las", "/d/data/tile_1.vzk"},
      {{"-otxt"}, "tile.vzk", "tile_1.txt"},
      {{"-oqi"}, "tile.las", "tile_1.qi"},
      {{"-obin", "-odix", "_b"}, "tile.las", "tile_b.bin"},
      // Only a '.' after the last '/' starts an extension.
      {{}, "/d/da.ta/tile", "/d/da.ta/tile_1.las"},
      {{"-odix", "_g"}, "../tile", "../tile_g.las"},
      {{}, nullptr, "output.las"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(derived(c.args, c.input), c.expected) << (c.input ? c.input : "(none)");
  }
}

TEST(LASwriterFactoryNames, Numbered) {
  EXPECT_EQ(derived({}, nullptr, 12), "output_0000012.las");
  EXPECT_EQ(derived({"-ovzk"}, nullptr, 0), "output_0000000.vzk");
  // Every digit is rewritten, so no digit of the input's own number survives.
  EXPECT_EQ(derived({}, "flight_0042.txt", 7), "flight_0007.las");
  EXPECT_EQ(derived({"-o", "part_00.las"}, nullptr, 5), "part_05.las");
  std::string messages;
  EXPECT_EQ(derived({}, nullptr, 123456789, &messages), "output_3456789.las");
  EXPECT_EQ(messages,
            "WARNING: file name number 123456789 too big to store in 'output_3456789.xxx'. use "
            "more digits.\n");
}

TEST(LASwriterFactoryNames, ExplicitNamesAndFormats) {
  struct Case {
    std::vector<std::string> args;
    std::string name;
    int format;
  } cases[] = {
      {{"-o", "out"}, "out.las", 0},
      {{"-ovzk", "-o", "out"}, "out.vzk", 2},
      {{"-o", "out.bin"}, "out.bin", 3},
      {{"-o", "out.bin", "-olas"}, "out.las", 1},
      {{"-o", "out.las", "-otxt"}, "out.las", 6},
      {{"-ovzk", "-o", "out.bin"}, "out.bin", 2},
      {{"-o", "OUT.VZK"}, "OUT.VZK", 2},
      {{"-o", "out.qi"}, "out.qi", 4},
      {{"-o", "out.wrl"}, "out.wrl", 5},
      {{"-o", "out.xyz"}, "out.xyz", 6},
      {{"-o", "out.las  "}, "out.las", 1},
      {{"-o", "dir.d/out"}, "dir.d/out.las", 0},
      {{"-o", "out.las", "-odix", "_x"}, "out_x.las", 1},
      {{"-odix", "_x", "-o", "out.las"}, "out_x.las", 1},
      {{"-o", "out.las", "-ocut", "1"}, "ou.las", 1},
      {{"-o", "a/out.las", "-odir", "b"}, "", 1},  // b does not exist: rejected below
  };
  for (const Case& c : cases) {
    LASwriterFactory factory;
    Parsed p = parse(factory, c.args);
    if (c.name.empty()) {
      EXPECT_FALSE(p.ok);
      EXPECT_EQ(p.messages, "ERROR: 'b' is not a valid directory\n");
      continue;
    }
    ASSERT_TRUE(p.ok) << p.messages;
    EXPECT_TRUE(p.left.empty());
    ASSERT_NE(factory.get_file_name(), nullptr);
    EXPECT_EQ(factory.get_file_name(), c.name) << c.args[1];
    EXPECT_EQ(factory.get_format(), c.format) << c.name;
  }
}

TEST(LASwriterFactoryNames, DirectoryReplacesThePathOfAGivenName) {
  TempDir dir;
  LASwriterFactory factory;
  ASSERT_TRUE(parse(factory, {"-o", "/elsewhere/out.las", "-odir", dir.path()}).ok);
  EXPECT_EQ(factory.get_file_name(), dir.path() + "/out.las");
  ASSERT_TRUE(factory.set_directory("/"));
  EXPECT_EQ(factory.get_file_name(), std::string("/out.las"));
}

TEST(LASwriterFactoryNames, NameOfItsInputBecomesATemporaryName) {
  TempDir dir;
  const std::string a = dir.file("a.las");
  const std::string b = dir.file("b.las");
  ASSERT_TRUE(write_las_file(a, LasBuildSpec()));
  ASSERT_TRUE(write_las_file(b, LasBuildSpec()));
  LASwriterFactory factory;
  ASSERT_TRUE(parse(factory, {"-odir", dir.path()}).ok);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(factory.make_file_name(a.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: generated output name '" + a +
                "'\n"
                "         identical to input name. changed to 'temp.las'.\n"
                "         you can override this safety measure with '-oforce'.\n");
  EXPECT_STREQ(factory.get_file_name(), "temp.las");
  // A second input must not be given the same temporary name.
  testing::internal::CaptureStderr();
  ASSERT_TRUE(factory.make_file_name(b.c_str()));
  testing::internal::GetCapturedStderr();
  EXPECT_STREQ(factory.get_file_name(), "temp_2.las");

  // Another spelling of the same path is the same file.
  LASwriterFactory other;
  ASSERT_TRUE(parse(other, {"-odir", dir.path() + "/."}).ok);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(other.make_file_name(a.c_str()));
  testing::internal::GetCapturedStderr();
  EXPECT_STREQ(other.get_file_name(), "temp.las");

  LASwriterFactory forced;
  ASSERT_TRUE(parse(forced, {"-odir", dir.path(), "-oforce"}).ok);
  ASSERT_TRUE(forced.make_file_name(a.c_str()));
  EXPECT_EQ(forced.get_file_name(), a);
}

TEST(LASwriterFactoryOptions, Errors) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"-o"}, "ERROR: '-o' needs 1 argument: file_name\n"},
      {{"-odir"}, "ERROR: '-odir' needs 1 argument: directory\n"},
      {{"-odix"}, "ERROR: '-odix' needs 1 argument: appendix\n"},
      {{"-ocut"}, "ERROR: '-ocut' needs 1 argument: number of characters to cut\n"},
      {{"-ocut", "-2"},
       "ERROR: '-ocut' needs 1 argument: number of characters to cut but '-2' is not valid\n"},
      {{"-ocut", "two"},
       "ERROR: '-ocut' needs 1 argument: number of characters to cut but 'two' is not valid\n"},
      {{"-ocut", "99999999999"},
       "ERROR: '-ocut' needs 1 argument: number of characters to cut but '99999999999' is not "
       "valid\n"},
      {{"-o", "out.las", "-ocut", "3"}, "ERROR: cannot cut 3 characters from the name 'out.las'\n"},
      {{"-ocut", "3", "-o", "out.las"}, "ERROR: cannot cut 3 characters from the name 'out.las'\n"},
      {{"-chunk_size"}, "ERROR: '-chunk_size' needs 1 argument: number_points\n"},
      {{"-chunk_size", "-5"},
       "ERROR: '-chunk_size' needs 1 argument: number_points but '-5' is not valid\n"},
      {{"-io_obuffer", "0"},
       "ERROR: '-io_obuffer' needs 1 argument: size but '0' is not a valid size\n"},
      {{"-io_obuffer", "4294967297"},
       "ERROR: '-io_obuffer' needs 1 argument: size but '4294967297' is not a valid size\n"},
      {{"-oparse"}, "ERROR: '-oparse' needs 1 argument: string\n"},
      {{"-osep"}, "ERROR: '-osep' needs 1 argument: separator\n"},
      {{"-oscale_rgb"}, "ERROR: '-oscale_rgb' needs 1 argument: scale\n"},
      {{"-io_obuffer"}, "ERROR: '-io_obuffer' needs 1 argument: size\n"},
      {{"-odir", "/no/such/dir"}, "ERROR: '/no/such/dir' is not a valid directory\n"},
  };
  for (const Case& c : cases) {
    LASwriterFactory factory;
    Parsed p = parse(factory, c.args);
    EXPECT_FALSE(p.ok) << c.args[0];
    EXPECT_EQ(p.messages, c.message);
  }
  // A cut longer than a derived name is refused when the name is made.
  LASwriterFactory factory;
  ASSERT_TRUE(parse(factory, {"-ocut", "4"}).ok);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(factory.make_file_name("dir/tile.las"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: cannot cut 4 characters from the name 'dir/tile.las'\n");
}

TEST(LASwriterFactoryOptions, ConsumesOnlyItsOwn) {
  LASwriterFactory factory;
  Parsed p = parse(factory, {"-i", "in.las", "-odix", "_x", "-keep_class", "2", "-stdout",
                             "-chunk_size", "1000", "-compatible", "-io_obuffer", "4096", "-v"});
  ASSERT_TRUE(p.ok) << p.messages;
  EXPECT_EQ(p.left, (std::vector<std::string>{"-i", "in.las", "-keep_class", "2", "-v"}));
  EXPECT_TRUE(factory.active());
  EXPECT_TRUE(factory.get_use_stdout());
  EXPECT_EQ(factory.get_chunk_size(), 1000);
  EXPECT_FALSE(factory.get_native());
  EXPECT_EQ(factory.get_io_buffer_size(), 4096);
  LASwriterFactory nil;
  ASSERT_TRUE(parse(nil, {"-stdout", "-nil"}).ok);
  EXPECT_TRUE(nil.get_use_nil());
  EXPECT_FALSE(nil.get_use_stdout());
  EXPECT_TRUE(nil.active());
  LASwriterFactory none;
  ASSERT_TRUE(parse(none, {"-odix", "_x"}).ok);
  EXPECT_FALSE(none.active());
}

TEST(LASwriterFactoryOpen, WritesOnlyWhereAllowed) {
  TempDir dir;
  const std::string input = dir.file("in.las");
  LasBuildSpec spec;
  spec.num_points = 3;
  ASSERT_TRUE(write_las_file(input, spec));
  const std::vector<U8> original = read_bytes_file(input);
  LASheader header;
  header.point_data_format = 1;
  header.point_data_record_length = 28;

  LASwriterFactory nowhere;
  testing::internal::CaptureStderr();
  EXPECT_EQ(nowhere.open(&header), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: no laswriter output specified\n");

  LASwriterFactory nil;
  nil.set_use_nil(true);
  EXPECT_NE(nil.open(&header), nullptr);

  LASwriterFactory las;
  ASSERT_TRUE(las.set_file_name(dir.file("out").c_str()));
  {
    std::unique_ptr<LASwriter> writer = las.open(&header);
    ASSERT_NE(writer, nullptr);
    EXPECT_GT(writer->close(), 0);
  }
  EXPECT_EQ(read_bytes_file(dir.file("out.las")).size(), 227u);

  // An explicit name naming an input, however spelled, is refused before the
  // file is truncated.
  LASwriterFactory onto;
  onto.set_protected_files({input});
  ASSERT_TRUE(onto.set_file_name((dir.path() + "/./in.las").c_str()));
  testing::internal::CaptureStderr();
  EXPECT_EQ(onto.open(&header), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: output file '" + dir.path() +
                                                        "/./in.las' is the input file '" + input +
                                                        "'. refusing to overwrite it.\n");
  EXPECT_EQ(read_bytes_file(input), original);

  // Forcing the derived name onto the input still does not overwrite it.
  LASwriterFactory forced;
  forced.set_force(true);
  forced.set_protected_files({input});
  ASSERT_TRUE(forced.set_directory(dir.path().c_str()));
  ASSERT_TRUE(forced.make_file_name(input.c_str()));
  testing::internal::CaptureStderr();
  EXPECT_EQ(forced.open(&header), nullptr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(read_bytes_file(input), original);

  LASwriterFactory text;
  ASSERT_TRUE(text.set_file_name(dir.file("out.txt").c_str()));
  testing::internal::CaptureStderr();
  EXPECT_EQ(text.open(&header), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: writing txt files is not supported\nERROR: cannot open laswritertxt with file "
            "name '" +
                dir.file("out.txt") + "'\n");
}

TEST(LASwriterFactoryOptions, UsageText) {
  LASwriterFactory factory;
  Parsed p = parse(factory, {"-h"});
  EXPECT_TRUE(p.ok);
  EXPECT_NE(p.messages.find("  -odir C:\\data\\ground (specify output directory)\n"),
            std::string::npos);
  EXPECT_EQ(p.messages.rfind("Supported LAS Outputs\n", 0), 0u);
}

}  // namespace
