#include "tools/survey_generator.hpp"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "las/core/lasheader.hpp"
#include "las/core/laspoint.hpp"
#include "las/core/messages.hpp"
#include "las/io/laswriter_las.hpp"

namespace {

// Small, fast and the same everywhere.
class Noise {
 public:
  explicit Noise(U32 seed) : s_(seed * 2654435761u + 1u) {}
  double uniform() {  // [0, 1)
    s_ ^= s_ << 13;
    s_ ^= s_ >> 17;
    s_ ^= s_ << 5;
    return (s_ & 0xFFFFFF) / double(0x1000000);
  }

 private:
  U32 s_;
};

constexpr double kPi = 3.14159265358979323846;

}  // namespace

void make_survey_header(const SurveySpec& spec, LASheader& header) {
  header.reset();
  header.version_major = 1;
  header.version_minor = spec.point_type >= 6 ? 4 : 2;
  header.header_size = LASheader::fields_size(header.version_minor);
  header.offset_to_point_data = header.header_size;
  header.point_data_format = spec.point_type;
  header.point_data_record_length = base_point_size(spec.point_type);
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.01;
  header.x_offset = 500000.0;
  header.y_offset = 4000000.0;
  header.z_offset = 0.0;
  header.global_encoding = spec.point_type >= 6 ? 0x11 : 0x01;  // adjusted standard GPS time
  strncpy(header.system_identifier, "trevalon survey generator", sizeof(header.system_identifier));
  strncpy(header.generating_software, "make_survey", sizeof(header.generating_software));
  // Projected, UTM zone 11 north, with the linear unit the survey asks for.
  const LASvlrKeyEntry keys[3] = {
      {1024, 0, 1, 1}, {3072, 0, 1, 32611}, {3076, 0, 1, U16(spec.in_feet ? 9002 : 9001)}};
  header.set_geo_keys(3, keys);
}

void generate_survey(const SurveySpec& spec, LASpoint& point,
                     const std::function<bool(const LASpoint&)>& emit) {
  Noise noise(spec.seed);
  const int lines = spec.flightlines > 0 ? spec.flightlines : 1;
  const I64 per_line = spec.points / lines;
  // Altitude that gives the swath at the largest scan angle.
  const double tan_max = std::tan(spec.max_scan_angle * kPi / 180.0);
  const double altitude = spec.swath / (2.0 * tan_max);
  const double spacing = spec.swath * (1.0 - spec.overlap);
  // Square-ish point spacing: samples across track per scan line.
  int across = int(std::sqrt(double(per_line) * spec.swath / spec.line_length));
  if (across < 2) across = 2;
  const I64 scan_lines = (per_line + across - 1) / across;
  const double along_step = spec.line_length / double(scan_lines > 0 ? scan_lines : 1);
  const double pulse_seconds = 1.0 / 100000.0;  // 100 kHz
  const double x0 = 500000.0 + 100.0, y0 = 4000000.0 + 100.0;
  double t = 300000.0;
  for (int line = 0; line < lines; line++) {
    const bool forward = (line % 2) == 0;
    const double track_y = y0 + line * spacing;
    I64 emitted = 0;
    for (I64 s = 0; s < scan_lines && emitted < per_line; s++) {
      const double along = (s + 0.5) * along_step;
      const double track_x = forward ? x0 + along : x0 + spec.line_length - along;
      const bool left_to_right = (s % 2) == 0;  // oscillating mirror
      for (int k = 0; k < across && emitted < per_line; k++, emitted++) {
        const double f = (k + noise.uniform() * 0.8 + 0.1) / across;
        double angle =
            -spec.max_scan_angle + 2.0 * spec.max_scan_angle * (left_to_right ? f : 1.0 - f);
        // Positive angles look to the right of the flight direction.
        const double offset = altitude * std::tan(angle * kPi / 180.0);
        const double x = track_x + (noise.uniform() - 0.5) * along_step * 0.5;
        const double y = forward ? track_y - offset : track_y + offset;
        const double ground =
            120.0 + 6.0 * std::sin(x / 57.0) * std::cos(y / 73.0) + noise.uniform() * 0.1;
        const bool two_returns = noise.uniform() < 0.15;
        const int returns = two_returns ? 2 : 1;
        for (int r = 1; r <= returns && (r == 1 || emitted + 1 < per_line); r++) {
          if (r == 2) emitted++;
          point.clear_values();
          point.set_x(x);
          point.set_y(y);
          const bool canopy = two_returns && r == 1;
          point.set_z(canopy ? ground + 8.0 + noise.uniform() * 6.0 : ground);
          point.intensity = U16(200 + noise.uniform() * 800);
          point.return_number = U8(r);
          point.number_of_returns = U8(returns);
          point.extended_return_number = U8(r);
          point.extended_number_of_returns = U8(returns);
          point.scan_direction_flag = left_to_right ? 1 : 0;
          point.edge_of_flight_line = (k == 0 || k == across - 1) ? 1 : 0;
          const U8 cls = canopy ? 5 : 2;
          point.classification = cls;
          point.extended_classification = cls;
          point.set_scan_angle(F32(angle));
          if (point.extended_layout) {
            point.scan_angle_rank = I8(std::lround(angle));
            point.extended_scanner_channel =
                U8(spec.scanner_channels > 1 ? k % spec.scanner_channels : 0);
          }
          point.user_data = U8(line);
          point.point_source_ID = spec.zero_point_source ? 0 : U16(line + 1);
          point.gps_time = t;
          if (point.has_rgb) {
            point.rgb[0] = U16(20000 + 10000 * std::sin(x / 40.0));
            point.rgb[1] = U16(25000 + 8000 * std::cos(y / 30.0));
            point.rgb[2] = U16(15000);
            point.rgb[3] = U16(30000 + point.intensity);
          }
          if (!emit(point)) return;
        }
        t += pulse_seconds;
      }
    }
    t += spec.turn_seconds;
  }
}

namespace {

bool write_lines(const SurveySpec& spec, const std::vector<std::string>& paths) {
  LASheader header;
  make_survey_header(spec, header);
  LASpoint point;
  if (!point.init_layout(&header, header.point_data_format, header.point_data_record_length,
                         nullptr)) {
    return false;
  }
  std::vector<std::unique_ptr<LASwriterLAS>> writers;
  for (const std::string& path : paths) {
    const bool vzk = path.size() > 4 && path.compare(path.size() - 4, 4, ".vzk") == 0;
    writers.push_back(std::make_unique<LASwriterLAS>());
    if (!writers.back()->open(path.c_str(), &header, vzk ? (spec.point_type >= 6 ? 3 : 2) : 0)) {
      return false;
    }
  }
  bool ok = true;
  // user_data carries the line number whatever the point source IDs say.
  generate_survey(spec, point, [&](const LASpoint& p) {
    LASwriterLAS& writer = *writers[writers.size() == 1 ? 0 : p.user_data % writers.size()];
    if (!writer.write_point(&p)) {
      ok = false;
      return false;
    }
    writer.update_inventory(&p);
    return true;
  });
  for (auto& writer : writers) {
    if (ok) ok = writer->update_header(&header, true);
    writer->close();
  }
  return ok;
}

}  // namespace

bool write_survey(const SurveySpec& spec, const std::string& path) {
  return write_lines(spec, {path});
}

bool write_survey_split(const SurveySpec& spec, const std::string& stem,
                        const std::string& extension) {
  std::vector<std::string> paths;
  for (int line = 1; line <= spec.flightlines; line++) {
    paths.push_back(stem + "_" + std::to_string(line) + "." + extension);
  }
  return write_lines(spec, paths);
}
