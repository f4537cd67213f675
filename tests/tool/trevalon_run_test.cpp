// The built binary, run as a user would: command lines with their exit codes
// and messages, and outputs checked record by record against a model of the
// decision written independently of the library's rasters.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "las/core/platform.hpp"
#include "las/io/lasreader_las.hpp"
#include "tests/support/las_builder.hpp"
#include "tests/support/test_data.hpp"
#include "tests/tool/run_tool.hpp"
#include "tools/survey_generator.hpp"

namespace {

struct Record {
  I32 X, Y;
  U16 source;
  U8 user_data;
  I8 scan_angle_rank;
  U8 classification;
  U8 extended_classification;
  bool withheld, overlap;
  U8 raw[64];
};

std::vector<Record> read_records(const std::string& path, LASheader* header_out = nullptr) {
  std::vector<Record> records;
  LASreaderLAS reader;
  if (!reader.open(path.c_str())) return records;
  while (reader.read_point()) {
    const LASpoint& p = reader.point;
    Record r;
    r.X = p.X;
    r.Y = p.Y;
    r.source = p.point_source_ID;
    r.user_data = p.user_data;
    r.scan_angle_rank = p.scan_angle_rank;
    r.classification = p.classification;
    r.extended_classification = p.extended_classification;
    r.withheld = p.withheld_flag;
    r.overlap = p.get_overlap_flag();
    memcpy(r.raw, p.point10(), 20);
    records.push_back(r);
  }
  EXPECT_FALSE(reader.failed());
  if (header_out) header_out->copy_from(reader.header);
  return records;
}

using Cell = std::pair<I64, I64>;

// The decision as the tool's documentation describes it, kept deliberately
// plain: maps of cells, bounds walks, no tiles.
class DecisionModel {
 public:
  DecisionModel(double step, bool entire) : step_(step), entire_(entire) {}

  void add(U16 line, double x, double y, I8 rank) {
    auto it = index_.find(line);
    if (it == index_.end()) {
      it = index_.emplace(line, lines_.size()).first;
      lines_.push_back({line, {}});
    }
    auto& cells = lines_[it->second].cells;
    const int value = entire_ ? 1 : std::abs(int(rank));
    for (int i = 0; i < 2; i++) {
      for (int j = 0; j < 2; j++) {
        const Cell c{I64(std::floor((x + step_ * i / 2) / step_)),
                     I64(std::floor((y + step_ * j / 2) / step_))};
        auto found = cells.find(c);
        if (found == cells.end()) {
          cells[c] = value;
        } else if (value < found->second) {
          found->second = value;
        }
      }
    }
  }

  void fill_and_decide() {
    I64 min_c = INT64_MAX, min_r = INT64_MAX, max_c = INT64_MIN, max_r = INT64_MIN;
    for (auto& line : lines_) {
      I64 lc = INT64_MAX, lr = INT64_MAX, hc = INT64_MIN, hr = INT64_MIN;
      for (auto& [c, v] : line.cells) {
        lc = std::min(lc, c.first);
        hc = std::max(hc, c.first);
        lr = std::min(lr, c.second);
        hr = std::max(hr, c.second);
      }
      // Only an empty cell next to a covered one can have 5 covered neighbours;
      // fills land on distinct cells after the visit, so their order is free.
      std::set<Cell> candidates;
      for (auto& [c, v] : line.cells) {
        for (I64 dc = -1; dc <= 1; dc++) {
          for (I64 dr = -1; dr <= 1; dr++) {
            const Cell n{c.first + dc, c.second + dr};
            if (n.first >= lc && n.first <= hc && n.second >= lr && n.second <= hr &&
                !line.cells.count(n)) {
              candidates.insert(n);
            }
          }
        }
      }
      std::vector<std::pair<Cell, int>> fills;
      for (const Cell& cell : candidates) {
        const I64 c = cell.first, r = cell.second;
        int count = 0, sum = 0;
        const Cell neighbours[8] = {{c - 1, r - 1}, {c - 1, r},     {c - 1, r + 1}, {c + 1, r - 1},
                                    {c + 1, r},     {c + 1, r + 1}, {c, r - 1},     {c, r + 1}};
        for (const Cell& n : neighbours) {
          auto f = line.cells.find(n);
          if (f != line.cells.end()) {
            count++;
            sum += f->second;
          }
        }
        if (count >= 5) {
          const float mean = float(sum) / float(count);
          fills.push_back({cell, int(mean + 0.5f)});
        }
      }
      for (auto& [c, v] : fills) line.cells[c] = entire_ ? 1 : std::abs(v);
      for (auto& [c, v] : line.cells) {
        min_c = std::min(min_c, c.first);
        max_c = std::max(max_c, c.first);
        min_r = std::min(min_r, c.second);
        max_r = std::max(max_r, c.second);
      }
    }
    for (auto& line : lines_) {
      for (auto& [c, v] : line.cells) {
        auto d = decision_.find(c);
        if (entire_) {
          decision_[c] = (d == decision_.end()) ? 1 : d->second + 1;
        } else if (d == decision_.end() || v < best_value_[c]) {
          decision_[c] = line.id;
          best_value_[c] = v;
        }
      }
    }
  }

  bool marked(U16 line, double x, double y) const {
    const Cell c{I64(std::floor(x / step_)), I64(std::floor(y / step_))};
    auto d = decision_.find(c);
    if (d == decision_.end()) return false;
    return entire_ ? d->second > 1 : d->second != line;
  }

 private:
  struct Line {
    U16 id;
    std::map<Cell, int> cells;
  };
  double step_;
  bool entire_;
  std::map<U16, size_t> index_;
  std::vector<Line> lines_;
  std::map<Cell, int> decision_;
  std::map<Cell, int> best_value_;
};

std::vector<bool> model_marks(const std::vector<Record>& in, const LASheader& h, double step,
                              bool entire) {
  DecisionModel model(step, entire);
  auto x = [&h](const Record& r) { return r.X * h.x_scale_factor + h.x_offset; };
  auto y = [&h](const Record& r) { return r.Y * h.y_scale_factor + h.y_offset; };
  for (const Record& r : in) model.add(r.source, x(r), y(r), r.scan_angle_rank);
  model.fill_and_decide();
  std::vector<bool> marks;
  for (const Record& r : in) marks.push_back(model.marked(r.source, x(r), y(r)));
  return marks;
}

class TrevalonRun : public testing::Test {
 protected:
  void SetUp() override {
    SurveySpec spec;
    spec.flightlines = 3;
    spec.points = 24000;
    spec.line_length = 150.0;
    spec.swath = 80.0;
    spec.point_type = 1;
    ASSERT_TRUE(write_survey(spec, dir.file("s1.las")));
    spec.point_type = 6;
    spec.scanner_channels = 2;
    ASSERT_TRUE(write_survey(spec, dir.file("s6.las")));
  }
  TempDir dir;
};

TEST_F(TrevalonRun, EveryModeMatchesTheModel) {
  struct Case {
    std::string input;
    std::vector<std::string> options;
    std::string output;
    bool entire;
    double step;
  } cases[] = {
      {"s1.las", {}, "classified.las", false, 1.0},
      {"s1.las", {"-classify_as", "7", "-step", "2"}, "class7.las", false, 2.0},
      {"s1.las", {"-flag_as_withheld"}, "withheld.las", false, 1.0},
      {"s1.las", {"-remove_overage"}, "removed.las", false, 1.0},
      {"s1.las", {"-entire_overlap"}, "entire.las", true, 1.0},
      {"s6.las", {"-flag_as_overlap"}, "overlap.vzk", false, 1.0},
      {"s6.las", {"-flag_as_withheld", "-step", "0.5"}, "withheld6.las", false, 0.5},
      {"s6.las", {}, "classified6.vzk", false, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    std::vector<std::string> args = {"-i", c.input, "-o", c.output};
    args.insert(args.end(), c.options.begin(), c.options.end());
    RunResult r = run_tool(args, dir.path());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    LASheader in_header, out_header;
    const std::vector<Record> in = read_records(dir.file(c.input), &in_header);
    const std::vector<Record> out = read_records(dir.file(c.output), &out_header);
    const std::vector<bool> marks = model_marks(in, in_header, c.step, c.entire);
    const bool removing = c.options.size() && c.options[0] == "-remove_overage";
    const bool withheld = c.options.size() && c.options[0] == "-flag_as_withheld";
    const bool overlap = c.options.size() && c.options[0] == "-flag_as_overlap";
    const int cls = (c.options.size() >= 2 && c.options[0] == "-classify_as") ? 7 : 12;
    size_t k = 0, marked = 0;
    for (size_t i = 0; i < in.size(); i++) {
      marked += marks[i];
      if (removing) {
        if (marks[i]) continue;
        ASSERT_LT(k, out.size());
        EXPECT_EQ(memcmp(in[i].raw, out[k].raw, 20), 0) << i;
        k++;
        continue;
      }
      const Record& o = out[i];
      EXPECT_EQ(o.X, in[i].X);
      EXPECT_EQ(o.withheld, withheld ? marks[i] || in[i].withheld : in[i].withheld) << i;
      EXPECT_EQ(o.overlap, overlap ? bool(marks[i]) : in[i].overlap) << i;
      if (!withheld && !overlap) {
        const int expected = marks[i] ? cls : in[i].classification;
        ASSERT_EQ(int(o.classification), expected) << i;
      } else {
        EXPECT_EQ(o.classification, in[i].classification);
      }
    }
    EXPECT_GT(marked, in.size() / 20);  // the survey overlaps, so much is marked
    if (removing) {
      EXPECT_EQ(k, out.size());
      EXPECT_EQ(out_header.number_of_point_records, out.size());
    } else {
      ASSERT_EQ(out.size(), in.size());
    }
    EXPECT_STREQ(std::string(out_header.generating_software, 32).c_str(), "trevalon64 (200304)");
  }
}

TEST_F(TrevalonRun, FilesAsFlightlinesMatchesTheModel) {
  SurveySpec spec;
  spec.flightlines = 3;
  spec.points = 24000;
  spec.line_length = 150.0;
  spec.swath = 80.0;
  ASSERT_TRUE(write_survey_split(spec, dir.file("line"), "las"));
  RunResult r = run_tool({"-i", "line_1.las", "line_2.las", "line_3.las", "-faf", "-odix", "_out"},
                         dir.path());
  ASSERT_EQ(r.code, 0) << r.err;
  // The model sees the three files as flightlines 1, 2, 3 in input order.
  std::vector<Record> all;
  LASheader header;
  for (int line = 1; line <= 3; line++) {
    std::vector<Record> in =
        read_records(dir.file("line_" + std::to_string(line) + ".las"), &header);
    for (Record& rec : in) rec.source = U16(line);
    all.insert(all.end(), in.begin(), in.end());
  }
  const std::vector<bool> marks = model_marks(all, header, 1.0, false);
  size_t i = 0;
  for (int line = 1; line <= 3; line++) {
    std::vector<Record> out = read_records(dir.file("line_" + std::to_string(line) + "_out.las"));
    for (const Record& o : out) {
      ASSERT_LT(i, all.size());
      EXPECT_EQ(o.source, line);
      EXPECT_EQ(int(o.classification), marks[i] ? 12 : int(all[i].classification)) << i;
      i++;
    }
  }
  EXPECT_EQ(i, all.size());
}

TEST_F(TrevalonRun, FilesAsFlightlinesEdges) {
  // Inputs skipped for -flag_as_overlap are still written, even all of them.
  RunResult skipped = run_tool(
      {"-i", "s1.las", "s1.las", "-faf", "-flag_as_overlap", "-odix", "_ov", "-quiet"}, dir.path());
  EXPECT_EQ(skipped.code, 0) << skipped.err;
  const std::vector<Record> in = read_records(dir.file("s1.las"));
  const std::vector<Record> out = read_records(dir.file("s1_ov.las"));
  ASSERT_EQ(out.size(), in.size());
  for (size_t i = 0; i < in.size(); i++) EXPECT_EQ(memcmp(in[i].raw, out[i].raw, 15), 0) << i;

  // Piped input is kept for the second pass instead of being lost.
  std::vector<U8> bytes = read_bytes_file(dir.file("s1.las"));
  for (const char* option : {"-faf", "-apply_file_source_ID"}) {
    RunResult piped = run_tool({"-stdin", option, "-o", "piped.las"}, dir.path(),
                               std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(piped.code, 0) << option << "\n" << piped.err;
    EXPECT_EQ(read_records(dir.file("piped.las")).size(), in.size()) << option;
    remove(dir.file("piped.las").c_str());
  }

  // An input that cannot be opened is the one the error names.
  bytes[0] = 'X';
  ASSERT_TRUE(write_bytes_file(dir.file("broken.las"), bytes));
  RunResult broken = run_tool({"-i", "s1.las", "broken.las", "-faf", "-odix", "_b"}, dir.path());
  EXPECT_EQ(broken.code, 1);
  EXPECT_NE(broken.err.find("ERROR: could not open lasreader for 'broken.las'\n"),
            std::string::npos)
      << broken.err;
}

TEST_F(TrevalonRun, CommandLines) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err_start;
  } cases[] = {
      {{"-i", "s1.las", "-o", "a.las", "-step", "0"},
       1,
       "ERROR: '-step' needs 1 argument: value but 0 in not a valid value\n"},
      {{"-i", "s1.las", "-o", "a.las", "-step", "-2"},
       1,
       "ERROR: '-step' needs 1 argument: value but -2 in not a valid value\n"},
      {{"-i", "s1.las", "-o", "a.las", "-step", "abc"},
       1,
       "ERROR: '-step' needs 1 argument: value but 'abc' in not a valid value\n"},
      {{"-i", "s1.las", "-o", "s1.las"},
       1,
       "ERROR: input and output file name are identical\nusage:\n"},
      {{"-o", "a.las"}, 1, "ERROR: no input specified\n"},
      {{"-i", "s1.las", "-o", "a.las", "-frobnicate"},
       1,
       "ERROR: cannot understand argument '-frobnicate'\n"},
      {{"-i", "s1.las", "-o", "a.las", "-cores"},
       0,
       "WARNING: not compiled with multi-core batching. ignoring '-cores' ...\n"},
      {{"-version"}, 0, "trevalon (Quintrel) version 200304\n"},
      {{"-i", "s1.las", "-o", "a.las", "-flag_as_overlap"},
       0,
       "WARNING: option '-flag_as_overlap' makes no sense for point type 1. use only for point "
       "types 6 or higher.\n         skipping 's1.las' ... \n"},
  };
  for (const Case& c : cases) {
    RunResult r = run_tool(c.args, dir.path());
    EXPECT_EQ(r.code, c.code) << c.args.back() << "\n" << r.err;
    EXPECT_EQ(r.err.substr(0, c.err_start.size()), c.err_start) << c.args.back();
  }
}

TEST_F(TrevalonRun, OneFlightlineWarnsAndMarksNothing) {
  SurveySpec spec;
  spec.flightlines = 1;
  spec.points = 3000;
  ASSERT_TRUE(write_survey(spec, dir.file("one.las")));
  RunResult r = run_tool({"-i", "one.las", "-o", "one_out.las"}, dir.path());
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err,
            "WARNING: input has only one flightline ID 1. there is no overlap to compute.\n");
  std::vector<Record> in = read_records(dir.file("one.las"));
  std::vector<Record> out = read_records(dir.file("one_out.las"));
  ASSERT_EQ(in.size(), out.size());
  for (size_t i = 0; i < in.size(); i++) EXPECT_EQ(memcmp(in[i].raw, out[i].raw, 20), 0);
}

TEST_F(TrevalonRun, FeetByGeoKeysTriplesTheStep) {
  SurveySpec spec;
  spec.flightlines = 2;
  spec.points = 8000;
  spec.line_length = 100.0;
  spec.swath = 60.0;
  spec.in_feet = true;
  ASSERT_TRUE(write_survey(spec, dir.file("feet.las")));
  spec.in_feet = false;
  ASSERT_TRUE(write_survey(spec, dir.file("metre.las")));
  RunResult r = run_tool({"-i", "feet.las", "metre.las", "-odix", "_o", "-v"}, dir.path());
  ASSERT_EQ(r.code, 0) << r.err;
  // Once an input was in feet, later inputs keep the tripled step.
  EXPECT_NE(r.err.find("processing file 'feet.las' with 8000 points using step 3.\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("processing file 'metre.las' with 8000 points using step 3.\n"),
            std::string::npos);
  LASheader h;
  std::vector<Record> in = read_records(dir.file("feet.las"), &h);
  std::vector<Record> out = read_records(dir.file("feet_o.las"));
  std::vector<bool> marks = model_marks(in, h, 3.0, false);
  ASSERT_EQ(in.size(), out.size());
  for (size_t i = 0; i < in.size(); i++) {
    EXPECT_EQ(int(out[i].classification), marks[i] ? 12 : int(in[i].classification)) << i;
  }
}

TEST_F(TrevalonRun, PromptModeReadsNamesAndWaits) {
  RunResult r = run_tool({}, dir.path(), "s1.las\nprompted.las\r\n\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("is better run in the command line\nenter input file: enter output file: "),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("<press ENTER>\n"), std::string::npos);
  EXPECT_EQ(read_records(dir.file("prompted.las")).size(), 24000u);

  RunResult empty = run_tool({}, dir.path(), "");
  EXPECT_EQ(empty.code, 1);
  EXPECT_NE(empty.err.find("ERROR: no input specified\n"), std::string::npos);
}

TEST_F(TrevalonRun, DamagedInputs) {
  // A file cut inside its points ends early: the points that are there are
  // processed and the output header counts exactly them.
  std::vector<U8> bytes = read_bytes_file(dir.file("s1.las"));
  ASSERT_GT(bytes.size(), 100000u);
  bytes.resize(bytes.size() / 2 + 7);
  ASSERT_TRUE(write_bytes_file(dir.file("cut.las"), bytes));
  RunResult cut = run_tool({"-i", "cut.las", "-o", "cut_out.las"}, dir.path());
  EXPECT_EQ(cut.code, 0) << cut.err;
  EXPECT_NE(cut.err.find("WARNING: end-of-file after "), std::string::npos) << cut.err;
  LASheader h;
  const std::vector<Record> out = read_records(dir.file("cut_out.las"), &h);
  EXPECT_GT(out.size(), 10000u);
  EXPECT_EQ(h.number_of_point_records, out.size());

  // Damaged compressed data is an error of the input: exit 1 and no output.
  SurveySpec spec;
  spec.points = 60000;
  ASSERT_TRUE(write_survey(spec, dir.file("v.vzk")));
  std::vector<U8> vzk = read_bytes_file(dir.file("v.vzk"));
  for (size_t i = vzk.size() / 3; i < vzk.size() / 3 + 200; i++) vzk[i] ^= 0x5A;
  ASSERT_TRUE(write_bytes_file(dir.file("bad.vzk"), vzk));
  RunResult bad = run_tool({"-i", "bad.vzk", "-o", "bad_out.las"}, dir.path());
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("ERROR: reading points of 'bad.vzk' failed. no output written.\n"),
            std::string::npos)
      << bad.err;
  EXPECT_FALSE(platform::file_exists(dir.file("bad_out.las").c_str()));
}

TEST_F(TrevalonRun, RecoveredFlightlinesMatchTheModel) {
  SurveySpec spec;
  spec.flightlines = 3;
  spec.points = 24000;
  spec.line_length = 150.0;
  spec.swath = 80.0;
  spec.zero_point_source = true;
  ASSERT_TRUE(write_survey(spec, dir.file("zero.las")));
  // Without recovery every point is one flightline: nothing to mark.
  RunResult plain = run_tool({"-i", "zero.las", "-o", "plain.las"}, dir.path());
  EXPECT_EQ(plain.code, 0);
  EXPECT_EQ(plain.err,
            "WARNING: input has only one flightline ID 0. there is no overlap to compute.\n");

  RunResult r =
      run_tool({"-i", "zero.las", "-o", "recovered.las", "-recover_flightlines", "-v"}, dir.path());
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("recovered 3 flight lines\n"), std::string::npos) << r.err;
  LASheader h;
  std::vector<Record> in = read_records(dir.file("zero.las"), &h);
  // The generator's lines are separated by turns, so recovery finds its numbering.
  for (Record& rec : in) rec.source = U16(rec.user_data + 1);
  const std::vector<bool> marks = model_marks(in, h, 1.0, false);
  const std::vector<Record> out = read_records(dir.file("recovered.las"));
  ASSERT_EQ(out.size(), in.size());
  size_t marked = 0;
  for (size_t i = 0; i < in.size(); i++) {
    marked += marks[i];
    EXPECT_EQ(out[i].source, 0);  // stored IDs are written unchanged
    ASSERT_EQ(int(out[i].classification), marks[i] ? 12 : int(in[i].classification)) << i;
  }
  EXPECT_GT(marked, in.size() / 20);
}

TEST_F(TrevalonRun, MoreCommandLines) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {{"-i", "s1.las", "-o", "t.las", "-otrl", "-inside", "0", "0", "1e9", "1e9", "-quiet"},
       1,
       "ERROR: inside queries and '-otrl' cannot currently be combined.\n"},
      {{"-stdin", "-o", "t.las", "-itrl", "-quiet"},
       1,
       "ERROR: cannot use '-itrl' for piped input\n"},
      {{"-i", "s1.las", "-o", "t.las", "\x96version"}, 0, "trevalon (Quintrel) version 200304\n"},
  };
  for (const Case& c : cases) {
    RunResult r = run_tool(c.args, dir.path());
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_EQ(r.err, c.err);
  }

  // The overflow report comes once per reader, not once per pass.
  for (const char* recover : {"-v", "-recover_flightlines"}) {
    RunResult over = run_tool(
        {"-i", "s1.las", "-o", "over.las", "-translate_x", "21474836.47", recover}, dir.path());
    EXPECT_EQ(over.code, 0) << over.err;
    size_t reports = 0;
    for (size_t at = over.err.find("overflows caused by"); at != std::string::npos;
         at = over.err.find("overflows caused by", at + 1)) {
      reports++;
    }
    EXPECT_EQ(reports, 1u) << recover << "\n" << over.err;
  }

  // The last -classify_as wins; removal goes before classification.
  RunResult twice = run_tool(
      {"-i", "s1.las", "-o", "c9.las", "-classify_as", "3", "-classify_as", "9"}, dir.path());
  ASSERT_EQ(twice.code, 0) << twice.err;
  RunResult removing = run_tool(
      {"-i", "s1.las", "-o", "rm.las", "-remove_overage", "-classify_as", "7"}, dir.path());
  ASSERT_EQ(removing.code, 0) << removing.err;
  const std::vector<Record> in = read_records(dir.file("s1.las"));
  const std::vector<Record> c9 = read_records(dir.file("c9.las"));
  const std::vector<Record> rm = read_records(dir.file("rm.las"));
  ASSERT_EQ(c9.size(), in.size());
  size_t nine = 0;
  for (size_t i = 0; i < in.size(); i++) {
    EXPECT_NE(c9[i].classification, 3);
    nine += c9[i].classification == 9;
  }
  EXPECT_EQ(rm.size() + nine, in.size());
  for (const Record& r : rm) EXPECT_NE(r.classification, 7);
}

// Real files written by other software, and compressed inputs: the step the
// tool reports (tripled for feet or degrees) drives the model.
TEST_F(TrevalonRun, SharedSamplesAndCompressedInputsMatchTheModel) {
  std::vector<std::string> inputs = {"s1.las", "s6.las"};
  // Compressed copies of the generator's surveys as inputs.
  ASSERT_EQ(run_tool({"-i", "s1.las", "-o", "s1_copy.vzk", "-classify_as", "40"}, dir.path()).code,
            0);
  inputs.push_back("s1_copy.vzk");
  const std::string shared = shared_las_dir();
  for (const char* name :
       {"simple.las", "autzen.las", "4_6_crop.las", "simple1_3.las", "test1_4.las",
        "extrabytes.las", "epsg_4326.las", "vegetation_1_3.las", "simple1_4.las"}) {
    if (!shared.empty()) inputs.push_back(shared + "/" + name);
  }
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input);
    for (const bool entire : {false, true}) {
      std::vector<std::string> args = {"-i", input, "-o", "m.vzk", "-v"};
      if (entire) args.push_back("-entire_overlap");
      RunResult r = run_tool(args, dir.path());
      ASSERT_EQ(r.code, 0) << r.err;
      const size_t at = r.err.find("points using step ");
      ASSERT_NE(at, std::string::npos) << r.err;
      const double step = atof(r.err.c_str() + at + 18);
      const std::string in_path = input[0] == '/' ? input : dir.file(input);
      LASheader h;
      const std::vector<Record> in = read_records(in_path, &h);
      const std::vector<Record> out = read_records(dir.file("m.vzk"));
      ASSERT_EQ(out.size(), in.size());
      const std::vector<bool> marks = model_marks(in, h, step, entire);
      for (size_t i = 0; i < in.size(); i++) {
        const int before = in[i].classification;
        ASSERT_EQ(int(out[i].classification), marks[i] ? 12 : before) << i;
      }
    }
  }
  if (shared.empty())
    GTEST_SKIP() << "shared LAS samples not found; generator surveys checked only";
}

}  // namespace
