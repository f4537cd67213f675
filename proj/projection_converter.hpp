// The part of the projection converter that the tools rely on: its options,
// the units of the source and target, and geo keys in and out.
#pragma once

#include <string>
#include <vector>

#include "las/core/types.hpp"

struct GeoKeyEntry {
  U16 key_id = 0;
  U16 tiff_tag_location = 0;
  U16 count = 0;
  U16 value_offset = 0;
};

struct ProjectionDescription {
  enum Kind { NONE, LONGLAT, LATLONG, ECEF, UTM, EPSG, LCC, TM, AEAC, STATE_PLANE };
  Kind kind = NONE;
  int epsg_code = 0;  // projected (or geographic) CS code where known, 0 otherwise
  int utm_zone = 0;
  bool utm_north = true;
  std::string name;
  // Parameters of the parametric projections, in their option order.
  std::vector<F64> parameters;
  bool geographic() const { return kind == LONGLAT || kind == LATLONG; }
};

class ProjectionConverter {
 public:
  ProjectionConverter();

  // Consumes the options it knows; false after printing a message on a bad one.
  bool parse(int argc, char* argv[]);

  bool has_projection(bool source = true) const {
    return side(source).projection.kind != ProjectionDescription::NONE;
  }
  const ProjectionDescription& projection(bool source = true) const {
    return side(source).projection;
  }
  // 9000 geographic, 9001 metre, 9002 foot, 9003 US survey foot.
  int horizontal_unit_code(bool source = true) const;
  int vertical_unit_code(bool source = true) const;
  F64 horizontal_factor(bool source = true) const { return side(source).horizontal_factor; }
  F64 vertical_factor(bool source = true) const { return side(source).vertical_factor; }
  int vertical_datum_code(bool source = true) const { return side(source).vertical_datum; }
  int datum_code() const { return datum_; }

  // The projection and units described by a geo-key directory become the source.
  // Every key's location, count and offset is checked against the parameter records.
  bool set_projection_from_geo_keys(int number_of_keys, const GeoKeyEntry* keys, const char* ascii,
                                    int ascii_length, const F64* doubles, int number_of_doubles);
  void set_source_horizontal_units_to_meter();
  void set_source_vertical_units_to_meter();

  // Geo keys (and double parameters) describing a side; false without a projection.
  bool get_geo_keys(bool source, std::vector<GeoKeyEntry>& keys, std::vector<F64>& doubles) const;

  void usage() const;

 private:
  struct Side {
    ProjectionDescription projection;
    F64 horizontal_factor = 1.0;
    F64 vertical_factor = 1.0;
    bool horizontal_set = false;
    bool vertical_set = false;
    int vertical_datum = 0;  // EPSG code of the vertical CS, 0 when unknown
  };
  const Side& side(bool source) const { return source ? source_ : target_; }
  Side& side(bool source) { return source ? source_ : target_; }
  int utm_code(int zone, bool north) const;

  Side source_;
  Side target_;
  int datum_ = 6326;      // geodetic datum code; WGS 84 to start with
  int ellipsoid_ = 7030;  // ellipsoid code of EPSG 4326
  F64 target_precision_ = 0.0;
  F64 target_elevation_precision_ = 0.0;
};
