#include "las/layers/tierling_other.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/layers/tierling_classes.hpp"
#include "las/layers/trl_file.hpp"

namespace {

using Fill = std::function<void(int i, LASpoint& read, LASpoint& written)>;
using Setup = std::function<void(int i, LASpoint& point)>;

void set_format(LASheader& h, U8 format) {
  h.point_data_format = format;
  h.point_data_record_length = base_point_size(format);
  h.version_minor = format >= 6 ? 4 : 2;
  h.header_size = format >= 6 ? 375 : 227;
  h.offset_to_point_data = h.header_size;
}

// Return numbers that walk through all four return-type classes.
void set_returns(LASpoint& p, int i) {
  static const U8 kReturns[4][2] = {{1, 1}, {1, 3}, {3, 3}, {2, 3}};
  p.return_number = kReturns[i % 4][0];
  p.number_of_returns = kReturns[i % 4][1];
}

// Writes a layer over n points, directly into the TRL stream or buffered
// first, and returns the bytes of the layer record.
std::vector<U8> write_layer(Tierling& layer, LASheader& header, int n, const Fill& fill,
                            bool buffered = false) {
  LASpoint read, written;
  EXPECT_TRUE(read.init_layout(&header, header.point_data_format, header.point_data_record_length,
                               nullptr));
  EXPECT_TRUE(written.init_layout(&header, header.point_data_format,
                                  header.point_data_record_length, nullptr));
  layer.set_header(&header);
  ByteStreamOutArrayLE out;
  EXPECT_TRUE(layer.start_writing(buffered ? nullptr : &out));
  for (int i = 0; i < n; i++) {
    read.clear_values();
    written.clear_values();
    fill(i, read, written);
    EXPECT_TRUE(layer.record(read, written)) << "point " << i;
  }
  EXPECT_TRUE(layer.done_writing(&out));
  return std::vector<U8>(out.data(), out.data() + out.size());
}

// The reading side as the layer-applying reader drives it: the point is set
// up from the header before the layer is loaded.
struct Loaded {
  explicit Loaded(std::vector<U8> record, U8 format) : bytes(std::move(record)) {
    set_format(header, format);
    EXPECT_TRUE(point.init_layout(&header, header.point_data_format,
                                  header.point_data_record_length, nullptr));
    in = std::make_unique<ByteStreamInArrayLE>(bytes.data(), I64(bytes.size()));
    layer = trl::read_tierling(in.get(), &header);
  }
  bool start() { return layer && layer->start_reading(in.get()) && layer->adjust_point(&point); }
  // Applies the layer to n points set up as read; false at the first failure.
  bool apply_all(int n, const Setup& setup, const std::function<void(int, LASpoint&)>& check) {
    for (int i = 0; i < n; i++) {
      point.clear_values();
      setup(i, point);
      if (!layer->apply(&point)) return false;
      check(i, point);
    }
    return true;
  }

  std::vector<U8> bytes;
  LASheader header;
  LASpoint point;
  std::unique_ptr<ByteStreamInArrayLE> in;
  std::unique_ptr<Tierling> layer;
};

// Where the specialized header begins in a record written without header
// modifications, ignore rules or description.
constexpr size_t kSpecialized = 44;

U64 record_size(const std::vector<U8>& bytes) {
  U64 size;
  memcpy(&size, bytes.data(), 8);
  return size;
}

// Declares `extra` more specialized header bytes than the class knows and
// puts that many bytes of junk after the known fields.
std::vector<U8> with_longer_specialized(std::vector<U8> bytes, U32 known, U32 extra,
                                        bool wide_offset) {
  const size_t at = kSpecialized + known;
  bytes.insert(bytes.begin() + std::ptrdiff_t(at), extra, U8(0xA5));
  if (wide_offset) {
    U32 offset;
    memcpy(&offset, &bytes[kSpecialized], 4);
    offset += extra;
    memcpy(&bytes[kSpecialized], &offset, 4);
  } else {
    U16 offset;
    memcpy(&offset, &bytes[kSpecialized], 2);
    offset = U16(offset + extra);
    memcpy(&bytes[kSpecialized], &offset, 2);
  }
  const U64 size = record_size(bytes) + extra;
  memcpy(bytes.data(), &size, 8);
  return bytes;
}

std::vector<U8> with_offset_to_data(std::vector<U8> bytes, U32 offset, bool wide_offset) {
  if (wide_offset) {
    memcpy(&bytes[kSpecialized], &offset, 4);
  } else {
    const U16 narrow = U16(offset);
    memcpy(&bytes[kSpecialized], &narrow, 2);
  }
  return bytes;
}

// ---- intensity

struct IntensityCase {
  bool both;
  bool lower;
  U32 mask;  // the bits the values may use
};

TEST(TierlingReplaceIntensityCompressed, RoundTripsEveryByteModeAndLeavesExcludedPointsAlone) {
  const IntensityCase cases[] = {
      {true, false, 0xFFFF}, {true, true, 0xFFFF}, {false, true, 0x00FF}, {false, false, 0xFF00}};
  for (const IntensityCase& c : cases) {
    for (bool buffered : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.both << c.lower << buffered);
      const int n = 500;
      std::mt19937 random(7);
      std::vector<U16> values(n);
      for (U16& v : values) {
        // Runs of equal values and single-byte changes, as real data has.
        v = U16((random() % 3 == 0 ? random() : (random() % 4)) & c.mask);
      }
      LASheader h;
      set_format(h, 1);
      TierlingReplaceIntensityCompressed layer(c.both, c.lower);
      layer.add_class(7);
      const std::vector<U8> bytes = write_layer(
          layer, h, n,
          [&](int i, LASpoint& r, LASpoint& w) {
            r.classification = w.classification = (i % 5 == 0) ? 7 : 2;
            set_returns(r, i);
            r.intensity = 1;
            w.intensity = values[size_t(i)];
          },
          buffered);
      ASSERT_EQ(record_size(bytes), bytes.size());

      Loaded back(bytes, 1);
      ASSERT_TRUE(back.start());
      auto* loaded = dynamic_cast<TierlingReplaceIntensityCompressed*>(back.layer.get());
      ASSERT_NE(loaded, nullptr);
      EXPECT_EQ(loaded->uses_both_bytes(), c.both);
      EXPECT_EQ(loaded->uses_lower_byte(), c.lower);
      EXPECT_TRUE(back.apply_all(
          n,
          [](int i, LASpoint& p) {
            p.classification = (i % 5 == 0) ? 7 : 2;
            set_returns(p, i);
            p.intensity = 1;
          },
          [&](int i, LASpoint& p) {
            EXPECT_EQ(p.intensity, i % 5 == 0 ? 1 : values[size_t(i)]) << i;
          }));
    }
  }
}

TEST(TierlingReplaceIntensityCompressed, OneByteModeRefusesAValueThatNeedsTheOtherByte) {
  LASheader h;
  set_format(h, 0);
  TierlingReplaceIntensityCompressed layer(false, true);
  layer.set_header(&h);
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(layer.start_writing(&out));
  LASpoint r, w;
  ASSERT_TRUE(r.init_layout(&h, 0, 20, nullptr));
  ASSERT_TRUE(w.init_layout(&h, 0, 20, nullptr));
  w.intensity = 255;
  EXPECT_TRUE(layer.record(r, w));
  w.intensity = 256;
  EXPECT_FALSE(layer.record(r, w));
}

// ---- colour

struct RGBCase {
  const char* name;
  std::function<std::unique_ptr<Tierling>()> make;
  U32 mask;  // the bits each channel may use
};

TEST(TierlingAddRGB, RoundTripsGreyAndColouredPointsInEveryMode) {
  const RGBCase cases[] = {
      {"raw", [] { return std::make_unique<TierlingAddRGBRaw>(); }, 0xFFFF},
      {"both bytes", [] { return std::make_unique<TierlingAddRGBCompressed>(); }, 0xFFFF},
      {"lower byte", [] { return std::make_unique<TierlingAddRGBCompressed>(false, true); }, 0xFF},
      {"upper byte", [] { return std::make_unique<TierlingAddRGBCompressed>(false, false); },
       0xFF00},
  };
  for (const RGBCase& c : cases) {
    SCOPED_TRACE(c.name);
    const int n = 600;
    std::mt19937 random(11);
    std::vector<std::array<U16, 3>> colours(n);
    for (auto& colour : colours) {
      const U16 grey = U16(random());
      for (U16& v : colour) v = U16((random() % 3 == 0 ? grey : U16(random())) & c.mask);
      if (random() % 4 == 0) colour[1] = colour[2] = colour[0];  // grey
    }
    LASheader h;
    set_format(h, 1);
    std::unique_ptr<Tierling> layer = c.make();
    const std::vector<U8> bytes = write_layer(*layer, h, n, [&](int i, LASpoint& r, LASpoint& w) {
      set_returns(r, i);
      memcpy(w.rgb, colours[size_t(i)].data(), 6);
    });
    // The writer's header now describes points with colour.
    EXPECT_EQ(h.point_data_format, 3);
    EXPECT_EQ(h.point_data_record_length, 34);

    Loaded back(bytes, 1);
    ASSERT_FALSE(back.point.has_rgb);
    ASSERT_TRUE(back.start());
    EXPECT_TRUE(back.point.has_rgb);
    EXPECT_EQ(back.point.record_size, 34);
    EXPECT_EQ(back.header.point_data_format, 3);
    EXPECT_TRUE(back.apply_all(
        n, [](int i, LASpoint& p) { set_returns(p, i); },
        [&](int i, LASpoint& p) {
          EXPECT_EQ(p.rgb[0], colours[size_t(i)][0]) << i;
          EXPECT_EQ(p.rgb[1], colours[size_t(i)][1]) << i;
          EXPECT_EQ(p.rgb[2], colours[size_t(i)][2]) << i;
        }));
  }
}

TEST(TierlingAddRGB, ExcludedPointsReadBlackOnlyWhenTheFileHadNoColour) {
  for (bool raw : {true, false}) {
    for (U8 format : {U8(0), U8(2)}) {
      SCOPED_TRACE(testing::Message() << raw << int(format));
      std::unique_ptr<Tierling> layer;
      if (raw) {
        layer = std::make_unique<TierlingAddRGBRaw>();
      } else {
        layer = std::make_unique<TierlingAddRGBCompressed>();
      }
      layer->add_class(9);
      LASheader h;
      set_format(h, format);
      const int n = 20;
      const std::vector<U8> bytes = write_layer(*layer, h, n, [](int i, LASpoint& r, LASpoint& w) {
        r.classification = (i % 2) ? 9 : 1;
        w.rgb[0] = U16(100 + i);
        w.rgb[1] = U16(200 + i);
        w.rgb[2] = U16(300 + i);
      });
      Loaded back(bytes, format);
      ASSERT_TRUE(back.start());
      EXPECT_TRUE(back.apply_all(
          n,
          [](int i, LASpoint& p) {
            p.classification = (i % 2) ? 9 : 1;
            p.rgb[0] = p.rgb[1] = p.rgb[2] = 77;  // left over from the last point
          },
          [&](int i, LASpoint& p) {
            const U16 expected = (i % 2) ? (format == 0 ? 0 : 77) : U16(100 + i);
            EXPECT_EQ(p.rgb[0], expected) << i;
          }));
    }
  }
}

TEST(TierlingAddRGBCompressed, OneByteModeRefusesAColourThatNeedsTheOtherByte) {
  LASheader h;
  set_format(h, 2);
  TierlingAddRGBCompressed layer(false, false);
  layer.set_header(&h);
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(layer.start_writing(&out));
  LASpoint r, w;
  ASSERT_TRUE(r.init_layout(&h, 2, 26, nullptr));
  ASSERT_TRUE(w.init_layout(&h, 2, 26, nullptr));
  w.rgb[0] = 0x1200;
  EXPECT_TRUE(layer.record(r, w));
  w.rgb[2] = 0x1201;
  EXPECT_FALSE(layer.record(r, w));
}

TEST(TierlingAddNIRCompressed, RoundTripsAndWidensTheLayout) {
  struct Case {
    U8 format;
    U8 widened;
    bool both, lower;
    U32 mask;
  };
  const Case cases[] = {{7, 8, true, false, 0xFFFF},
                        {6, 8, false, true, 0xFF},
                        {1, 1, false, false, 0xFF00},
                        {3, 3, true, false, 0xFFFF},
                        {8, 8, true, false, 0xFFFF}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.format));
    const int n = 300;
    std::mt19937 random(3);
    std::vector<U16> values(n);
    for (U16& v : values) v = U16(random() & c.mask);
    LASheader h;
    set_format(h, c.format);
    TierlingAddNIRCompressed layer(c.both, c.lower);
    layer.add_class(9);
    const std::vector<U8> bytes = write_layer(layer, h, n, [&](int i, LASpoint& r, LASpoint& w) {
      r.classification = (i % 4 == 0) ? 9 : 1;
      w.rgb[3] = values[size_t(i)];
      w.rgb[0] = 5;  // colour is not the layer's business
    });
    EXPECT_EQ(h.point_data_format, c.widened);
    Loaded back(bytes, c.format);
    ASSERT_TRUE(back.start());
    EXPECT_TRUE(back.point.has_nir);
    EXPECT_TRUE(back.point.has_rgb);
    EXPECT_EQ(back.point.extended_layout, c.format >= 6 ? 1 : 0);
    EXPECT_TRUE(back.apply_all(
        n,
        [](int i, LASpoint& p) {
          p.classification = (i % 4 == 0) ? 9 : 1;
          p.rgb[0] = 9;
          p.rgb[3] = 55;  // the file's own value, or one left over from the last point
        },
        [&](int i, LASpoint& p) {
          const U16 excluded = c.format == 8 ? 55 : 0;
          EXPECT_EQ(p.rgb[3], i % 4 == 0 ? excluded : values[size_t(i)]) << i;
          EXPECT_EQ(p.rgb[0], 9);
        }));
  }
}

// ---- coordinate differences

TEST(TierlingDiffCompressed, MovesTheCodedAxesOnlyIncludingWrappingDifferences) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<Tierling>()> make;
    bool xy, z;
  };
  const Case cases[] = {
      {"XY", [] { return std::make_unique<TierlingDiffXYCompressed>(); }, true, false},
      {"Z", [] { return std::make_unique<TierlingDiffZCompressed>(); }, false, true},
      {"XYZ", [] { return std::make_unique<TierlingDiffXYZCompressed>(); }, true, true},
  };
  const int n = 400;
  std::mt19937 random(5);
  std::vector<std::array<I32, 6>> xyz(n);  // as read, then as written
  for (auto& p : xyz) {
    for (int k = 0; k < 3; k++) p[size_t(k)] = I32(random());
    for (int k = 0; k < 3; k++) {
      const U32 pick = random() % 4;
      // Small shifts, repeated shifts, and moves that wrap around 32 bits.
      const I32 d = pick == 0 ? I32(random() % 50) - 25 : pick == 1 ? 1000 : I32(random());
      p[size_t(3 + k)] = I32(U32(p[size_t(k)]) + U32(d));
    }
  }
  xyz[0] = {I32_MAX, I32_MIN, 0, I32_MIN, I32_MAX, -1};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    set_format(h, 0);
    std::unique_ptr<Tierling> layer = c.make();
    layer->add_class(3);
    auto set_read = [&](int i, LASpoint& p) {
      p.X = xyz[size_t(i)][0];
      p.Y = xyz[size_t(i)][1];
      p.Z = xyz[size_t(i)][2];
      p.classification = (i % 7 == 0) ? 3 : 1;
      set_returns(p, i / 3);
    };
    const std::vector<U8> bytes = write_layer(*layer, h, n, [&](int i, LASpoint& r, LASpoint& w) {
      set_read(i, r);
      set_read(i, w);
      w.X = xyz[size_t(i)][3];
      w.Y = xyz[size_t(i)][4];
      w.Z = xyz[size_t(i)][5];
    });
    Loaded back(bytes, 0);
    ASSERT_TRUE(back.start());
    EXPECT_TRUE(back.apply_all(n, set_read, [&](int i, LASpoint& p) {
      const bool moved = i % 7 != 0;
      const auto& e = xyz[size_t(i)];
      EXPECT_EQ(p.X, moved && c.xy ? e[3] : e[0]) << i;
      EXPECT_EQ(p.Y, moved && c.xy ? e[4] : e[1]) << i;
      EXPECT_EQ(p.Z, moved && c.z ? e[5] : e[2]) << i;
    }));
  }
}

// ---- header change, VLR

TEST(TierlingChangeHeader, CarriesOnlyHeaderModifications) {
  LASheader h;
  set_format(h, 1);
  h.file_source_ID = 4711;
  h.x_offset = 1000.0;
  TierlingChangeHeader layer;
  layer.set_modification_mask(0x1 | 0x20000);
  const std::vector<U8> bytes = write_layer(layer, h, 3, [](int, LASpoint&, LASpoint&) {});
  Loaded back(bytes, 1);
  ASSERT_TRUE(back.start());
  EXPECT_EQ(back.header.file_source_ID, 4711);
  EXPECT_EQ(back.header.x_offset, 1000.0);
  // Nothing but the 2-byte specialized header after the modifications.
  EXPECT_EQ(bytes.size(), 44u + 2 + 8 + 2);
  EXPECT_TRUE(back.apply_all(
      3, [](int, LASpoint& p) { p.X = 5; }, [](int, LASpoint& p) { EXPECT_EQ(p.X, 5); }));
}

TEST(TierlingAddVLR, AddsTheRecordToTheHeaderOnReading) {
  std::vector<U8> payload(300);
  for (size_t i = 0; i < payload.size(); i++) payload[i] = U8(i * 7);
  LASheader h;
  set_format(h, 1);
  TierlingAddVLR layer("a user id longer than sixteen", 42, payload);
  const std::vector<U8> bytes = write_layer(layer, h, 2, [](int, LASpoint&, LASpoint&) {});
  // The writing side leaves the header alone: the record is added once, on reading.
  EXPECT_TRUE(h.vlrs.empty());
  U32 offset;
  memcpy(&offset, &bytes[kSpecialized], 4);
  EXPECT_EQ(offset, 300u + 24);

  Loaded back(bytes, 1);
  const U32 before = back.header.offset_to_point_data;
  ASSERT_TRUE(back.start());
  ASSERT_EQ(back.header.vlrs.size(), 1u);
  const LASvlrRecord& vlr = back.header.vlrs[0];
  EXPECT_EQ(memcmp(vlr.user_id, "a user id longer", 16), 0);
  EXPECT_EQ(vlr.record_id, 42);
  EXPECT_EQ(vlr.data, payload);
  EXPECT_STREQ(vlr.description, "by Quintrel of Borgenfeld GmbH");
  EXPECT_EQ(back.header.number_of_variable_length_records, 1u);
  EXPECT_EQ(back.header.offset_to_point_data, before + 54 + 300);
}

// ---- append

TEST(TierlingAppendPointsRaw, DeliversThePointsBeyondTheFilesOwnCount) {
  for (const auto& [format, buffered] :
       {std::make_pair(U8(1), false), std::make_pair(U8(6), true)}) {
    SCOPED_TRACE(int(format));
    LASheader h;
    set_format(h, format);
    h.x_scale_factor = h.y_scale_factor = h.z_scale_factor = 0.5;
    h.number_of_point_records = 3;
    h.extended_number_of_point_records = 3;
    TierlingAppendPointsRaw layer;
    layer.set_modification_mask(0x1000 | 0x100000 | 0x400000);
    auto fill = [](int i, LASpoint& p) {
      p.X = 10 * i;
      p.Y = -i;
      p.Z = 100 + i;
      p.intensity = U16(i);
      p.return_number = 1;
      p.number_of_returns = 2;
      p.classification = U8(i + 1);
      p.scan_angle_rank = I8(-3 * i);
      p.point_source_ID = U16(500 + i);
      p.gps_time = 0.25 * i;
    };
    // Buffered, the total count is patched in memory rather than in the file.
    const std::vector<U8> bytes = write_layer(
        layer, h, 6,
        [&](int i, LASpoint& r, LASpoint& w) {
          fill(i, r);
          fill(i, w);
        },
        buffered);
    // Modifications, offset_to_data, the two counts, then the 3 appended
    // points of 20 legacy bytes and the GPS time each.
    EXPECT_EQ(bytes.size(), 44u + (4 + 16 + 16) + 2 + 16 + 3 * 28);
    // The writer's header counts every point written through the layer.
    EXPECT_EQ(h.number_of_point_records, format == 1 ? 6u : 0u);
    EXPECT_EQ(h.max_x, 25.0);
    EXPECT_EQ(h.min_z, 50.0);

    Loaded back(bytes, format);
    ASSERT_TRUE(back.start());
    auto* append = dynamic_cast<TierlingAppendPointsRaw*>(back.layer.get());
    ASSERT_NE(append, nullptr);
    EXPECT_EQ(append->get_file_count(), 3u);
    EXPECT_EQ(append->get_total_count(), 6u);
    EXPECT_EQ(back.header.max_z, 52.5);
    for (int i = 3; i < 6; i++) {
      back.point.X = 12345;
      ASSERT_TRUE(back.layer->next_appended_point(&back.point));
      EXPECT_EQ(back.point.X, 10 * i);
      EXPECT_EQ(back.point.Z, 100 + i);
      EXPECT_EQ(back.point.intensity, i);
      EXPECT_EQ(back.point.classification, i + 1);
      EXPECT_EQ(back.point.point_source_ID, 500 + i);
      EXPECT_EQ(back.point.gps_time, 0.25 * i);
      if (format == 6) {
        EXPECT_EQ(back.point.extended_classification, i + 1);
        EXPECT_EQ(back.point.extended_number_of_returns, 2);
      }
    }
    EXPECT_FALSE(back.layer->next_appended_point(&back.point));
  }
}

TEST(TierlingAppendPointsRaw, RefusesCountsTheLayerCannotHold) {
  LASheader h;
  set_format(h, 0);
  h.number_of_point_records = 1;
  TierlingAppendPointsRaw layer;
  std::vector<U8> bytes = write_layer(layer, h, 3, [](int i, LASpoint&, LASpoint& w) { w.X = i; });
  // Total count (after the file's count) claims a billion points.
  const U64 total = 1000000000;
  memcpy(&bytes[kSpecialized + 2 + 8], &total, 8);
  Loaded back(bytes, 0);
  ASSERT_NE(back.layer, nullptr);
  EXPECT_FALSE(back.start());
}

// ---- filter and transform

TEST(TierlingFilter, MarksThePointsTheStoredFilterDrops) {
  LASheader h;
  set_format(h, 0);
  TierlingFilter layer("-drop_class 2 5");
  const std::vector<U8> bytes = write_layer(layer, h, 4, [](int, LASpoint&, LASpoint&) {});
  Loaded back(bytes, 0);
  ASSERT_TRUE(back.start());
  EXPECT_EQ(dynamic_cast<TierlingFilter*>(back.layer.get())->get_text(), "-drop_class 2 5");
  EXPECT_TRUE(back.apply_all(
      10, [](int i, LASpoint& p) { p.classification = U8(i); },
      [](int i, LASpoint& p) { EXPECT_EQ(p.marked_deleted, (i == 2 || i == 5) ? 1 : 0) << i; }));
}

TEST(TierlingTransform, AppliesTheStoredTransformAndItsOwnFilter) {
  struct Case {
    const char* text;
    std::function<I32(int)> z;  // Z after the transform of a point with Z 100
  };
  const Case cases[] = {
      {"-translate_z 5 ", [](int) { return 600; }},
      {"-keep_class 2 -filtered_transform -translate_z 5 ",
       [](int i) { return i == 2 ? 600 : 100; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    LASheader h;
    set_format(h, 0);
    TierlingTransform layer(c.text);
    const std::vector<U8> bytes = write_layer(layer, h, 4, [](int, LASpoint&, LASpoint&) {});
    Loaded back(bytes, 0);
    ASSERT_TRUE(back.start());
    EXPECT_TRUE(back.apply_all(
        5,
        [](int i, LASpoint& p) {
          p.Z = 100;
          p.classification = U8(i);
        },
        [&](int i, LASpoint& p) { EXPECT_EQ(p.Z, c.z(i)) << i; }));
    EXPECT_TRUE(back.layer->done_reading());
  }
}

TEST(TierlingFilterTransform, TextThatIsNotAllOptionsFailsToStart) {
  LASheader h;
  set_format(h, 0);
  TierlingFilter filter("-drop_class 2 -translate_z 5");
  Loaded back_filter(write_layer(filter, h, 1, [](int, LASpoint&, LASpoint&) {}), 0);
  ASSERT_NE(back_filter.layer, nullptr);
  EXPECT_FALSE(back_filter.start());
  TierlingTransform transform("-translate_z 5 bogus");
  Loaded back_transform(write_layer(transform, h, 1, [](int, LASpoint&, LASpoint&) {}), 0);
  ASSERT_NE(back_transform.layer, nullptr);
  EXPECT_FALSE(back_transform.start());
}

// ---- factory and specialized headers

struct HeaderCase {
  const char* name;
  std::function<std::unique_ptr<Tierling>()> make;
  U32 known;  // bytes of the specialized header the class reads
  bool wide;  // offset_to_data is 32-bit
};

std::vector<HeaderCase> header_cases() {
  return {
      {"intensity",
       [] { return std::make_unique<TierlingReplaceIntensityCompressed>(false, true); }, 4, false},
      {"RGB raw", [] { return std::make_unique<TierlingAddRGBRaw>(); }, 3, false},
      {"RGB compressed", [] { return std::make_unique<TierlingAddRGBCompressed>(false, true); }, 5,
       false},
      {"NIR", [] { return std::make_unique<TierlingAddNIRCompressed>(); }, 4, false},
      {"diff XY", [] { return std::make_unique<TierlingDiffXYCompressed>(); }, 2, false},
      {"diff Z", [] { return std::make_unique<TierlingDiffZCompressed>(); }, 2, false},
      {"diff XYZ", [] { return std::make_unique<TierlingDiffXYZCompressed>(); }, 2, false},
      {"header", [] { return std::make_unique<TierlingChangeHeader>(); }, 2, false},
      {"append", [] { return std::make_unique<TierlingAppendPointsRaw>(); }, 2, false},
      {"filter", [] { return std::make_unique<TierlingFilter>("-drop_class 3"); }, 4 + 13, false},
      {"transform", [] { return std::make_unique<TierlingTransform>("-translate_x 1"); }, 4 + 14,
       false},
      {"add VLR", [] { return std::make_unique<TierlingAddVLR>("id", 1, std::vector<U8>(5, 1)); },
       24 + 5, true},
  };
}

// Values the specialized header and data of every class accept.
void fill_any(int i, LASpoint& r, LASpoint& w) {
  set_returns(r, i);
  w.X = r.X = i;
  w.Y = r.Y = 2 * i;
  w.Z = r.Z = 3 * i;
  w.X += i % 3;
  w.Z -= i % 5;
  w.intensity = U16(i % 200);
  w.rgb[0] = U16(i % 256);
  w.rgb[1] = U16((7 * i) % 256);
  w.rgb[2] = U16(i % 256);
  w.rgb[3] = U16(i * 300);
}

TEST(TierlingOtherFactory, KnowsExactlyItsTriplesAndMakesTheClassesThatWroteThem) {
  for (const HeaderCase& c : header_cases()) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<Tierling> layer = c.make();
    std::unique_ptr<Tierling> made =
        make_other_tierling(layer->get_type(), layer->get_fields(), layer->get_compression());
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(typeid(*made), typeid(*layer));
  }
  // Raw intensity, raw differences and the replace group's triples are not ours.
  EXPECT_EQ(make_other_tierling(trl::kReplace, trl::kFieldIntensity, trl::kCompressionNone),
            nullptr);
  EXPECT_EQ(make_other_tierling(trl::kDiff, trl::kFieldZ, trl::kCompressionNone), nullptr);
  EXPECT_EQ(make_other_tierling(trl::kReplace, trl::kFieldWithheld, trl::kCompressionPointwise),
            nullptr);
  EXPECT_EQ(make_other_tierling(trl::kAdd, trl::kFieldNIR, trl::kCompressionNone), nullptr);
  EXPECT_EQ(make_other_tierling(trl::kFilter, trl::kFieldXY, trl::kCompressionNone), nullptr);
  EXPECT_EQ(make_other_tierling(trl::kAppend, trl::kFieldAll, trl::kCompressionPointwise), nullptr);
}

TEST(TierlingOtherSpecializedHeader, ExtraDeclaredBytesAreSkippedAndShortOffsetsRefused) {
  const int n = 50;
  for (const HeaderCase& c : header_cases()) {
    SCOPED_TRACE(c.name);
    LASheader h;
    set_format(h, 3);
    h.number_of_point_records = U32(n);
    std::unique_ptr<Tierling> layer = c.make();
    const std::vector<U8> bytes = write_layer(*layer, h, n, fill_any);
    U32 offset = 0;
    memcpy(&offset, &bytes[kSpecialized], c.wide ? 4 : 2);
    ASSERT_EQ(offset, c.known);

    // Reading each point back after skipping junk gives what a plain read gives.
    std::vector<std::array<I32, 8>> plain, skipped;
    for (const auto& [record, out] :
         {std::make_pair(bytes, &plain),
          std::make_pair(with_longer_specialized(bytes, c.known, 7, c.wide), &skipped)}) {
      Loaded back(record, 3);
      ASSERT_TRUE(back.start());
      ASSERT_TRUE(back.apply_all(
          n, [](int i, LASpoint& p) { set_returns(p, i); },
          [&](int, LASpoint& p) {
            out->push_back(
                {p.X, p.Y, p.Z, p.intensity, p.rgb[0], p.rgb[1], p.rgb[3], p.marked_deleted});
          }));
    }
    EXPECT_EQ(plain, skipped);

    // One byte short of what the class needs (for texts and records: the
    // length they declare) is refused when the layer is loaded.
    Loaded short_offset(with_offset_to_data(bytes, c.known - 1, c.wide), 3);
    EXPECT_EQ(short_offset.layer, nullptr);
    Loaded tiny_offset(with_offset_to_data(bytes, 1, c.wide), 3);
    EXPECT_EQ(tiny_offset.layer, nullptr);

    // A record that ends inside the specialized header.
    Loaded cut(std::vector<U8>(bytes.begin(), bytes.begin() + kSpecialized + c.known - 1), 3);
    EXPECT_EQ(cut.layer, nullptr);
  }
}

TEST(TierlingOtherData, TruncatedDataFailsCleanly) {
  const int n = 2000;
  const char* const with_data[] = {"intensity", "RGB raw", "RGB compressed", "NIR",
                                   "diff XY",   "diff Z",  "diff XYZ",       "append"};
  for (const HeaderCase& c : header_cases()) {
    if (std::find_if(std::begin(with_data), std::end(with_data), [&](const char* name) {
          return strcmp(name, c.name) == 0;
        }) == std::end(with_data)) {
      continue;
    }
    SCOPED_TRACE(c.name);
    LASheader h;
    set_format(h, 3);
    h.number_of_point_records = U32(n / 2);
    std::unique_ptr<Tierling> layer = c.make();
    const std::vector<U8> bytes = write_layer(*layer, h, n, [](int i, LASpoint& r, LASpoint& w) {
      fill_any(i, r, w);
      // Values that do not repeat, so that every point needs data.
      w.X += i * i;
      w.Z += i * 7919;
      w.rgb[0] = U16((i * 131) % 256);
      w.rgb[3] = U16(i * 7919);
      w.intensity = U16((i * 37) % 256);
    });
    const size_t data_start = kSpecialized + c.known;
    const bool appends = c.make()->get_type() == trl::kAppend;
    for (size_t keep : {data_start, data_start + 1, data_start + (bytes.size() - data_start) / 2}) {
      SCOPED_TRACE(keep);
      Loaded back(std::vector<U8>(bytes.begin(), bytes.begin() + std::ptrdiff_t(keep)), 3);
      ASSERT_NE(back.layer, nullptr);
      if (!back.start()) continue;  // not even the start of the data
      if (appends) {
        int delivered = 0;
        while (back.layer->next_appended_point(&back.point)) delivered++;
        EXPECT_LT(delivered, n / 2);
      } else {
        EXPECT_FALSE(back.apply_all(
            n, [](int i, LASpoint& p) { set_returns(p, i); }, [](int, LASpoint&) {}));
      }
    }
  }
}

}  // namespace
