#include "proj/projection_converter.hpp"

#include <gtest/gtest.h>

#include "las/core/option_text.hpp"

namespace {

bool parse_words(ProjectionConverter& pc, const std::vector<std::string>& words,
                 OwnedArgs** keep = nullptr) {
  static std::vector<std::unique_ptr<OwnedArgs>> alive;
  alive.push_back(std::make_unique<OwnedArgs>(words));
  if (keep) *keep = alive.back().get();
  return pc.parse(alive.back()->argc(), alive.back()->argv());
}

TEST(ProjectionConverter, UnitCodes) {
  ProjectionConverter nothing;
  EXPECT_EQ(nothing.horizontal_unit_code(), 9001);

  struct Case {
    U16 unit_key;
    U16 unit;
    int expected;
  } cases[] = {{3076, 9001, 9001}, {3076, 9002, 9002}, {3076, 9003, 9003}, {2052, 9002, 9002}};
  for (const Case& c : cases) {
    ProjectionConverter pc;
    GeoKeyEntry keys[] = {{1024, 0, 1, 1}, {3072, 0, 1, 2994}, {c.unit_key, 0, 1, c.unit}};
    ASSERT_TRUE(pc.set_projection_from_geo_keys(3, keys, nullptr, 0, nullptr, 0));
    EXPECT_EQ(pc.horizontal_unit_code(), c.expected) << c.unit;
  }

  ProjectionConverter latlong;
  ASSERT_TRUE(parse_words(latlong, {"-latlong"}));
  EXPECT_EQ(latlong.horizontal_unit_code(), 9000);
  EXPECT_TRUE(latlong.has_projection());

  ProjectionConverter geographic_keys;
  GeoKeyEntry g[] = {{1024, 0, 1, 2}, {2048, 0, 1, 4326}};
  ASSERT_TRUE(geographic_keys.set_projection_from_geo_keys(2, g, nullptr, 0, nullptr, 0));
  EXPECT_EQ(geographic_keys.horizontal_unit_code(), 9000);

  // A projected code of our table implies feet when no unit key says otherwise.
  ProjectionConverter implied;
  GeoKeyEntry i[] = {{1024, 0, 1, 1}, {3072, 0, 1, 2994}};
  ASSERT_TRUE(implied.set_projection_from_geo_keys(2, i, nullptr, 0, nullptr, 0));
  EXPECT_EQ(implied.horizontal_unit_code(), 9002);
}

TEST(ProjectionConverter, UnknownUnitKeyWarnsAndKeepsMetre) {
  ProjectionConverter pc;
  GeoKeyEntry keys[] = {{1024, 0, 1, 1}, {3072, 0, 1, 32632}, {3076, 0, 1, 32632}};
  testing::internal::CaptureStderr();
  ASSERT_TRUE(pc.set_projection_from_geo_keys(3, keys, nullptr, 0, nullptr, 0));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: set_ProjLinearUnitsGeoKey: look-up for 32632 not implemented\n");
  EXPECT_EQ(pc.horizontal_unit_code(), 9001);
}

TEST(ProjectionConverter, UtmGeoKeys) {
  ProjectionConverter pc;
  ASSERT_TRUE(parse_words(pc, {"-utm", "32N"}));
  std::vector<GeoKeyEntry> keys;
  std::vector<F64> doubles;
  ASSERT_TRUE(pc.get_geo_keys(true, keys, doubles));
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_TRUE(doubles.empty());
  EXPECT_EQ(keys[0].key_id, 1024);
  EXPECT_EQ(keys[0].value_offset, 1);
  EXPECT_EQ(keys[1].key_id, 3072);
  EXPECT_EQ(keys[1].value_offset, 32632);
  EXPECT_EQ(keys[2].key_id, 3076);
  EXPECT_EQ(keys[2].value_offset, 9001);
  EXPECT_EQ(keys[3].key_id, 4099);

  ProjectionConverter south;
  ASSERT_TRUE(parse_words(south, {"-utm", "33K", "-vertical_navd88", "-feet"}));
  ASSERT_TRUE(south.get_geo_keys(true, keys, doubles));
  ASSERT_EQ(keys.size(), 5u);
  EXPECT_EQ(keys[1].value_offset, 32733);
  EXPECT_EQ(keys[2].value_offset, 9002);
  EXPECT_EQ(keys[4].key_id, 4096);
  EXPECT_EQ(keys[4].value_offset, 5703);

  ProjectionConverter none;
  EXPECT_FALSE(none.get_geo_keys(true, keys, doubles));
}

TEST(ProjectionConverter, ConsumesItsOptionsOnly) {
  ProjectionConverter pc;
  OwnedArgs* args = nullptr;
  ASSERT_TRUE(parse_words(pc,
                          {"-i", "in.las", "-epsg", "2994", "-nad83", "-target_utm", "10T", "-lcc",
                           "609601.22", "0.0", "meter", "33.75", "-79", "34.33", "36.16"},
                          &args));
  char** argv = args->argv();
  EXPECT_STREQ(argv[1], "-i");
  EXPECT_STREQ(argv[2], "in.las");
  for (int k = 3; k < args->argc(); k++) EXPECT_STREQ(argv[k], "") << k;
  EXPECT_EQ(pc.projection().kind, ProjectionDescription::LCC);
  EXPECT_EQ(pc.projection(false).kind, ProjectionDescription::UTM);

  ProjectionConverter bad;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(parse_words(bad, {"-utm"}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: '-utm' needs 1 argument: zone\n");
}

TEST(ProjectionConverter, GeoKeysPointingOutsideTheirRecordsAreIgnored) {
  ProjectionConverter pc;
  const F64 doubles[1] = {0.5};
  GeoKeyEntry keys[] = {{1024, 0, 1, 1}, {3075, 0, 1, 1}, {3092, 34736, 1, 5}, {3081, 34736, 2, 0}};
  ASSERT_TRUE(pc.set_projection_from_geo_keys(4, keys, nullptr, 0, doubles, 1));
  EXPECT_TRUE(pc.projection().parameters.empty());
}

}  // namespace
