// A writer that passes on only the points whose deleted marker is clear,
// keeping its own inventory of them, so that the header it patches matches
// what was really written.
#pragma once

#include <memory>

#include "las/io/laswriter.hpp"

class LASwriterDeleted : public LASwriter {
 public:
  LASwriterDeleted() = default;
  ~LASwriterDeleted() override = default;

  // Takes the wrapped writer; false when none is given.
  bool set_writer(std::unique_ptr<LASwriter> writer);
  LASwriter* get_writer() const { return writer_.get(); }

  bool write_point(const LASpoint* point) override;
  void update_inventory(const LASpoint* point) override;
  bool chunk() override { return writer_ && writer_->chunk(); }
  bool update_header(const LASheader* header, bool use_inventory = false,
                     bool update_extra_bytes = false) override;
  I64 close(bool update_npoints = true) override;

 private:
  std::unique_ptr<LASwriter> writer_;
};
