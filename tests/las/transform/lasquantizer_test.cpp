// The write-back that operations use for scaled coordinates skips the
// division of LASpoint::set_x; these tests hold it to set_x's results,
// overflow counts included, where the two could part: next to rounding
// boundaries, at the ends of the 32-bit range, and for odd scales.
#include "las/transform/lasquantizer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "las/transform/lastransform.hpp"

namespace {

// Opens up the protected write-back of an operation.
class WriteBack : public LASoperation {
 public:
  const char* name() const override { return "write_back"; }
  std::string get_command() const override { return "-write_back "; }
  void transform(LASpoint*) override {}
  using LASoperation::store_x;
  using LASoperation::store_xy;
  using LASoperation::store_y;
  using LASoperation::store_z;
};

// Every way the operation can store one value or a pair is compared with
// set_x, set_y and set_z on a second point.
class Comparison {
 public:
  explicit Comparison(const LASscaleOffset* so) {
    EXPECT_TRUE(point_.init_layout(so, 0, 20, nullptr));
    EXPECT_TRUE(reference_.init_layout(so, 0, 20, nullptr));
  }

  // The pair goes first: after a change of scale, it is the pair that
  // takes the new x and y scales on.
  void check(WriteBack& op, F64 v, F64 w) {
    SCOPED_TRACE(testing::Message() << std::hexfloat << "values " << v << ", " << w);
    const bool fits_x = reference_.set_x(v);
    const bool fits_y = reference_.set_y(w);
    const bool fits_z = reference_.set_z(v);
    point_.X = point_.Y = 12345;
    I64 before = op.overflows();
    op.store_xy(&point_, v, w);
    EXPECT_EQ(point_.X, reference_.X);
    EXPECT_EQ(point_.Y, reference_.Y);
    EXPECT_EQ(op.overflows() - before, I64(!fits_x) + I64(!fits_y));

    point_.X = point_.Y = 12345;
    before = op.overflows();
    op.store_x(&point_, v);
    op.store_y(&point_, w);
    op.store_z(&point_, v);
    EXPECT_EQ(point_.X, reference_.X);
    EXPECT_EQ(point_.Y, reference_.Y);
    EXPECT_EQ(point_.Z, reference_.Z);
    EXPECT_EQ(op.overflows() - before, I64(!fits_x) + I64(!fits_y) + I64(!fits_z));
  }

 private:
  LASpoint point_;
  LASpoint reference_;
};

const F64 SCALES[] = {0.01,  0.001, 0.0001, 0.3048, 1e-7, 0.5,  1.0 / 3.0, 3.0,     1e-300,
                      1e300, 1e308, 5e-324, -0.01,  0.0,  -0.0, NAN,       INFINITY};

TEST(LASoperationWriteBack, MatchesSetXNextToRoundingBoundaries) {
  const F64 offsets[] = {0.0, 600000.0, -4000000.25, 1e12};
  const F64 steps[] = {0.0,           1.0,           -1.0,           123456.0,
                       -98765.0,      2147483646.0,  2147483647.0,   2147483648.0,
                       -2147483648.0, -2147483649.0, 1099511627776.0};
  const F64 fractions[] = {0.0, 0.25, 0.5, -0.5, 0.4999999, 0.5000001, 0.75};
  WriteBack op;  // one for all scales, so that its scale cache changes too
  size_t n = 0;
  for (F64 scale : SCALES) {
    for (F64 offset : offsets) {
      LASscaleOffset so;
      so.x_scale_factor = so.z_scale_factor = scale;
      so.y_scale_factor = SCALES[n++ % (sizeof(SCALES) / sizeof(SCALES[0]))];
      so.x_offset = so.y_offset = so.z_offset = offset;
      Comparison compare(&so);
      SCOPED_TRACE(testing::Message() << "scale " << scale << " offset " << offset);
      F64 previous = offset + 0.3 * scale;
      for (F64 step : steps) {
        for (F64 fraction : fractions) {
          F64 v = offset + (step + fraction) * scale;
          // The representable neighbours are where the two ways of
          // rounding could disagree.
          for (int k = 0; k < 3; k++) v = std::nextafter(v, -INFINITY);
          for (int k = 0; k < 7; k++) {
            compare.check(op, v, previous);
            previous = v;
            v = std::nextafter(v, INFINITY);
          }
        }
      }
      compare.check(op, NAN, INFINITY);
      compare.check(op, -INFINITY, 1e300);
    }
  }
}

TEST(LASoperationWriteBack, MatchesSetXOnRandomValues) {
  const F64 scales[] = {0.01, 0.001, 0.0001, 0.3048, 1e-7, 0.05, 0.25, 1.0 / 3.0, 2e-9};
  const F64 offsets[] = {0.0, 500000.0, -1000000.3, 4200000.0, 1e9};
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<F64> unit(0.0, 1.0);
  std::uniform_int_distribution<I64> wide(-2147483700LL, 2147483700LL);
  std::uniform_int_distribution<I64> narrow(-100000, 100000);
  WriteBack op;
  for (F64 scale : scales) {
    for (F64 offset : offsets) {
      LASscaleOffset so;
      so.x_scale_factor = so.y_scale_factor = so.z_scale_factor = scale;
      so.x_offset = so.y_offset = so.z_offset = offset;
      Comparison compare(&so);
      SCOPED_TRACE(testing::Message() << "scale " << scale << " offset " << offset);
      F64 previous = offset;
      for (int i = 0; i < 5000; i++) {
        const F64 step = F64((i & 1) ? wide(random) : narrow(random));
        // Half of the fractions within a hair of one half.
        const F64 fraction =
            (i & 2) ? unit(random) : 0.5 + (unit(random) - 0.5) * std::ldexp(1.0, -int(i % 40));
        const F64 v = offset + (step + fraction) * scale;
        compare.check(op, v, previous);
        previous = v;
        if (testing::Test::HasFailure()) return;
      }
    }
  }
}

// Scales can change under an operation (another file, another header);
// each of x, y and z must follow its own, whichever store sees it first.
TEST(LASoperationWriteBack, FollowsChangedScales) {
  LASscaleOffset so;  // 0.01 everywhere
  LASpoint point;
  ASSERT_TRUE(point.init_layout(&so, 0, 20, nullptr));
  WriteBack op;
  op.store_xy(&point, 1.0, 2.0);
  op.store_z(&point, 3.0);
  EXPECT_EQ(point.X, 100);
  EXPECT_EQ(point.Y, 200);
  EXPECT_EQ(point.Z, 300);

  so.y_scale_factor = 0.001;
  op.store_xy(&point, 1.0, 2.0);
  EXPECT_EQ(point.X, 100);
  EXPECT_EQ(point.Y, 2000);
  so.x_scale_factor = 0.1;
  op.store_xy(&point, 1.0, 2.0);
  EXPECT_EQ(point.X, 10);
  EXPECT_EQ(point.Y, 2000);
  so.z_scale_factor = 0.5;
  op.store_z(&point, 3.0);
  EXPECT_EQ(point.Z, 6);

  // A negative scale rounds the half away from the offset, which is not
  // the nearest integer of the quotient.
  so.x_scale_factor = -0.5;
  so.y_scale_factor = -0.5;
  op.store_xy(&point, 0.75, -0.75);
  EXPECT_EQ(point.X, -1);
  EXPECT_EQ(point.Y, 1);
  so.z_scale_factor = -0.5;
  op.store_z(&point, 0.75);
  EXPECT_EQ(point.Z, -1);
  so.x_scale_factor = 0.5;
  op.store_x(&point, 0.75);
  EXPECT_EQ(point.X, 2);
  EXPECT_EQ(op.overflows(), 0);
}

// The code for machines without SSE2 must agree as well.
TEST(LASquantizer, PortableCodeAgrees) {
  const F64 values[] = {0.0,          0.3,           -0.3,         0.7,        -0.7,
                        1.5,          2.5,           -2.5,         1234567.49, -1234567.51,
                        2147483646.6, -2147483647.4, 2147483647.0, 3e9,        -3e9,
                        1e300,        INFINITY,      -INFINITY,    NAN};
  for (F64 q : values) {
    SCOPED_TRACE(q);
    const I32 fast = LASquantizer::nearest(q);
    const I32 portable = LASquantizer::nearest_portable(q);
    // Both give the nearest integer, or something the distance check
    // refuses; only near the ends of the range may they differ in that way.
    if (std::fabs(q) < 2147483647.0) {
      EXPECT_EQ(portable, fast);
    } else {
      EXPECT_FALSE(std::fabs(q - F64(portable)) < 0.49);
    }
  }

  LASquantizer quantizer;
  for (F64 scale : SCALES) {
    LASscaleOffset so;
    so.x_scale_factor = so.y_scale_factor = so.z_scale_factor = scale;
    so.x_offset = so.y_offset = 1000.0;
    LASpoint point, reference;
    ASSERT_TRUE(point.init_layout(&so, 0, 20, nullptr));
    ASSERT_TRUE(reference.init_layout(&so, 0, 20, nullptr));
    for (F64 v : {1000.0, 1000.0 + 7.25 * scale, 1000.0 + 7.5 * scale, 1000.0 - 3.5 * scale,
                  1000.0 + 3e9 * scale}) {
      SCOPED_TRACE(testing::Message() << "scale " << scale << " value " << v);
      point.X = point.Y = 12345;
      const bool fits = reference.set_x(v) && reference.set_y(-v);
      if (quantizer.store_xy_portable(&point, v, -v)) {
        EXPECT_TRUE(fits);
        EXPECT_EQ(point.X, reference.X);
        EXPECT_EQ(point.Y, reference.Y);
      } else {
        EXPECT_EQ(point.X, 12345);  // refused: nothing stored
        EXPECT_EQ(point.Y, 12345);
      }
    }
  }
}

}  // namespace
