#include "las/transform/lastransform.hpp"

#include <cinttypes>
#include <cstring>

#include "las/core/argcursor.hpp"
#include "las/core/messages.hpp"
#include "las/core/option_text.hpp"
#include "las/filter/lasfilter.hpp"
#include "las/transform/lasoperation_common.hpp"

using namespace transform_detail;

LAStransform::LAStransform() = default;
LAStransform::~LAStransform() = default;

void LAStransform::clean() {
  operations_.clear();
  first_ = nullptr;
  filter_.reset();
  filtered_ = false;
}

void LAStransform::link() {
  first_ = operations_.empty() ? nullptr : operations_.front().get();
  for (size_t i = 0; i < operations_.size(); i++) {
    operations_[i]->next_ = (i + 1 < operations_.size()) ? operations_[i + 1].get() : nullptr;
  }
}

void LAStransform::add_operation(std::unique_ptr<LASoperation> operation) {
  operations_.push_back(std::move(operation));
  link();
}

void LAStransform::remove_operation(const char* name) {
  for (size_t i = 0; i < operations_.size(); i++) {
    if (strcmp(operations_[i]->name(), name) == 0) {
      operations_.erase(operations_.begin() + long(i));
      link();
      return;
    }
  }
}

void LAStransform::add_set_point_source(U16 value) {
  for (size_t i = operations_.size(); i-- > 0;) {
    if (strcmp(operations_[i]->name(), "set_point_source") == 0) {
      operations_.erase(operations_.begin() + long(i));
    }
  }
  add_operation(make_set_point_source(value));
}

void LAStransform::set_filter(std::unique_ptr<LASfilter> filter) {
  filter_ = std::move(filter);
  if (!filter_) filtered_ = false;
}

bool LAStransform::filtered_out(const LASpoint* point) {
  return filter_->filter(point);
}

void LAStransform::reset() {
  for (const auto& operation : operations_) operation->reset();
  // A filter handed over by -filtered_transform is nobody else's to reset;
  // without this a second pass would select other points.
  if (filter_) filter_->reset();
}

std::string LAStransform::get_command() const {
  std::string text;
  if (filter_) {
    text += filter_->get_command();
    text += "-filtered_transform ";
  }
  for (const auto& operation : operations_) text += operation->get_command();
  return text;
}

void LAStransform::report_overflows() {
  for (const auto& operation : operations_) {
    if (operation->overflows() != 0) {
      print_warning("total of %" PRId64 " overflows caused by '%s'\n", operation->overflows(),
                    operation->get_command().c_str());
      operation->clear_overflows();
    }
  }
}

I64 LAStransform::total_overflows() const {
  I64 total = 0;
  for (const auto& operation : operations_) total += operation->overflows();
  return total;
}

U32 LAStransform::field_mask() const {
  U32 mask = 0;
  for (const auto& operation : operations_) mask |= operation->field_mask();
  return mask;
}

bool LAStransform::parse(const std::string& command) {
  OwnedArgs args(split_command(command));
  return parse(args.argc(), args.argv());
}

bool LAStransform::parse(int argc, char* argv[]) {
  ArgCursor args(argc, argv);
  static const char* const families[] = {
      "-translate_", "-rotate_", "-clamp_", "-copy_", "-set_",  "-change_",   "-classify_",
      "-scale_",     "-switch_", "-bin_",   "-map_",  "-load_", "-transform_"};
  static const char* const singles[] = {"-merge_scanner_channel_into_point_source",
                                        "-split_scanner_channel_from_point_source",
                                        "-move_ancient_to_extended_classification",
                                        "-flip_waveform_direction",
                                        "-repair_zero_returns",
                                        "-adjusted_to_week",
                                        "-week_to_adjusted"};
  for (int i = 1; i < argc; i++) {
    if (args.blank(i)) continue;
    const char* arg = argv[i];
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "-help") == 0) {
      usage();
      return true;
    }
    if (strcmp(arg, "-filtered_transform") == 0) {
      filtered_ = true;
      args.consume(i);
      continue;
    }
    bool known = strncmp(arg, "-add_", 5) == 0 || strncmp(arg, "-multiply_", 10) == 0;
    for (const char* prefix : families) known = known || strncmp(arg, prefix, strlen(prefix)) == 0;
    for (const char* single : singles) known = known || strcmp(arg, single) == 0;
    if (!known) continue;

    OptionScan scan(args, i);
    Parsed parsed = parse_coordinate_option(scan, *this);
    if (parsed == Parsed::none) parsed = parse_point_option(scan, *this);
    if (parsed == Parsed::none) parsed = parse_time_color_option(scan, *this);
    if (parsed == Parsed::none) parsed = parse_attribute_option(scan, *this);
    if (parsed == Parsed::error) return false;
    // The option and its values are blank now; the loop skips them.
  }
  return true;
}

void LAStransform::usage() const {
  static const char* const text =
      "Transform coordinates.\n"
      "  -translate_x -2.5\n"
      "  -scale_z 0.3048\n"
      "  -rotate_xy 15.0 620000 4100000 (angle + origin)\n"
      "  -translate_xyz 0.5 0.5 0\n"
      "  -translate_then_scale_y -0.5 1.001\n"
      "  -transform_helmert -199.87,74.79,246.62\n"
      "  -transform_helmert 598.1,73.7,418.2,0.202,0.045,-2.455,6.7\n"
      "  -transform_affine 0.9999652,0.903571,171.67,736.26\n"
      "  -switch_x_y -switch_x_z -switch_y_z\n"
      "  -clamp_z_below 70.5\n"
      "  -clamp_z 70.5 72.5\n"
      "  -copy_attribute_into_z 0\n"
      "  -add_attribute_to_z 1\n"
      "  -add_scaled_attribute_to_z 1 -1.2\n"
      "  -copy_intensity_into_z\n"
      "  -copy_user_data_into_z\n"
      "Transform raw xyz integers.\n"
      "  -translate_raw_z 20\n"
      "  -translate_raw_xyz 1 1 0\n"
      "  -translate_raw_xy_at_random 2 2\n"
      "  -clamp_raw_z 500 800\n"
      "Transform intensity.\n"
      "  -set_intensity 0\n"
      "  -scale_intensity 2.5\n"
      "  -translate_intensity 50\n"
      "  -translate_then_scale_intensity 0.5 3.1\n"
      "  -clamp_intensity 0 255\n"
      "  -clamp_intensity_above 255\n"
      "  -map_intensity map_file.txt\n"
      "  -copy_RGB_into_intensity\n"
      "  -copy_NIR_into_intensity\n"
      "  -copy_attribute_into_intensity 0\n"
      "  -bin_gps_time_into_intensity 0.5\n"
      "Transform scan_angle.\n"
      "  -set_scan_angle 0.0\n"
      "  -scale_scan_angle 1.944445\n"
      "  -translate_scan_angle -5\n"
      "  -translate_then_scale_scan_angle -0.5 2.1\n"
      "Change the return number or return count of points.\n"
      "  -repair_zero_returns\n"
      "  -set_return_number 1\n"
      "  -set_extended_return_number 10\n"
      "  -change_return_number_from_to 2 1\n"
      "  -change_extended_return_number_from_to 2 8\n"
      "  -set_number_of_returns 2\n"
      "  -set_extended_number_of_returns 15\n"
      "  -change_number_of_returns_from_to 0 2\n"
      "  -change_extended_number_of_returns_from_to 5 10\n"
      "Modify the classification.\n"
      "  -set_classification 2\n"
      "  -set_extended_classification 41\n"
      "  -change_classification_from_to 2 4\n"
      "  -classify_z_below_as -5.0 7\n"
      "  -classify_z_above_as 70.0 7\n"
      "  -classify_z_between_as 2.0 5.0 4\n"
      "  -classify_intensity_above_as 200 9\n"
      "  -classify_intensity_below_as 30 11\n"
      "  -classify_intensity_between_as 500 900 15\n"
      "  -classify_attribute_below_as 0 -5.0 7\n"
      "  -classify_attribute_above_as 1 70.0 7\n"
      "  -classify_attribute_between_as 1 2.0 5.0 4\n"
      "  -change_extended_classification_from_to 6 46\n"
      "  -move_ancient_to_extended_classification\n"
      "  -copy_user_data_into_classification\n"
      "Change the flags.\n"
      "  -set_withheld_flag 0\n"
      "  -set_synthetic_flag 1\n"
      "  -set_keypoint_flag 0\n"
      "  -set_overlap_flag 1\n"
      "Modify the extended scanner channel.\n"
      "  -set_scanner_channel 2\n"
      "  -copy_user_data_into_scanner_channel\n"
      "Modify the user data.\n"
      "  -set_user_data 0\n"
      "  -scale_user_data 1.5\n"
      "  -change_user_data_from_to 23 26\n"
      "  -map_user_data map_file.txt\n"
      "  -copy_scanner_channel_into_user_data\n"
      "  -copy_attribute_into_user_data 1\n"
      "  -add_scaled_attribute_to_user_data 0 10.0\n"
      "Modify the point source ID.\n"
      "  -set_point_source 500\n"
      "  -change_point_source_from_to 1023 1024\n"
      "  -map_point_source map_file.txt\n"
      "  -copy_user_data_into_point_source\n"
      "  -copy_scanner_channel_into_point_source\n"
      "  -copy_classification_into_point_source\n"
      "  -merge_scanner_channel_into_point_source\n"
      "  -split_scanner_channel_from_point_source\n"
      "  -bin_Z_into_point_source 200\n"
      "  -bin_abs_scan_angle_into_point_source 2\n"
      "  -bin_gps_time_into_point_source 5.0\n"
      "Transform gps_time.\n"
      "  -set_gps_time 113556962.005715\n"
      "  -translate_gps_time 40.50\n"
      "  -adjusted_to_week\n"
      "  -week_to_adjusted 1671\n"
      "Transform RGB/NIR colors.\n"
      "  -set_RGB 255 0 127\n"
      "  -set_RGB_of_class 9 0 0 255\n"
      "  -scale_RGB 2 4 2\n"
      "  -scale_RGB_down (by 256)\n"
      "  -scale_RGB_up (by 256)\n"
      "  -scale_RGB_to_8bit (only scales down 16 bit values)\n"
      "  -scale_RGB_to_16bit (only scales up 8 bit values)\n"
      "  -switch_R_G -switch_R_B -switch_G_B\n"
      "  -copy_R_into_NIR -copy_R_into_intensity\n"
      "  -copy_G_into_NIR -copy_G_into_intensity\n"
      "  -copy_B_into_NIR -copy_B_into_intensity\n"
      "  -copy_intensity_into_NIR\n"
      "  -switch_RGBI_into_CIR\n"
      "  -switch_RGB_intensity_into_CIR\n"
      "Transform attributes in \"Extra Bytes\".\n"
      "  -scale_attribute 0 1.5\n"
      "  -translate_attribute 1 0.2\n"
      "  -copy_user_data_into_attribute 0\n"
      "  -map_attribute_into_RGB 0 map_height_to_RGB.txt\n";
  print_message("%s", text);
}
