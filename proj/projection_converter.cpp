#include "proj/projection_converter.hpp"

#include <cstdlib>
#include <cstring>

#include "las/core/argcursor.hpp"
#include "las/core/messages.hpp"

namespace {

constexpr F64 kFeet = 0.3048;
constexpr F64 kSurveyFeet = 0.3048006096012;
constexpr F64 kTargetFeet = 3.280839895013123;
constexpr F64 kTargetSurveyFeet = 3.28083333333354;

struct DatumOption {
  const char* option;
  int datum;          // EPSG geodetic datum code
  int geographic_cs;  // EPSG geographic CS code
  int ellipsoid;
};

// Datums whose codes we know; 0 where a code is not in our small table.
const DatumOption kDatums[] = {
    {"-wgs72", 6322, 4322, 7043},
    {"-wgs84", 6326, 4326, 7030},
    {"-grs80", 0, 0, 7019},
    {"-nad27", 6267, 4267, 7008},
    {"-nad83", 6269, 4269, 7019},
    {"-nad83_2011", 1116, 6318, 7019},
    {"-nad83_harn", 6152, 4152, 7019},
    {"-nad83_csrs", 6140, 4617, 7019},
    {"-nad83_pa11", 1120, 6322, 7019},
    {"-gda94", 6283, 4283, 7019},
    {"-gda2020", 1168, 7844, 7019},
    {"-etrs89", 6258, 4258, 7019},
    {"-osgb1936", 6277, 4277, 7001},
};

struct VerticalOption {
  const char* option;  // an option that begins with this text
  int code;
};

const VerticalOption kVerticals[] = {
    {"-vertical_navd88", 5703},   {"-vertical_wgs84", 0},       {"-vertical_ngvd29", 5702},
    {"-vertical_navd29", 5702},   {"-vertical_cgvd2013", 6647}, {"-vertical_evrf2007", 5621},
    {"-vertical_cgvd28", 5713},   {"-vertical_dvr90", 5799},    {"-vertical_nn2000", 5941},
    {"-vertical_nn54", 5776},     {"-vertical_dhhn92", 5783},   {"-vertical_dhhn2016", 7837},
    {"-vertical_nzvd2016", 7839},
};

// Projected CS codes whose unit is some kind of foot (a small table of our own).
struct CodeUnit {
  int first, last;
  int unit_code;
};
const CodeUnit kFootCodes[] = {
    {2222, 2226, 9002}, {2227, 2242, 9003}, {2243, 2252, 9002}, {2253, 2254, 9003},
    {2255, 2259, 9002}, {2260, 2265, 9003}, {2266, 2271, 9002}, {2272, 2279, 9003},
    {2280, 2282, 9002}, {2283, 2289, 9003}, {2290, 2290, 9003}, {2867, 2872, 9002},
    {2873, 2886, 9003}, {2887, 2914, 9002}, {2915, 2920, 9003}, {2921, 2940, 9002},
    {2965, 2968, 9003}, {2991, 2992, 9002}, {2994, 2994, 9002}, {3089, 3090, 9003},
    {3359, 3361, 9003}, {3417, 3418, 9003}, {3734, 3735, 9003}, {6418, 6423, 9003},
    {6494, 6494, 9002}, {6547, 6548, 9003}, {6556, 6556, 9002}, {6557, 6557, 9003},
    {6588, 6588, 9003},
};

int unit_code_of(F64 factor, bool target) {
  if (factor == 1.0) return 9001;
  if (factor == (target ? kTargetFeet : kFeet)) return 9002;
  return 9003;
}

bool factor_of_unit(int code, F64* factor) {
  switch (code) {
    case 9001:
      *factor = 1.0;
      return true;
    case 9002:
      *factor = kFeet;
      return true;
    case 9003:
      *factor = kSurveyFeet;
      return true;
    default:
      return false;
  }
}

bool is_utm_code(int code, int* zone, bool* north) {
  struct Range {
    int base;
    bool north;
  };
  const Range ranges[] = {{32600, true}, {32700, false}, {26900, true}, {26700, true},
                          {25800, true}, {28300, false}, {7800, false}};
  for (const Range& r : ranges) {
    if (code > r.base && code <= r.base + 60) {
      *zone = code - r.base;
      *north = r.north;
      return true;
    }
  }
  return false;
}

}  // namespace

ProjectionConverter::ProjectionConverter() = default;

int ProjectionConverter::horizontal_unit_code(bool source) const {
  const Side& s = side(source);
  if (s.projection.geographic()) return 9000;
  return unit_code_of(s.horizontal_factor, !source);
}

int ProjectionConverter::vertical_unit_code(bool source) const {
  return unit_code_of(side(source).vertical_factor, !source);
}

void ProjectionConverter::set_source_horizontal_units_to_meter() {
  source_.horizontal_factor = 1.0;
  source_.horizontal_set = true;
}

void ProjectionConverter::set_source_vertical_units_to_meter() {
  source_.vertical_factor = 1.0;
  source_.vertical_set = true;
}

int ProjectionConverter::utm_code(int zone, bool north) const {
  switch (datum_) {
    case 6326:
      return (north ? 32600 : 32700) + zone;
    case 6269:
      return (north && zone >= 3 && zone <= 23) ? 26900 + zone : 0;
    case 6267:
      return (north && zone >= 3 && zone <= 22) ? 26700 + zone : 0;
    case 6258:
      return (north && zone >= 28 && zone <= 38) ? 25800 + zone : 0;
    case 6283:
      return (!north && zone >= 48 && zone <= 58) ? 28300 + zone : 0;
    case 1168:
      return (!north && zone >= 46 && zone <= 59) ? 7800 + zone : 0;
    default:
      return 0;
  }
}

bool ProjectionConverter::parse(int argc, char* argv[]) {
  ArgCursor args(argc, argv);
  for (int i = 1; i < argc; i++) {
    if (args.blank(i)) continue;
    const char* a = argv[i];
    if (args.is(i, "-h") || args.is(i, "-help")) {
      usage();
      return true;
    }
    bool source = true;
    std::string target_name;
    const char* name = a;
    if (strncmp(a, "-target_", 8) == 0) {
      source = false;
      target_name = std::string("-") + (a + 8);
      name = target_name.c_str();
    }
    Side& s = side(source);
    ProjectionDescription& p = s.projection;

    // Datums and the ellipsoid describe the geodetic frame of both sides.
    bool matched = false;
    if (source) {
      for (const DatumOption& d : kDatums) {
        if (strcmp(a, d.option) == 0) {
          datum_ = d.datum;
          ellipsoid_ = d.ellipsoid;
          args.consume(i);
          matched = true;
          break;
        }
      }
      if (matched) continue;
      if (args.is(i, "-ellipsoid")) {
        int id;
        if (!args.has(i, 1) || !args.scan(i + 1, "%d", &id) || id < 0) {
          print_error("'%s' needs 1 argument: ellipsoid\n", a);
          return false;
        }
        ellipsoid_ = id;
        args.consume(i, 1);
        i++;
        continue;
      }
    }
    if (strncmp(name, "-vertical_", 10) == 0) {
      if (strcmp(name, "-vertical_epsg") == 0) {
        int code;
        if (!args.has(i, 1) || !args.scan(i + 1, "%d", &code) || code <= 0) {
          print_error("'%s' needs 1 argument: code\n", a);
          return false;
        }
        s.vertical_datum = code;
        args.consume(i, 1);
        i++;
        continue;
      }
      for (const VerticalOption& v : kVerticals) {
        if (strncmp(name, v.option, strlen(v.option)) == 0) {
          s.vertical_datum = v.code;
          args.consume(i);
          matched = true;
          break;
        }
      }
      if (matched) continue;
      print_error("unknown vertical datum '%s'\n", a);
      return false;
    }
    if (strcmp(name, "-latlong") == 0 || strcmp(name, "-longlat") == 0 ||
        strcmp(name, "-ecef") == 0) {
      p = ProjectionDescription();
      p.kind = (name[1] == 'l' && name[2] == 'a') ? ProjectionDescription::LATLONG
               : (name[1] == 'l')                 ? ProjectionDescription::LONGLAT
                                                  : ProjectionDescription::ECEF;
      p.name = name + 1;
      args.consume(i);
      continue;
    }
    if (strcmp(name, "-utm") == 0) {
      int zone = 0;
      char letter = 'N';
      if (!args.has(i, 1) || sscanf(argv[i + 1], "%d%c", &zone, &letter) < 1 || zone < 1 ||
          zone > 60) {
        print_error("'%s' needs 1 argument: zone\n", a);
        return false;
      }
      p = ProjectionDescription();
      p.kind = ProjectionDescription::UTM;
      p.utm_zone = zone;
      // Zone letters from 'N' on (and 'n') are the northern hemisphere.
      char upper = char(letter >= 'a' && letter <= 'z' ? letter - 32 : letter);
      p.utm_north = !(upper >= 'A' && upper < 'N');
      p.epsg_code = utm_code(zone, p.utm_north);
      p.name = std::string("UTM zone ") + argv[i + 1];
      args.consume(i, 1);
      i++;
      continue;
    }
    if (strcmp(name, "-epsg") == 0) {
      int code;
      if (!args.has(i, 1) || !args.scan(i + 1, "%d", &code) || code <= 0 || code > 65535) {
        print_error("'%s' needs 1 argument: code\n", a);
        return false;
      }
      p = ProjectionDescription();
      p.epsg_code = code;
      int zone;
      bool north;
      if (code == 4326 || code == 4269 || code == 4267 || code == 4258 || code == 4283) {
        p.kind = ProjectionDescription::LONGLAT;
      } else if (is_utm_code(code, &zone, &north)) {
        p.kind = ProjectionDescription::UTM;
        p.utm_zone = zone;
        p.utm_north = north;
      } else {
        p.kind = ProjectionDescription::EPSG;
      }
      // Units a small table of ours knows; the caller may still override them.
      if (!s.horizontal_set) {
        for (const CodeUnit& c : kFootCodes) {
          if (code >= c.first && code <= c.last) {
            F64 f = 1.0;
            factor_of_unit(c.unit_code, &f);
            s.horizontal_factor =
                source ? f : (c.unit_code == 9002 ? kTargetFeet : kTargetSurveyFeet);
          }
        }
      }
      p.name = std::string("EPSG ") + argv[i + 1];
      args.consume(i, 1);
      i++;
      continue;
    }
    if (strcmp(name, "-sp83") == 0 || strcmp(name, "-sp27") == 0) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: zone\n", a);
        return false;
      }
      p = ProjectionDescription();
      p.kind = ProjectionDescription::STATE_PLANE;
      p.name = std::string(name + 1) + " " + argv[i + 1];
      args.consume(i, 1);
      i++;
      continue;
    }
    struct Parametric {
      const char* option;
      ProjectionDescription::Kind kind;
      int count;
      const char* needs;
    };
    static const Parametric kParametric[] = {
        {"-lcc", ProjectionDescription::LCC, 7,
         "7 arguments: false_easting false_northing unit lat_origin_1 lat_origin_2 lat_origin "
         "long_meridian"},
        {"-aeac", ProjectionDescription::AEAC, 7,
         "7 arguments: false_easting false_northing unit lat_origin_1 lat_origin_2 lat_origin "
         "long_meridian"},
        {"-transverse_mercator", ProjectionDescription::TM, 6,
         "6 arguments: false_easting false_northing unit lat_origin long_meridian scale_factor"},
    };
    for (const Parametric& pm : kParametric) {
      if (strcmp(name, pm.option) != 0) continue;
      matched = true;
      std::vector<F64> values;
      bool ok = args.has(i, pm.count);
      for (int k = 1; ok && k <= pm.count; k++) {
        if (k == 3) {
          // The unit of the false easting and northing: a word, not a number.
          const char* u = argv[i + 3];
          F64 f = strcmp(u, "survey_feet") == 0 || strcmp(u, "surveyfeet") == 0 ? kSurveyFeet
                  : strcmp(u, "feet") == 0                                      ? kFeet
                  : strcmp(u, "meter") == 0                                     ? 1.0
                                                                                : 0.0;
          ok = f != 0.0;
          values.push_back(f);
        } else {
          F64 v;
          ok = args.scan(i + k, "%lf", &v);
          values.push_back(v);
        }
      }
      if (!ok) {
        print_error("'%s' needs %s\n", a, pm.needs);
        return false;
      }
      p = ProjectionDescription();
      p.kind = pm.kind;
      p.parameters = values;
      p.name = name + 1;
      args.consume(i, pm.count);
      i += pm.count;
      break;
    }
    if (matched) continue;

    struct UnitOption {
      const char* option;
      bool horizontal;
      bool vertical;
      F64 source_factor;
      F64 target_factor;
    };
    static const UnitOption kUnits[] = {
        {"-feet", true, false, kFeet, kTargetFeet},
        {"-surveyfeet", true, false, kSurveyFeet, kTargetSurveyFeet},
        {"-survey_feet", true, false, kSurveyFeet, kTargetSurveyFeet},
        {"-meter", true, false, 1.0, 1.0},
        {"-elevation_feet", false, true, kFeet, kTargetFeet},
        {"-elevation_surveyfeet", false, true, kSurveyFeet, kTargetSurveyFeet},
        {"-elevation_survey_feet", false, true, kSurveyFeet, kTargetSurveyFeet},
        {"-elevation_meter", false, true, 1.0, 1.0},
    };
    for (const UnitOption& u : kUnits) {
      if (strcmp(name, u.option) != 0) continue;
      const F64 f = source ? u.source_factor : u.target_factor;
      if (u.horizontal) {
        s.horizontal_factor = f;
        s.horizontal_set = true;
      }
      if (u.vertical) {
        s.vertical_factor = f;
        s.vertical_set = true;
      }
      args.consume(i);
      matched = true;
      break;
    }
    if (matched) continue;
    if (!source &&
        (strcmp(a, "-target_precision") == 0 || strcmp(a, "-target_elevation_precision") == 0)) {
      F64 v;
      if (!args.has(i, 1) || !args.scan(i + 1, "%lf", &v) || !(v > 0.0)) {
        print_error("'%s' needs 1 argument: precision\n", a);
        return false;
      }
      (a[8] == 'p' ? target_precision_ : target_elevation_precision_) = v;
      args.consume(i, 1);
      i++;
      continue;
    }
  }
  return true;
}

bool ProjectionConverter::set_projection_from_geo_keys(int number_of_keys, const GeoKeyEntry* keys,
                                                       const char* ascii, int ascii_length,
                                                       const F64* doubles, int number_of_doubles) {
  (void)ascii;
  if (number_of_keys < 0 || (number_of_keys > 0 && !keys)) return false;
  if (!doubles) number_of_doubles = 0;
  if (!ascii) ascii_length = 0;
  int model = 0, projected_code = 0, geographic_code = 0, transform = 0;
  bool units_from_key = false;
  std::vector<F64> params;
  Side& s = source_;
  for (int k = 0; k < number_of_keys; k++) {
    const GeoKeyEntry& e = keys[k];
    // Values that live in the parameter records must lie inside them.
    if (e.tiff_tag_location == 34736) {
      if (int(e.value_offset) + int(e.count) > number_of_doubles) continue;
      if (e.key_id >= 3078 && e.key_id <= 3096 && e.count >= 1)
        params.push_back(doubles[e.value_offset]);
      continue;
    }
    if (e.tiff_tag_location == 34737) {
      if (int(e.value_offset) + int(e.count) > ascii_length) continue;
      continue;
    }
    if (e.tiff_tag_location != 0) continue;
    const int value = e.value_offset;
    F64 factor;
    switch (e.key_id) {
      case 1024:
        model = value;
        break;
      case 2048:
        geographic_code = value;
        break;
      case 2050:
        datum_ = value;
        break;
      case 3072:
        projected_code = value;
        break;
      case 3075:
        transform = value;
        break;
      case 2052:
        if (factor_of_unit(value, &factor)) {
          s.horizontal_factor = factor;
          units_from_key = true;
        } else {
          print_warning("GeogLinearUnitsGeoKey: look-up for %d not implemented\n", value);
        }
        break;
      case 3076:
        if (factor_of_unit(value, &factor)) {
          s.horizontal_factor = factor;
          units_from_key = true;
        } else {
          print_warning("set_ProjLinearUnitsGeoKey: look-up for %d not implemented\n", value);
        }
        break;
      case 4099:
        if (factor_of_unit(value, &factor)) {
          s.vertical_factor = factor;
        } else {
          print_warning("set_VerticalUnitsGeoKey: look-up for %d not implemented\n", value);
        }
        break;
      case 4096:
        s.vertical_datum = value;
        break;
      default:
        break;
    }
  }
  ProjectionDescription p;
  int zone;
  bool north;
  if (model == 2 || (model == 0 && projected_code == 0 && geographic_code != 0)) {
    p.kind = ProjectionDescription::LONGLAT;
    p.epsg_code = geographic_code;
  } else if (model == 3) {
    p.kind = ProjectionDescription::ECEF;
  } else if (projected_code != 0 && projected_code != 32767) {
    p.epsg_code = projected_code;
    if (is_utm_code(projected_code, &zone, &north)) {
      p.kind = ProjectionDescription::UTM;
      p.utm_zone = zone;
      p.utm_north = north;
    } else {
      p.kind = ProjectionDescription::EPSG;
    }
    if (!units_from_key) {
      for (const CodeUnit& c : kFootCodes) {
        if (projected_code >= c.first && projected_code <= c.last)
          factor_of_unit(c.unit_code, &s.horizontal_factor);
      }
    }
  } else if (transform != 0) {
    p.kind = transform == 8    ? ProjectionDescription::LCC
             : transform == 11 ? ProjectionDescription::AEAC
                               : ProjectionDescription::TM;
    p.parameters = params;
  }
  s.projection = p;
  s.horizontal_set = true;
  return true;
}

bool ProjectionConverter::get_geo_keys(bool source, std::vector<GeoKeyEntry>& keys,
                                       std::vector<F64>& doubles) const {
  keys.clear();
  doubles.clear();
  const Side& s = side(source);
  const ProjectionDescription& p = s.projection;
  auto add = [&keys](U16 id, U16 value) { keys.push_back(GeoKeyEntry{id, 0, 1, value}); };
  auto add_double = [&keys, &doubles](U16 id, F64 value) {
    keys.push_back(GeoKeyEntry{id, 34736, 1, U16(doubles.size())});
    doubles.push_back(value);
  };
  const int geographic_cs = [this]() {
    for (const DatumOption& d : kDatums) {
      if (d.datum == datum_ && d.geographic_cs) return d.geographic_cs;
    }
    return 4326;
  }();
  switch (p.kind) {
    case ProjectionDescription::NONE:
    case ProjectionDescription::STATE_PLANE:
      if (p.kind == ProjectionDescription::STATE_PLANE) {
        print_error("no geo keys known for the projection '%s'\n", p.name.c_str());
      }
      return false;
    case ProjectionDescription::LONGLAT:
    case ProjectionDescription::LATLONG:
      add(1024, 2);
      add(2048, U16(p.epsg_code ? p.epsg_code : geographic_cs));
      add(2054, 9102);
      add(4099, U16(vertical_unit_code(source)));
      break;
    case ProjectionDescription::ECEF:
      add(1024, 3);
      add(2048, U16(geographic_cs));
      add(3076, 9001);
      break;
    case ProjectionDescription::UTM:
    case ProjectionDescription::EPSG:
      if (p.epsg_code > 0) {
        add(1024, 1);
        add(3072, U16(p.epsg_code));
        add(3076, U16(horizontal_unit_code(source)));
        add(4099, U16(vertical_unit_code(source)));
        if (s.vertical_datum) add(4096, U16(s.vertical_datum));
        break;
      }
      // A UTM zone without a code of its datum: a transverse Mercator.
      add(1024, 1);
      add(3072, 32767);
      add(3074, 32767);
      add(3075, 1);
      add(3076, U16(horizontal_unit_code(source)));
      add(2048, U16(geographic_cs));
      add_double(3080, -183.0 + 6.0 * p.utm_zone);
      add_double(3081, 0.0);
      add_double(3082, 500000.0 / s.horizontal_factor);
      add_double(3083, (p.utm_north ? 0.0 : 10000000.0) / s.horizontal_factor);
      add_double(3092, 0.9996);
      add(4099, U16(vertical_unit_code(source)));
      if (s.vertical_datum) add(4096, U16(s.vertical_datum));
      break;
    case ProjectionDescription::LCC:
    case ProjectionDescription::AEAC:
    case ProjectionDescription::TM: {
      const std::vector<F64>& v = p.parameters;
      add(1024, 1);
      add(3072, 32767);
      add(3074, 32767);
      add(3075, U16(p.kind == ProjectionDescription::LCC    ? 8
                    : p.kind == ProjectionDescription::AEAC ? 11
                                                            : 1));
      add(3076, U16(horizontal_unit_code(source)));
      add(2048, U16(geographic_cs));
      if (v.size() == 7) {
        add_double(3078, v[3]);
        add_double(3079, v[4]);
        add_double(p.kind == ProjectionDescription::LCC ? 3085 : 3081, v[5]);
        add_double(p.kind == ProjectionDescription::LCC ? 3084 : 3080, v[6]);
      } else if (v.size() == 6) {
        add_double(3081, v[3]);
        add_double(3080, v[4]);
        add_double(3092, v[5]);
      }
      if (v.size() >= 3 && v[2] != 0.0) {
        add_double(3082, v[0] * v[2] / s.horizontal_factor);
        add_double(3083, v[1] * v[2] / s.horizontal_factor);
      }
      add(4099, U16(vertical_unit_code(source)));
      if (s.vertical_datum) add(4096, U16(s.vertical_datum));
      break;
    }
  }
  return true;
}

void ProjectionConverter::usage() const {
  print_message("Supported projection options:\n");
  print_message("  -utm 32N -epsg 2994 -latlong -longlat -ecef\n");
  print_message("  -lcc 609601.22 0.0 meter 33.75 -79 34.33333 36.16666\n");
  print_message("  -transverse_mercator 1804891.4 0.0 survey_feet 0.0 -85.6666 0.99996\n");
  print_message("  -aeac 0.0 0.0 meter 29.5 45.5 23.0 -96.0 -sp83 CO_N -sp27 CA_I\n");
  print_message("  -wgs84 -wgs72 -nad83 -nad27 -etrs89 -gda94 -gda2020 -osgb1936 -ellipsoid 23\n");
  print_message("  -vertical_navd88 -vertical_epsg 5703\n");
  print_message(
      "  -feet -surveyfeet -meter -elevation_feet -elevation_surveyfeet -elevation_meter\n");
  print_message("  -target_utm 32N -target_epsg 32632 -target_feet -target_precision 0.01\n");
}
