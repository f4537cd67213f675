// Input options: what they consume and refuse, how names and list files
// become inputs, which reader each input gets, and the flightline numbering.
#include "las/io/lasreader_factory.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "las/core/bytestream_in.hpp"
#include "las/core/lasignore.hpp"
#include "las/filter/lasfilter.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/io/lasreader_merged.hpp"
#include "las/io/lasreader_stored.hpp"
#include "las/transform/lastransform.hpp"
#include "tests/las/io/input_files.hpp"

namespace {

struct Parsed {
  bool ok;
  std::string messages;
  std::vector<std::string> left;
};

Parsed parse(LASreaderFactory& factory, const std::vector<std::string>& words) {
  OwnedArgs args(words);
  testing::internal::CaptureStderr();
  const bool ok = factory.parse(args.argc(), args.argv());
  Parsed p{ok, testing::internal::GetCapturedStderr(), {}};
  for (int i = 1; i < args.argc(); i++) {
    if (args.argv()[i][0]) p.left.push_back(args.argv()[i]);
  }
  return p;
}

std::vector<std::string> names(const LASreaderFactory& f) {
  std::vector<std::string> out;
  for (const auto& file : f.get_files()) out.push_back(file.name);
  return out;
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Three files of 10 points at x 0.., 100.., 200.., file source IDs 11, 12, 13.
struct ThreeFiles {
  TempDir dir;
  std::string a, b, c;
  ThreeFiles() {
    for (int k = 0; k < 3; k++) {
      PointFile f;
      f.x0 = 100.0 * k;
      f.file_source_ID = U16(11 + k);
      const std::string path = write_point_file(dir, std::string(1, char('a' + k)) + ".las", f);
      (k == 0 ? a : k == 1 ? b : c) = path;
    }
  }
};

// The point source IDs of every input the factory opens, input by input.
std::vector<std::vector<U16>> source_ids(LASreaderFactory& factory) {
  std::vector<std::vector<U16>> out;
  while (factory.has_next()) {
    std::unique_ptr<LASreader> reader = factory.open();
    if (!reader) break;
    std::vector<U16> ids;
    for (const ReadPoint& p : read_all(reader.get())) ids.push_back(p.point_source_ID);
    out.push_back(ids);
  }
  return out;
}

TEST(LASreaderFactoryParse, ConsumesItsOptionsAndLeavesTheRest) {
  ThreeFiles t;
  LASreaderFactory factory;
  Parsed p = parse(factory, {"-v",          "-i",       t.a,
                             t.b,           "-o",       "out.las",
                             "-keep_class", "2",        "-translate_x",
                             "1",           "-merged",  "-inside",
                             "0",           "0",        "10",
                             "10",          "-rescale", "0.001",
                             "0.001",       "0.001",    "-faf",
                             "-odix",       "_x",       "-iparse",
                             "xyz",         "-stored",  "-io_ibuffer",
                             "4096",        "-step",    "2"});
  ASSERT_TRUE(p.ok) << p.messages;
  EXPECT_EQ(p.left, (std::vector<std::string>{"-v", "-o", "out.las", "-odix", "_x", "-step", "2"}));
  EXPECT_EQ(names(factory), (std::vector<std::string>{t.a, t.b}));
  EXPECT_TRUE(factory.is_merged());
  EXPECT_TRUE(factory.is_inside());
  EXPECT_TRUE(factory.is_stored());
  EXPECT_EQ(factory.get_files_are_flightlines(), 1);
  EXPECT_EQ(factory.get_io_ibuffer_size(), 4096);
  ASSERT_NE(factory.get_filter(), nullptr);
  ASSERT_NE(factory.get_transform(), nullptr);
  EXPECT_EQ(factory.get_transform()->get_command(), "-translate_x 1.000000 -set_point_source 0 ");
}

TEST(LASreaderFactoryParse, RefusesBadOptions) {
  TempDir dir;
  const std::string a = write_point_file(dir, "a.las", PointFile());
  const std::string b = write_point_file(dir, "b.las", PointFile());
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"-i"}, "ERROR: '-i' needs at least 1 argument: file_name or wild_card\n"},
      {{"-i", "-merged"}, "ERROR: '-i' needs at least 1 argument: file_name or wild_card\n"},
      {{"-i", dir.file("none.las")}, "ERROR: cannot find file '" + dir.file("none.las") + "'\n"},
      {{"-i", dir.path()}, "ERROR: '" + dir.path() + "' is a directory, not a file\n"},
      {{"-neighbors"}, "ERROR: '-neighbors' needs at least 1 argument: file_name or wild_card\n"},
      {{"-ignore_class", "2"}, "ERROR: this tool does not process '-ignore_xxxx' options\n"},
      {{"-inside_tile", "1", "2"}, "ERROR: '-inside_tile' needs 3 arguments: ll_x ll_y size\n"},
      {{"-inside_tile", "1", "y", "3"},
       "ERROR: '-inside_tile' needs 3 arguments: ll_x ll_y size, but 'y' is not a valid ll_y.\n"},
      {{"-inside_tile", "1", "2", "-3"},
       "ERROR: '-inside_tile' needs 3 arguments: ll_x ll_y size, but -3.000000 is not valid a "
       "size.\n"},
      {{"-inside_circle", "0", "0", "0"},
       "ERROR: '-inside_circle' needs 3 arguments: center_x center_y radius, but 0.000000 is not "
       "valid a radius.\n"},
      {{"-inside", "10", "0", "5", "10"},
       "ERROR: '-inside' needs 4 arguments: min_x min_y max_x max_y, but 10.000000 / 5.000000 are "
       "not a valid min_x / max_x pair.\n"},
      {{"-inside_rectangle", "0", "10", "5", "10"},
       "ERROR: '-inside_rectangle' needs 4 arguments: min_x min_y max_x max_y, but 10.000000 / "
       "10.000000 are not a valid min_y / max_y pair.\n"},
      {{"-inside", "0", "0", "5"}, "ERROR: '-inside' needs 4 arguments: min_x min_y max_x max_y\n"},
      {{"-inside_polygon", "a"}, "ERROR: unknown '-inside' option '-inside_polygon'\n"},
      {{"-rescale", "0.01", "0", "0.01"},
       "ERROR: '-rescale' needs 3 arguments: rescale_x rescale_y rescale_z, but 0.000000 is not a "
       "valid rescale_y\n"},
      {{"-rescale", "0.01", "0.01", "z"},
       "ERROR: '-rescale' needs 3 arguments: rescale_x rescale_y rescale_z, but 'z' is not a "
       "valid rescale_z\n"},
      {{"-rescale_xy", "0.01"}, "ERROR: '-rescale_xy' needs 2 argument: rescale_x rescale_y\n"},
      {{"-rescale_z", "0"},
       "ERROR: '-rescale_z' needs 1 argument: rescale_z, but 0.000000 is not a valid rescale_z\n"},
      {{"-reoffset", "1", "2"},
       "ERROR: '-reoffset' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z\n"},
      {{"-reoffset", "1", "x", "2"},
       "ERROR: '-reoffset' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z, but 'x' is not "
       "a valid reoffset_y\n"},
      {{"-iskip", "0"}, "ERROR: '-iskip' needs 1 argument: number_of_lines but 0 is not valid.\n"},
      {{"-iskip", "many"},
       "ERROR: '-iskip' needs 1 argument: number_of_lines but 'many' is not a valid number.\n"},
      {{"-io_ibuffer", "0"}, "ERROR: '-io_ibuffer' needs 1 argument: size but 0 is not valid.\n"},
      {{"-io_ibuffer", "4000000000"},
       "ERROR: '-io_ibuffer' needs 1 argument: size but 4000000000 is not valid.\n"},
      {{"-itranslate_intensity", "0"},
       "ERROR: '-itranslate_intensity' needs 1 argument: translation but 0.000000 is not valid.\n"},
      {{"-iscale_scan_angle", "x"},
       "ERROR: '-iscale_scan_angle' needs 1 argument: scale but 'x' is not valid.\n"},
      {{"-iparse"}, "ERROR: '-iparse' needs 1 argument: string\n"},
      {{"-iadd_attribute", "1", "name"},
       "ERROR: '-iadd_attribute' needs 3 arguments: data_type name description\n"},
      {{"-buffered", "0"},
       "ERROR: '-buffered' needs 1 argument: buffer_size, but 0.000000 is not valid\n"},
      {{"-buffered", "wide"},
       "ERROR: '-buffered' needs 1 argument: buffer_size. but 'wide' is not a valid buffer_size\n"},
      {{"-faf_index"}, "ERROR: '-faf_index' needs 1 argument: index\n"},
      {{"-temp_files"}, "ERROR: '-temp_files' needs 1 argument: base name\n"},
      {{"-lof"}, "ERROR: '-lof' needs 1 argument: list_of_files\n"},
      {{"-lof", dir.file("none.txt")},
       "ERROR: cannot open '" + dir.file("none.txt") + "'\nERROR: cannot load list of files '" +
           dir.file("none.txt") + "'\n"},
      {{"-neighbors_lof"}, "ERROR: '-neighbors_lof' needs at least 1 argument: file_name\n"},
      {{"-i", a, b, "-neighbors", a, "-buffered", "5"},
       "ERROR: neighbors only supported for one buffered input file, not for 2\n"},
      {{"-i", a, "-neighbors", b},
       "ERROR: neighbors only make sense when used with '-buffered 50' or similar\n"},
      {{"-i", a, "-pipe_on", "-stdout"}, "ERROR: '-pipe_on' cannot be combined with '-stdout'\n"},
  };
  for (const Case& c : cases) {
    LASreaderFactory factory;
    Parsed p = parse(factory, c.args);
    EXPECT_FALSE(p.ok) << c.args[0];
    EXPECT_EQ(p.messages, c.message);
  }
}

TEST(LASreaderFactoryParse, IgnoreRulesWhenTheToolTakesThem) {
  ThreeFiles t;
  LASreaderFactory factory;
  OwnedArgs args({"-i", t.a, "-ignore_class", "2", "7", "-stored", "-v"});
  testing::internal::CaptureStderr();
  ASSERT_TRUE(factory.parse(args.argc(), args.argv(), true));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(std::string(args.argv()[7]), "-v");
  for (int i = 1; i < 7; i++) EXPECT_EQ(args.argv()[i][0], '\0');
  LASignore* rules = factory.get_ignore();
  ASSERT_NE(rules, nullptr);
  LASpoint point;
  point.classification = 7;
  EXPECT_TRUE(rules->ignore(point));
  point.classification = 3;
  EXPECT_FALSE(rules->ignore(point));
  // Every reader handed out carries them, wrapped or not.
  std::unique_ptr<LASreader> reader = factory.open();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->get_ignore(), rules);

  LASreaderFactory none;
  ASSERT_TRUE(parse(none, {"-i", t.a}).ok);
  EXPECT_EQ(none.open()->get_ignore(), nullptr);
}

TEST(LASreaderFactoryParse, ExtraAttributesForTextInput) {
  LASreaderFactory factory;
  Parsed p =
      parse(factory, {"-iadd_attribute", "4", "height", "above ground", "0.01", "0", "-keep_class",
                      "2", "-iadd_extra", "1", "echo", "echo width", "0", "5"});
  ASSERT_TRUE(p.ok) << p.messages;
  EXPECT_EQ(p.left, (std::vector<std::string>{"0", "5"}));
  EXPECT_NE(factory.get_filter(), nullptr);
  ASSERT_EQ(factory.get_extra_attributes().size(), 2u);
  const auto& first = factory.get_extra_attributes()[0];
  EXPECT_EQ(first.data_type, 4);
  EXPECT_EQ(first.name, "height");
  EXPECT_EQ(first.description, "above ground");
  EXPECT_EQ(first.scale, 0.01);
  EXPECT_EQ(first.offset, 0.0);
  EXPECT_EQ(first.no_data, 2e307);
  // A scale of 0 does not qualify, so it ends the attribute.
  EXPECT_EQ(factory.get_extra_attributes()[1].scale, 1.0);

  std::vector<std::string> many;
  for (int k = 0; k < 33; k++) {
    for (const char* w : {"-iadd_attribute", "1", "a", "b"}) many.push_back(w);
  }
  LASreaderFactory full;
  Parsed q = parse(full, many);
  EXPECT_FALSE(q.ok);
  EXPECT_EQ(q.messages, "ERROR: '-iadd_attribute' cannot add more than 32 extra attributes\n");
}

TEST(LASreaderFactoryNames, WildcardsListsAndUnique) {
  TempDir dir;
  for (const char* n : {"b.las", "a.las", "c.las", "x[1].las"}) {
    write_point_file(dir, n, PointFile());
  }
  std::filesystem::create_directory(dir.file("d.las"));
  {
    LASreaderFactory factory;
    Parsed p = parse(factory, {"-i", dir.file("*.las"), dir.file("none*.las")});
    ASSERT_TRUE(p.ok) << p.messages;
    EXPECT_EQ(p.messages, "WARNING: no file matches '" + dir.file("none*.las") + "'\n");
    // Sorted bytewise, the directory skipped, and a name that exists as it
    // stands is not read as a pattern.
    EXPECT_EQ(names(factory), (std::vector<std::string>{dir.file("a.las"), dir.file("b.las"),
                                                        dir.file("c.las"), dir.file("x[1].las")}));
  }
  {
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, {"-i", dir.file("x[1].las")}).ok);
    EXPECT_EQ(names(factory), (std::vector<std::string>{dir.file("x[1].las")}));
  }
  {
    LASreaderFactory before;
    ASSERT_TRUE(parse(before, {"-unique", "-i", dir.file("a.las"), dir.file("a.las")}).ok);
    EXPECT_EQ(before.get_file_count(), 1u);
    LASreaderFactory after;
    ASSERT_TRUE(parse(after, {"-i", dir.file("a.las"), dir.file("a.las"), "-unique"}).ok);
    EXPECT_EQ(after.get_file_count(), 2u);
  }
  {
    // A list with boxes, IDs, plain names, patterns, blank lines and CRLF ends.
    const std::string list = dir.file("list.txt");
    write_text(list, "7,1000,0,0,100,100," + dir.file("a.las") + "\r\n\n3, " + dir.file("b.las") +
                         "  \t\n" + dir.file("c*.las") + "\n");
    LASreaderFactory factory;
    Parsed p = parse(factory, {"-lof", list});
    ASSERT_TRUE(p.ok) << p.messages;
    const auto& files = factory.get_files();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].name, dir.file("a.las"));
    EXPECT_TRUE(files[0].has_id && files[0].has_box);
    EXPECT_EQ(files[0].id, 7u);
    EXPECT_EQ(files[0].point_count, 1000);
    EXPECT_EQ(files[0].max_x, 100.0);
    EXPECT_EQ(files[1].name, dir.file("b.las"));
    EXPECT_TRUE(files[1].has_id && !files[1].has_box);
    EXPECT_EQ(files[1].id, 3u);
    EXPECT_EQ(files[2].name, dir.file("c.las"));
    EXPECT_FALSE(files[2].has_id);
  }
  {
    // Lines are not cut at any fixed length.
    std::string deep = dir.path();
    for (int k = 0; k < 12; k++) deep += "/" + std::string(200, char('a' + k));
    std::filesystem::create_directories(deep);
    const std::string name = deep + "/deep.las";
    ASSERT_TRUE(write_las_file(name, point_file_spec(PointFile())));
    ASSERT_GT(name.size(), 2048u);
    const std::string list = dir.file("deep.txt");
    write_text(list, name + "\n");
    LASreaderFactory factory;
    Parsed p = parse(factory, {"-lof", list});
    ASSERT_TRUE(p.ok) << p.messages;
    EXPECT_EQ(names(factory), (std::vector<std::string>{name}));
  }
}

TEST(LASreaderFactoryOpen, MergedOrOneByOne) {
  ThreeFiles t;
  LASreaderFactory separate;
  ASSERT_TRUE(parse(separate, {"-i", t.a, t.b}).ok);
  int inputs = 0;
  while (separate.has_next()) {
    std::unique_ptr<LASreader> reader = separate.open();
    ASSERT_NE(reader, nullptr);
    EXPECT_NE(dynamic_cast<LASreaderLAS*>(reader.get()), nullptr);
    EXPECT_EQ(read_all(reader.get()).size(), 10u);
    EXPECT_EQ(separate.get_file_name(), inputs ? t.b : t.a);
    inputs++;
  }
  EXPECT_EQ(inputs, 2);
  EXPECT_EQ(separate.open(), nullptr);
  separate.rewind();
  EXPECT_TRUE(separate.has_next());

  LASreaderFactory merged;
  ASSERT_TRUE(parse(merged, {"-i", t.a, t.b, "-merged"}).ok);
  std::unique_ptr<LASreader> reader = merged.open();
  ASSERT_NE(reader, nullptr);
  EXPECT_NE(dynamic_cast<LASreaderMerged*>(reader.get()), nullptr);
  EXPECT_FALSE(merged.has_next());
  EXPECT_EQ(reader->point_count, 20);
  EXPECT_EQ(read_all(reader.get()).size(), 20u);
}

TEST(LASreaderFactoryOpen, FlightlineNumbering) {
  ThreeFiles t;
  struct Case {
    std::vector<std::string> args;
    std::vector<U16> expected;  // per input, every point
    std::vector<std::string> left;
  } cases[] = {
      {{"-faf", "3", "-i", t.a, t.b, t.c}, {3, 4, 5}, {}},
      {{"-faf", "-i", t.a, t.b, t.c}, {1, 2, 3}, {}},
      {{"-files_are_flightlines", "0", "-i", t.a}, {1}, {"0"}},
      {{"-faf", "-faf_index", "4", "-i", t.a}, {5}, {}},
      {{"-apply_file_source_ID", "-i", t.a, t.b, t.c}, {11, 12, 13}, {}},
  };
  for (const Case& c : cases) {
    LASreaderFactory factory;
    Parsed p = parse(factory, c.args);
    ASSERT_TRUE(p.ok) << p.messages;
    EXPECT_EQ(p.left, c.left);
    std::vector<std::vector<U16>> got = source_ids(factory);
    ASSERT_EQ(got.size(), c.expected.size()) << c.args[0];
    for (size_t k = 0; k < got.size(); k++) {
      EXPECT_EQ(got[k], std::vector<U16>(10, c.expected[k])) << c.args[0] << " input " << k;
    }
  }
  // The header carries the flightline number too.
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-faf", "7", "-i", t.a, t.b}).ok);
  factory.open();
  std::unique_ptr<LASreader> second = factory.open();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->header.file_source_ID, 8);
  // Reopening keeps the number of the input reopened.
  ASSERT_TRUE(factory.reopen(second.get()));
  EXPECT_EQ(read_all(second.get())[0].point_source_ID, 8);

  // Merged inputs number their files the same way, or by their IDs.
  LASreaderFactory merged;
  ASSERT_TRUE(parse(merged, {"-faf", "-merged", "-i", t.a, t.b, t.c}).ok);
  std::unique_ptr<LASreader> all = merged.open();
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->header.file_source_ID, 0);
  std::vector<U16> ids;
  for (const ReadPoint& p : read_all(all.get())) ids.push_back(p.point_source_ID);
  std::vector<U16> expected(10, 1);
  expected.resize(20, 2);
  expected.resize(30, 3);
  EXPECT_EQ(ids, expected);

  const std::string list = t.dir.file("ids.txt");
  write_text(list, "0," + t.a + "\n1," + t.b + "\n2," + t.c + "\n");
  LASreaderFactory listed;
  ASSERT_TRUE(parse(listed, {"-faf", "-merged", "-lof", list}).ok);
  all = listed.open();
  ASSERT_NE(all, nullptr);
  ids.clear();
  for (const ReadPoint& p : read_all(all.get())) ids.push_back(p.point_source_ID);
  EXPECT_EQ(ids, expected);
}

TEST(LASreaderFactoryParse, Usage) {
  LASreaderFactory factory;
  Parsed p = parse(factory, {"-h", "-i", "whatever.las"});
  EXPECT_TRUE(p.ok);
  EXPECT_NE(p.messages.find("Supported LAS Inputs\n  -i lidar.las\n"), std::string::npos);
  EXPECT_NE(p.messages.find("  -inside_circle center_x center_y radius\n"), std::string::npos);
}

TEST(LASreaderFactoryParse, FlightlineWarnings) {
  LASreaderFactory big;
  EXPECT_EQ(parse(big, {"-faf", "70000"}).messages,
            "WARNING: files_are_flightlines start value 70000 is too large\n");
  LASreaderFactory sum;
  EXPECT_EQ(parse(sum, {"-faf", "65000", "-faf_index", "600"}).messages,
            "WARNING: files_are_flightlines start value 65000 plus index 600 is too large\n");
  LASreaderFactory index;
  EXPECT_EQ(parse(index, {"-faf_index", "65536"}).messages,
            "WARNING: files_are_flightlines_index index value 65536 is too large\n");
}

TEST(LASreaderFactoryOpen, ReaderChosenByName) {
  TempDir dir;
  const std::string las_txt = write_point_file(dir, "survey.las.txt", PointFile());
  const std::string bin = write_point_file(dir, "survey.bin", PointFile());
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", las_txt, bin}).ok);
  std::unique_ptr<LASreader> reader = factory.open();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(read_all(reader.get()).size(), 10u);
  testing::internal::CaptureStderr();
  EXPECT_EQ(factory.open(), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: reading BIN files is not supported\nERROR: cannot open lasreaderbin with file "
            "name '" +
                bin + "'\n");

  // Requantizing variants follow the options.
  struct Case {
    std::vector<std::string> args;
    F64 x_scale, x_offset;
  } cases[] = {
      {{"-rescale", "0.001", "0.001", "0.001"}, 0.001, 0.0},
      {{"-rescale_z", "0.001"}, 0.01, 0.0},
      {{"-reoffset", "5", "0", "0"}, 0.01, 5.0},
      {{"-rescale_xy", "0.1", "0.1", "-reoffset", "5", "0", "0"}, 0.1, 5.0},
  };
  for (const Case& c : cases) {
    LASreaderFactory f;
    std::vector<std::string> args = c.args;
    args.push_back("-i");
    args.push_back(las_txt);
    ASSERT_TRUE(parse(f, args).ok);
    std::unique_ptr<LASreader> r = f.open();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->header.x_scale_factor, c.x_scale) << c.args[0];
    EXPECT_EQ(r->header.x_offset, c.x_offset) << c.args[0];
    std::vector<ReadPoint> points = read_all(r.get());
    ASSERT_EQ(points.size(), 10u);
    EXPECT_NEAR(points[9].x, 9.0, 1e-9);
  }
}

TEST(LASreaderFactoryOpen, ReopenAndAreaQuery) {
  ThreeFiles t;
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", t.a, "-inside", "2", "0", "5", "10"}).ok);
  std::unique_ptr<LASreader> reader = factory.open();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->header.min_x, 2.0);
  std::vector<ReadPoint> first = read_all(reader.get());
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(first[0].x, 2.0);
  ASSERT_TRUE(factory.reopen(reader.get()));
  std::vector<ReadPoint> second = read_all(reader.get());
  ASSERT_EQ(second.size(), 3u);
  EXPECT_EQ(second[2].x, 4.0);
  EXPECT_EQ(reader->header.max_x, 5.0);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(factory.reopen(nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: pointer to LASreader is NULL\n");
}

TEST(LASreaderFactoryOpen, StoredInputIsReadTwice) {
  ThreeFiles t;
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", t.b, "-translate_x", "1", "-stored"}).ok);
  std::unique_ptr<LASreader> reader = factory.open();
  ASSERT_NE(reader, nullptr);
  ASSERT_NE(dynamic_cast<LASreaderStored*>(reader.get()), nullptr);
  std::vector<ReadPoint> first = read_all(reader.get());
  reader->close();
  ASSERT_TRUE(factory.reopen(reader.get()));
  std::vector<ReadPoint> second = read_all(reader.get());
  ASSERT_EQ(first.size(), 10u);
  ASSERT_EQ(second.size(), 10u);
  // Stored points were transformed once, and are not transformed again.
  for (size_t k = 0; k < 10; k++) {
    EXPECT_EQ(first[k].x, 101.0 + F64(k));
    EXPECT_EQ(second[k].x, first[k].x);
  }
}

// Standard input fed through a pipe, as a shell feeds it.
class PipedStdin {
 public:
  explicit PipedStdin(std::vector<U8> bytes) : bytes_(std::move(bytes)) {
    signal(SIGPIPE, SIG_IGN);
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    saved_ = dup(0);
    dup2(fds[0], 0);
    close(fds[0]);
    clearerr(stdin);
    const int out = fds[1];
    writer_ = std::thread([this, out] {
      size_t at = 0;
      while (at < bytes_.size()) {
        const ssize_t n = write(out, bytes_.data() + at, bytes_.size() - at);
        if (n <= 0) break;
        at += size_t(n);
      }
      close(out);
    });
  }
  ~PipedStdin() {
    dup2(saved_, 0);
    close(saved_);
    writer_.join();
    clearerr(stdin);
  }

 private:
  std::vector<U8> bytes_;
  int saved_ = -1;
  std::thread writer_;
};

TEST(LASreaderFactoryOpen, PipedInputIsStoredForASecondPass) {
  PointFile f;
  f.points = 3000;
  f.point_type = 3;
  const std::vector<U8> bytes = build_las(point_file_spec(f));
  LASreaderLAS direct;
  ASSERT_TRUE(direct.open(std::make_unique<ByteStreamInArrayLE>(bytes.data(), I64(bytes.size()))));
  const std::vector<ReadPoint> expected = read_all(&direct);
  {
    PipedStdin in(bytes);
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, {"-stdin"}).ok);
    ASSERT_TRUE(factory.is_piped());
    factory.set_stored(true);
    ASSERT_TRUE(factory.has_next());
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(factory.has_next());
    EXPECT_EQ(factory.get_file_name(), nullptr);
    const std::vector<ReadPoint> first = read_all(reader.get());
    reader->close();
    ASSERT_TRUE(factory.reopen(reader.get()));
    const std::vector<ReadPoint> second = read_all(reader.get());
    ASSERT_EQ(first.size(), expected.size());
    ASSERT_EQ(second.size(), expected.size());
    for (size_t k = 0; k < expected.size(); k++) {
      EXPECT_EQ(first[k].x, expected[k].x);
      EXPECT_EQ(second[k].x, expected[k].x);
      EXPECT_EQ(second[k].point_source_ID, expected[k].point_source_ID);
    }
  }
  {
    PipedStdin in(bytes);
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, {"-stdin"}).ok);
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(read_all(reader.get()).size(), expected.size());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(factory.reopen(reader.get()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR: cannot reopen lasreaderlas from stdin\n");
  }
}

TEST(LASreaderFactoryOpen, Queries) {
  ThreeFiles t;
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, {"-i", t.a, t.b, "-buffered", "5", "-apply_file_source_ID"}).ok);
  EXPECT_TRUE(factory.is_buffered());
  EXPECT_FALSE(factory.is_piped());
  EXPECT_FALSE(factory.is_inside());
  EXPECT_TRUE(factory.get_apply_file_source_ID());
  EXPECT_EQ(factory.get_file_count(), 2u);
  LASreaderFactory one;
  ASSERT_TRUE(parse(one, {"-i", t.a, "-buffered", "5", "-stdin"}).ok);
  EXPECT_FALSE(one.is_buffered());
  EXPECT_TRUE(one.is_piped());
}

}  // namespace
