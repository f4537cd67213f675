#include "las/layers/laswriter_deleted.hpp"

bool LASwriterDeleted::set_writer(std::unique_ptr<LASwriter> writer) {
  if (!writer) return false;
  writer_ = std::move(writer);
  static_cast<LASscaleOffset&>(*this) = static_cast<const LASscaleOffset&>(*writer_);
  point_count = writer_->point_count;
  return true;
}

bool LASwriterDeleted::write_point(const LASpoint* point) {
  if (point->marked_deleted) return true;
  if (!writer_ || !writer_->write_point(point)) return false;
  points_written++;
  return true;
}

void LASwriterDeleted::update_inventory(const LASpoint* point) {
  if (!point->marked_deleted) inventory.add(point);
}

bool LASwriterDeleted::update_header(const LASheader* header, bool use_inventory,
                                     bool update_extra_bytes) {
  if (!writer_) return false;
  if (use_inventory) writer_->inventory = inventory;
  return writer_->update_header(header, use_inventory, update_extra_bytes);
}

I64 LASwriterDeleted::close(bool update_npoints) {
  if (!writer_) return 0;
  const I64 bytes = writer_->close(update_npoints);
  point_count = writer_->point_count;
  return bytes;
}
