// The built binary with layers files: what -otrl records, applied again with
// -itrl or through LASapply, must give exactly the records that the same run
// writes into a point file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "las/core/platform.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/io/laswriter_las.hpp"
#include "las/layers/lasapply.hpp"
#include "tests/support/las_builder.hpp"
#include "tests/support/test_data.hpp"
#include "tests/tool/run_tool.hpp"
#include "tools/survey_generator.hpp"

namespace {

std::vector<std::vector<U8>> records_of(const std::string& path) {
  U8 type;
  U16 length;
  std::vector<std::vector<U8>> records;
  EXPECT_TRUE(read_las_records(path, type, length, records)) << path;
  return records;
}

// The records of `las` with its layers applied through the library.
std::vector<std::vector<U8>> applied_records(const std::string& las, const char* directory,
                                             const std::string& out) {
  auto reader = std::make_unique<LASreaderLAS>();
  EXPECT_TRUE(reader->open(las.c_str()));
  LASapply apply;
  apply.set_directory(directory);
  EXPECT_TRUE(apply.open(las.c_str(), std::move(reader), 65536));
  EXPECT_TRUE(apply.load(INT_MAX));
  // Layers may delete points: the writer counts them itself.
  LASheader header;
  header.copy_from(apply.header);
  header.number_of_point_records = 0;
  LASwriterLAS writer;
  EXPECT_TRUE(writer.open(out.c_str(), &header));
  while (apply.read_point()) EXPECT_TRUE(writer.write_point(&apply.point));
  EXPECT_FALSE(apply.failed());
  writer.close();
  return records_of(out);
}

U32 num_layers_of(const std::string& trl) {
  const std::vector<U8> bytes = read_bytes_file(trl);
  U32 n = 0;
  if (bytes.size() >= 20) memcpy(&n, bytes.data() + 16, 4);
  return n;
}

class TrevalonLayers : public testing::Test {
 protected:
  void SetUp() override {
    SurveySpec spec;
    spec.flightlines = 3;
    spec.points = 15000;
    spec.line_length = 120.0;
    spec.swath = 70.0;
    spec.point_type = 1;
    ASSERT_TRUE(write_survey(spec, dir.file("s1.las")));
    spec.point_type = 6;
    ASSERT_TRUE(write_survey(spec, dir.file("s6.las")));
  }
  TempDir dir;
};

TEST_F(TrevalonLayers, LayersReproduceThePointFileOfTheSameRun) {
  struct Case {
    std::string input;
    std::vector<std::string> options;
  } cases[] = {
      {"s1.las", {}},
      {"s1.las", {"-classify_as", "7", "-entire_overlap"}},
      {"s1.las", {"-flag_as_withheld"}},
      {"s1.las", {"-remove_overage"}},
      {"s6.las", {"-flag_as_overlap"}},
      {"s6.las", {"-flag_as_withheld", "-ignore_class", "2"}},
      {"s6.las", {"-remove_overage"}},
  };
  for (const Case& c : cases) {
    std::string label = c.input;
    for (const std::string& o : c.options) label += " " + o;
    SCOPED_TRACE(label);
    const std::string stem = c.input.substr(0, c.input.size() - 4);
    const std::string trl = dir.file(stem + ".trl");
    remove(trl.c_str());
    std::vector<std::string> to_las = {"-i", c.input, "-o", "ref.las"};
    to_las.insert(to_las.end(), c.options.begin(), c.options.end());
    RunResult plain = run_tool(to_las, dir.path());
    ASSERT_EQ(plain.code, 0) << plain.err;

    std::vector<std::string> to_trl = {"-i", c.input, "-otrl", "-quiet"};
    to_trl.insert(to_trl.end(), c.options.begin(), c.options.end());
    RunResult layered = run_tool(to_trl, dir.path());
    ASSERT_EQ(layered.code, 0) << layered.err;
    EXPECT_EQ(layered.err, "");
    EXPECT_EQ(num_layers_of(trl), 1u);
    EXPECT_FALSE(platform::file_exists(dir.file(stem + "_1.las").c_str()));

    const std::vector<std::vector<U8>> want = records_of(dir.file("ref.las"));
    ASSERT_GT(want.size(), 1000u);
    EXPECT_TRUE(applied_records(dir.file(c.input), nullptr, dir.file("lib.las")) == want);
    // Through the tool: -classify_as 40 marks nothing, so the output is the
    // input with its layers applied.
    RunResult again = run_tool(
        {"-i", c.input, "-itrl", "-quiet", "-o", "tool.las", "-classify_as", "40"}, dir.path());
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_TRUE(records_of(dir.file("tool.las")) == want);
  }
}

TEST_F(TrevalonLayers, ApplyingAndWritingAppendsToTheLayersFile) {
  ASSERT_EQ(mkdir(dir.file("layers").c_str(), 0700), 0);
  ASSERT_EQ(run_tool({"-i", "s1.las", "-o", "w.las", "-flag_as_withheld"}, dir.path()).code, 0);
  ASSERT_EQ(run_tool({"-i", "w.las", "-o", "wc.las", "-classify_as", "7"}, dir.path()).code, 0);

  RunResult first =
      run_tool({"-i", "s1.las", "-otrl", "-otrldir", "layers", "-flag_as_withheld"}, dir.path());
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_EQ(first.err.find("WARNING: do not expect TRL files to work across different versions\n"
                           "         of Quintrel because"),
            0u)
      << first.err;
  const std::string trl = dir.file("layers/s1.trl");
  ASSERT_EQ(num_layers_of(trl), 1u);
  RunResult second = run_tool(
      {"-i", "s1.las", "-itrl", "-itrldir", "layers", "-otrl", "-classify_as", "7", "-quiet"},
      dir.path());
  ASSERT_EQ(second.code, 0) << second.err;
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(num_layers_of(trl), 2u);
  EXPECT_TRUE(applied_records(dir.file("s1.las"), dir.file("layers").c_str(),
                              dir.file("lib.las")) == records_of(dir.file("wc.las")));
}

TEST_F(TrevalonLayers, LayersThatCannotBeUsedAreSkipped) {
  const std::vector<std::string> run = {"-i",     "s1.las",      "-o", "out.las", "-itrl",
                                        "-quiet", "-drop_class", "3",  "4",       "-v"};
  ASSERT_EQ(run_tool({"-i", "s1.las", "-o", "plain.las", "-drop_class", "3", "4"}, dir.path()).code,
            0);
  const std::vector<std::vector<U8>> plain = records_of(dir.file("plain.las"));

  // No layers file: a warning, and the input without layers.
  RunResult missing = run_tool(run, dir.path());
  ASSERT_EQ(missing.code, 0) << missing.err;
  EXPECT_EQ(missing.err.find("ERROR: cannot open file 's1.trl'\n"
                             "WARNING: could not open TRL file ... skipping\n"),
            0u)
      << missing.err;
  EXPECT_TRUE(records_of(dir.file("out.las")) == plain);

  // A layers file that opens but whose layer is cut short: the reader comes
  // back whole, its filter included.
  ASSERT_EQ(run_tool({"-i", "s1.las", "-otrl", "-quiet"}, dir.path()).code, 0);
  std::vector<U8> trl = read_bytes_file(dir.file("s1.trl"));
  trl.resize(trl.size() - 10);
  ASSERT_TRUE(write_bytes_file(dir.file("s1.trl"), trl));
  remove(dir.file("out.las").c_str());
  RunResult cut = run_tool(run, dir.path());
  ASSERT_EQ(cut.code, 0) << cut.err;
  EXPECT_NE(cut.err.find("WARNING: could not load layers ... skipping\n"), std::string::npos)
      << cut.err;
  EXPECT_TRUE(records_of(dir.file("out.las")) == plain);

  // Inside queries and -otrl: stopped before anything is read or written.
  RunResult inside =
      run_tool({"-i", "s1.las", "-otrl", "-inside", "0", "0", "50", "50", "-quiet"}, dir.path());
  EXPECT_EQ(inside.code, 1);
  EXPECT_EQ(inside.err, "ERROR: inside queries and '-otrl' cannot currently be combined.\n");
  EXPECT_EQ(read_bytes_file(dir.file("s1.trl")), trl);
}

// Runs that would record a layer the file could not replay stop with exit 1
// and leave the layers file as it was.
TEST_F(TrevalonLayers, LayersFilesAreNeverSpoiled) {
  ASSERT_EQ(run_tool({"-i", "s1.las", "-otrl", "-quiet", "-flag_as_withheld"}, dir.path()).code, 0);
  std::vector<U8> cut = read_bytes_file(dir.file("s1.trl"));
  cut.resize(cut.size() - 10);
  ASSERT_TRUE(write_bytes_file(dir.file("s1.trl"), cut));
  ASSERT_EQ(mkdir(dir.file("a").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(dir.file("b").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(dir.file("out").c_str(), 0700), 0);
  ASSERT_TRUE(write_bytes_file(dir.file("a/s.las"), read_bytes_file(dir.file("s1.las"))));
  ASSERT_TRUE(write_bytes_file(dir.file("b/s.las"), read_bytes_file(dir.file("s1.las"))));
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {"appending over layers that could not be applied",
       {"-i", "s1.las", "-itrl", "-otrl", "-quiet"},
       "ERROR: layers of 's1.las' could not be applied. not adding to 's1.trl'.\n"},
      {"stored input",
       {"-i", "s1.las", "-stored", "-otrl", "-quiet"},
       "ERROR: '-stored' and layers files cannot currently be combined.\n"},
      {"piped input", {"-stdin", "-otrl", "-quiet"}, "ERROR: cannot use '-otrl' for piped input\n"},
      {"two inputs, one layers file",
       {"-i", "a/s.las", "b/s.las", "-otrl", "-otrldir", "out", "-quiet"},
       "ERROR: layers file 'out/s.trl' was already written for another input\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunResult r = run_tool(c.args, dir.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(read_bytes_file(dir.file("s1.trl")), cut);
  }
  // The first of the two inputs got its layers file.
  EXPECT_EQ(num_layers_of(dir.file("out/s.trl")), 1u);
}

// With several inputs each one gets its own layers, also when recovery reads
// every input three times.
TEST_F(TrevalonLayers, EveryInputKeepsItsOwnLayers) {
  SurveySpec spec;
  spec.flightlines = 3;
  spec.points = 9000;
  spec.line_length = 100.0;
  spec.swath = 60.0;
  spec.zero_point_source = true;
  for (U32 seed : {1u, 2u}) {
    spec.seed = seed;
    ASSERT_TRUE(write_survey(spec, dir.file("z" + std::to_string(seed) + ".las")));
  }
  const std::vector<std::string> common = {"-recover_flightlines", "-flag_as_withheld"};
  std::vector<std::string> to_las = {"-i", "z1.las", "z2.las", "-odix", "_ref"};
  to_las.insert(to_las.end(), common.begin(), common.end());
  ASSERT_EQ(run_tool(to_las, dir.path()).code, 0);
  std::vector<std::string> to_trl = {"-i", "z1.las", "z2.las", "-otrl", "-quiet"};
  to_trl.insert(to_trl.end(), common.begin(), common.end());
  RunResult written = run_tool(to_trl, dir.path());
  ASSERT_EQ(written.code, 0) << written.err;
  for (const char* stem : {"z1", "z2"}) {
    SCOPED_TRACE(stem);
    const std::string name = std::string(stem);
    EXPECT_TRUE(applied_records(dir.file(name + ".las"), nullptr, dir.file("lib.las")) ==
                records_of(dir.file(name + "_ref.las")));
  }
  // Applying them again re-opens each input with its own layers after
  // recovery; classification 40 marks nothing.
  RunResult again = run_tool({"-i", "z1.las", "z2.las", "-itrl", "-quiet", "-recover_flightlines",
                              "-classify_as", "40", "-odix", "_tool"},
                             dir.path());
  ASSERT_EQ(again.code, 0) << again.err;
  for (const char* stem : {"z1", "z2"}) {
    SCOPED_TRACE(stem);
    const std::string name = std::string(stem);
    EXPECT_TRUE(records_of(dir.file(name + "_tool.las")) ==
                records_of(dir.file(name + "_ref.las")));
  }
}

TEST_F(TrevalonLayers, FilesAsFlightlinesWriteAndApplyLayersPerFile) {
  SurveySpec spec;
  spec.flightlines = 3;
  spec.points = 12000;
  spec.line_length = 120.0;
  spec.swath = 70.0;
  ASSERT_TRUE(write_survey_split(spec, dir.file("line"), "las"));
  const std::vector<std::string> inputs = {"-i", "line_1.las", "line_2.las", "line_3.las", "-faf"};
  auto with = [&inputs](std::vector<std::string> more) {
    std::vector<std::string> args = inputs;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  ASSERT_EQ(run_tool(with({"-odix", "_ref", "-remove_overage"}), dir.path()).code, 0);
  RunResult written = run_tool(with({"-otrl", "-quiet", "-remove_overage"}), dir.path());
  ASSERT_EQ(written.code, 0) << written.err;
  // The files' flightline numbers are part of their headers here, so the
  // layers apply in the same mode.
  RunResult applied =
      run_tool(with({"-itrl", "-quiet", "-classify_as", "40", "-odix", "_tool"}), dir.path());
  ASSERT_EQ(applied.code, 0) << applied.err;
  size_t kept = 0, all = 0;
  for (int line = 1; line <= 3; line++) {
    SCOPED_TRACE(line);
    const std::string stem = dir.file("line_" + std::to_string(line));
    EXPECT_EQ(num_layers_of(stem + ".trl"), 2u);  // the flightline number, then removal
    const std::vector<std::vector<U8>> want = records_of(stem + "_ref.las");
    EXPECT_TRUE(records_of(stem + "_tool.las") == want);
    kept += want.size();
    all += records_of(stem + ".las").size();
  }
  EXPECT_LT(kept, all);
}

}  // namespace
