#include "las/core/lasheader.hpp"

#include <gtest/gtest.h>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"

namespace {

std::vector<U8> bytes(size_t n, U8 fill = 0) {
  return std::vector<U8>(n, fill);
}

TEST(LASheader, ResetDefaults) {
  LASheader h;
  h.version_minor = 4;
  h.add_vlr("a", 1, bytes(10));
  h.reset();
  EXPECT_EQ(h.version_major, 1);
  EXPECT_EQ(h.version_minor, 2);
  EXPECT_EQ(h.header_size, 227);
  EXPECT_EQ(h.offset_to_point_data, 227u);
  EXPECT_EQ(h.point_data_format, 0);
  EXPECT_EQ(h.point_data_record_length, 20);
  EXPECT_EQ(h.x_scale_factor, 0.01);
  EXPECT_EQ(h.z_scale_factor, 0.01);
  EXPECT_TRUE(h.vlrs.empty());
  EXPECT_EQ(h.number_of_variable_length_records, 0u);
}

TEST(LASheader, AddVlrKeepsOffsetBookkeeping) {
  LASheader h;
  ASSERT_TRUE(h.add_vlr("someone", 7, bytes(100)));
  EXPECT_EQ(h.offset_to_point_data, 381u);
  EXPECT_EQ(h.vlrs[0].get_description(), "by Quintrel of Borgenfeld GmbH");
  // Same user id and record id replace the record.
  ASSERT_TRUE(h.add_vlr("someone", 7, bytes(50)));
  EXPECT_EQ(h.vlrs.size(), 1u);
  EXPECT_EQ(h.offset_to_point_data, 331u);
  EXPECT_EQ(h.vlrs[0].record_length_after_header, 50u);
  // Appending adds a second record of the same ids.
  ASSERT_TRUE(h.add_vlr("someone", 7, bytes(0), "x", true));
  EXPECT_EQ(h.vlrs.size(), 2u);
  EXPECT_EQ(h.number_of_variable_length_records, 2u);
  EXPECT_EQ(h.offset_to_point_data, 331u + 54u);
  EXPECT_TRUE(h.vlrs[1].data.empty());
}

TEST(LASheader, AddVlrRefusesOversizedPayloadWithoutChange) {
  LASheader h;
  ASSERT_TRUE(h.add_vlr("someone", 7, bytes(65535)));
  const U32 offset = h.offset_to_point_data;
  EXPECT_FALSE(h.add_vlr("someone", 7, bytes(65536)));
  EXPECT_FALSE(h.add_vlr("other", 8, bytes(65536)));
  EXPECT_EQ(h.offset_to_point_data, offset);
  ASSERT_EQ(h.vlrs.size(), 1u);
  EXPECT_EQ(h.vlrs[0].data.size(), 65535u);
}

TEST(LASheader, UserIdAndDescriptionStayInsideTheirFields) {
  LASheader h;
  ASSERT_TRUE(h.add_vlr("a user id that is far too long", 3, bytes(4),
                        "a description that is longer than thirty-one characters"));
  const LASvlrRecord& r = h.vlrs[0];
  EXPECT_EQ(r.get_user_id(), "a user id that i");
  EXPECT_EQ(r.get_description(), std::string("a description that is longer than").substr(0, 31));
  EXPECT_EQ(r.description[31], 0);
  // Lookup uses the stored (cut) id.
  EXPECT_EQ(h.find_vlr("a user id that is far too long", 3), 0);
  ASSERT_TRUE(h.add_vlr("a user id that is far too long", 3, bytes(8)));
  EXPECT_EQ(h.vlrs.size(), 1u);
}

TEST(LASheader, RemoveVlrFillsHoleWithLastRecord) {
  LASheader h;
  h.add_vlr("first", 1, bytes(10));
  h.add_vlr("second", 2, bytes(20));
  h.add_vlr("third", 3, bytes(30));
  EXPECT_EQ(h.offset_to_point_data, 227u + 3 * 54 + 60);
  ASSERT_TRUE(h.remove_vlr(0u));
  ASSERT_EQ(h.vlrs.size(), 2u);
  EXPECT_EQ(h.vlrs[0].get_user_id(), "third");
  EXPECT_EQ(h.vlrs[1].get_user_id(), "second");
  EXPECT_EQ(h.offset_to_point_data, 227u + 2 * 54 + 50);
  EXPECT_FALSE(h.remove_vlr(2u));
  EXPECT_FALSE(h.remove_vlr("first", 1));
  EXPECT_TRUE(h.remove_vlr("second", 2));
  EXPECT_TRUE(h.remove_vlr("third", 3));
  EXPECT_FALSE(h.remove_vlr(0u));
  EXPECT_EQ(h.offset_to_point_data, 227u);
  EXPECT_EQ(h.number_of_variable_length_records, 0u);
}

TEST(LASheader, GeoKeysLimitsAndViews) {
  LASheader h;
  std::vector<LASvlrKeyEntry> keys(8191, LASvlrKeyEntry{1024, 0, 1, 1});
  EXPECT_FALSE(h.set_geo_keys(8191, keys.data()));
  EXPECT_EQ(h.vlr_geo_keys, nullptr);
  ASSERT_TRUE(h.set_geo_keys(8190, keys.data()));
  ASSERT_NE(h.vlr_geo_keys, nullptr);
  EXPECT_EQ(h.vlr_geo_keys->number_of_keys, 8190);
  EXPECT_EQ(h.geo_key_count, 8190u);
  EXPECT_EQ(h.vlrs[0].data.size(), 8191u * 8);

  const LASvlrKeyEntry two[2] = {{1024, 0, 1, 1}, {3072, 0, 1, 32633}};
  ASSERT_TRUE(h.set_geo_keys(2, two));
  EXPECT_EQ(h.vlrs.size(), 1u);
  EXPECT_EQ(h.geo_key_count, 2u);
  EXPECT_EQ(h.geo_key_entries[1].value_offset, 32633);
  EXPECT_EQ(h.offset_to_point_data, 227u + 54 + 24);

  const F64 d[2] = {1.5, 2.5};
  ASSERT_TRUE(h.set_geo_double_params(2, d));
  ASSERT_EQ(h.geo_double_params_count, 2u);
  EXPECT_EQ(h.geo_double_params[1], 2.5);
  std::vector<F64> many(8192);
  EXPECT_FALSE(h.set_geo_double_params(8192, many.data()));

  // Removing a record clears the views into it.
  ASSERT_TRUE(h.remove_vlr("LASF_Projection", 34735));
  EXPECT_EQ(h.vlr_geo_keys, nullptr);
  EXPECT_EQ(h.geo_key_entries, nullptr);
  EXPECT_EQ(h.geo_key_count, 0u);
  ASSERT_NE(h.geo_double_params, nullptr);
  EXPECT_EQ(h.geo_double_params[0], 1.5);
}

TEST(LASheader, GeoKeyCountLimitedByPayload) {
  LASheader h;
  LASvlrRecord r;
  r.set_user_id("LASF_Projection");
  r.record_id = 34735;
  const U16 directory[8] = {1, 1, 0, 500, 1024, 0, 1, 1};  // claims 500 keys, holds 1
  r.data.assign(reinterpret_cast<const U8*>(directory),
                reinterpret_cast<const U8*>(directory) + 16);
  r.record_length_after_header = 16;
  h.vlrs.push_back(std::move(r));
  testing::internal::CaptureStderr();
  h.interpret_record(h.vlrs[0], false, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: GeoKeyDirectoryTag declares 500 keys but its 16 bytes hold only 1\n");
  EXPECT_EQ(h.geo_key_count, 1u);
}

LASextraAttribute attribute(U8 type, const char* name) {
  return LASextraAttribute(type, name, "");
}

TEST(LASheader, AttributesVlr) {
  LASheader h;
  EXPECT_EQ(h.add_attribute(attribute(3, "a")), 0);
  EXPECT_EQ(h.add_attribute(attribute(10, "b")), 1);
  EXPECT_EQ(h.add_attribute(attribute(0, "undocumented, size 0")), -1);
  EXPECT_EQ(h.attribute_starts[1], 2);
  EXPECT_EQ(h.get_attributes_size(), 10);
  ASSERT_TRUE(h.update_attributes_vlr());
  ASSERT_EQ(h.find_vlr("LASF_Spec", 4), 0);
  EXPECT_EQ(h.vlrs[0].data.size(), 2u * 192);
  EXPECT_EQ(h.offset_to_point_data, 227u + 54 + 384);

  // Too many attributes: refused, the old record stays.
  LASheader big;
  big.add_attribute(attribute(1, "x"));
  ASSERT_TRUE(big.update_attributes_vlr());
  for (int i = 1; i < 342; i++) big.add_attribute(attribute(1, "x"));
  EXPECT_FALSE(big.update_attributes_vlr());
  EXPECT_EQ(big.vlrs[0].data.size(), 192u);
  big.truncate_attributes(341);
  EXPECT_TRUE(big.update_attributes_vlr());
  EXPECT_EQ(big.vlrs[0].data.size(), 341u * 192);

  // Without attributes the record goes away.
  h.clear_attributes();
  ASSERT_TRUE(h.update_attributes_vlr());
  EXPECT_EQ(h.find_vlr("LASF_Spec", 4), -1);
  EXPECT_EQ(h.offset_to_point_data, 227u);
}

TEST(LASheader, RemovingAttributesRecordClearsTheSet) {
  LASheader h;
  h.add_attribute(attribute(9, "f"));
  ASSERT_TRUE(h.update_attributes_vlr());
  ASSERT_EQ(h.number_attributes, 1);
  ASSERT_TRUE(h.remove_vlr("LASF_Spec", 4));
  EXPECT_EQ(h.number_attributes, 0);
  EXPECT_TRUE(h.attributes.empty());
}

TEST(LASextraAttribute, SizesAndValues) {
  struct Case {
    U8 type, options;
    I32 size;
  };
  const Case cases[] = {{9, 0, 4}, {10, 0, 8},  {19, 0, 8}, {1, 0, 1},
                        {4, 0, 2}, {30, 0, 24}, {0, 7, 7},  {31, 0, 0}};
  for (const Case& c : cases) {
    LASextraAttribute a;
    a.data_type = c.type;
    a.options = c.options;
    EXPECT_EQ(a.get_size(), c.size) << int(c.type);
  }
  LASextraAttribute a(4, "i16", "");
  a.set_scale(0.1);
  a.set_offset(100.0);
  const I16 v = -5;
  U8 raw[2];
  memcpy(raw, &v, 2);
  EXPECT_DOUBLE_EQ(a.get_value(raw), 99.5);
  LASextraAttribute f(9, "f32", "");
  const F32 fv = 2.25f;
  U8 raw4[4];
  memcpy(raw4, &fv, 4);
  EXPECT_EQ(f.get_value(raw4), 2.25);
  // A type without a size reads nothing (an empty buffer under ASan).
  const std::unique_ptr<U8[]> none = std::make_unique<U8[]>(0);
  EXPECT_EQ(LASextraAttribute(177, "unknown", "").get_value(none.get()), 0.0);
}

TEST(LASheader, CheckWarnsAndFails) {
  struct Case {
    const char* what;
    void (*edit)(LASheader&);
    bool ok;
    const char* err;
  };
  const Case cases[] = {
      {"inverted without points", [](LASheader& h) { h.min_x = 5; }, true, ""},
      {"inverted with points",
       [](LASheader& h) {
         h.min_x = 5;
         h.number_of_point_records = 1;
       },
       true, "WARNING: invalid bounding box [ 5 0 0 / 0 0 0 ]\n"},
      {"signature", [](LASheader& h) { memcpy(h.file_signature, "LASX", 4); }, false,
       "ERROR: wrong file signature 'LASX'\n"},
      {"version", [](LASheader& h) { h.version_minor = 5; }, true,
       "WARNING: unknown version 1.5 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n"},
      {"header size", [](LASheader& h) { h.header_size = 226; }, false,
       "ERROR: header size is 226 but should be at least 227\n"},
      {"offset", [](LASheader& h) { h.offset_to_point_data = 200; }, false,
       "ERROR: offset to point data 200 is smaller than header size 227\n"},
      {"scale", [](LASheader& h) { h.y_scale_factor = 0; }, true,
       "WARNING: y scale factor is zero.\n"},
  };
  for (const Case& c : cases) {
    LASheader h;
    c.edit(h);
    testing::internal::CaptureStderr();
    EXPECT_EQ(h.check(), c.ok) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.what;
  }
}

TEST(LASheader, SaveAndRestoreOriginal) {
  LASheader h;
  EXPECT_FALSE(h.restore_original());
  h.number_of_point_records = 12;
  h.number_of_points_by_return[1] = 4;
  h.min_x = 1;
  h.max_z = 9;
  ASSERT_TRUE(h.save_original());
  h.number_of_point_records = 20;
  h.number_of_points_by_return[1] = 0;
  h.min_x = -1;
  h.max_z = 19;
  ASSERT_TRUE(h.restore_original());
  EXPECT_EQ(h.number_of_point_records, 12u);
  EXPECT_EQ(h.number_of_points_by_return[1], 4u);
  EXPECT_EQ(h.min_x, 1);
  EXPECT_EQ(h.max_z, 9);
  EXPECT_EQ(h.vlr_lasoriginal, nullptr);

  LASheader h14;
  h14.version_minor = 4;
  h14.extended_number_of_point_records = 5000000000ull;
  h14.extended_number_of_points_by_return[14] = 3;
  h14.save_original();
  h14.extended_number_of_point_records = 1;
  h14.extended_number_of_points_by_return[14] = 0;
  h14.restore_original();
  EXPECT_EQ(h14.extended_number_of_point_records, 5000000000ull);
  EXPECT_EQ(h14.extended_number_of_points_by_return[14], 3u);
}

TEST(LASheader, TakeOverMovesRecordsAndViews) {
  LASheader a;
  const LASvlrKeyEntry key = {1024, 0, 1, 2};
  a.set_geo_keys(1, &key);
  a.add_attribute(attribute(1, "x"));
  a.update_attributes_vlr();
  a.user_data_after_header = bytes(3, 7);
  a.user_data_after_header_size = 3;
  a.offset_to_point_data += 3;
  a.vlr_parcelgrid = std::make_unique<LASvlrParcelgrid>();
  const LASvlrGeoKeys* view = a.vlr_geo_keys;

  LASheader b;
  b.take_over(a);
  EXPECT_EQ(b.vlr_geo_keys, view);
  EXPECT_EQ(b.geo_key_entries[0].value_offset, 2);
  EXPECT_EQ(b.vlrs.size(), 2u);
  EXPECT_EQ(b.number_attributes, 1);
  EXPECT_EQ(b.user_data_after_header.size(), 3u);
  EXPECT_NE(b.vlr_parcelgrid, nullptr);
  EXPECT_EQ(b.offset_to_point_data, 227u + 54 + 16 + 54 + 192 + 3);
  // The source no longer owns or sees anything.
  EXPECT_TRUE(a.vlrs.empty());
  EXPECT_EQ(a.vlr_geo_keys, nullptr);
  EXPECT_EQ(a.number_attributes, 0);
  EXPECT_EQ(a.vlr_parcelgrid, nullptr);
  EXPECT_EQ(a.offset_to_point_data, 227u);

  // A deep copy has its own views.
  LASheader c;
  c.copy_from(b);
  ASSERT_NE(c.vlr_geo_keys, nullptr);
  EXPECT_NE(c.vlr_geo_keys, b.vlr_geo_keys);
  EXPECT_EQ(c.geo_key_entries[0].key_id, 1024);
}

TEST(LASvlrRasterVZK, RoundTripAndTruncation) {
  LASvlrRasterVZK r;
  r.nbands = 1;
  r.nbits = 32;
  r.ncols = 100;
  r.nrows = 200;
  r.reserved1 = 5;
  r.reserved2 = 6;
  r.stepx = 0.5;
  r.stepx_y = 0.25;
  r.stepy = 0.75;
  r.stepy_x = 0.125;
  r.llx = 1000.0;
  r.lly = 2000.0;
  r.sigmaxy = 0.01;
  std::vector<U8> payload = r.get_payload();
  ASSERT_EQ(payload.size(), 80u);
  EXPECT_EQ(std::string(r.get_user_id(), 10), "Raster VZK");
  LASvlrRasterVZK s;
  ASSERT_TRUE(s.set_payload(payload.data(), I64(payload.size())));
  EXPECT_EQ(s.get_payload(), payload);
  EXPECT_EQ(s.nrows, 200);
  EXPECT_EQ(s.sigmaxy, 0.01);

  struct Case {
    I64 size;
    const char* err;
  };
  const Case cases[] = {{0, "ERROR: reading LASvlrRasterVZK.nbands\n"},
                        {20, "ERROR: reading LASvlrRasterVZK.reserved2\n"},
                        {24, "ERROR: reading LASvlrRasterVZK.stepx\n"},
                        {79, "ERROR: reading LASvlrRasterVZK.sigmax\n"}};
  for (const Case& c : cases) {
    LASvlrRasterVZK t;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(t.set_payload(payload.data(), c.size));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
  }
}

}  // namespace
