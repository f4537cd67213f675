// The catalogue of cell statistics a raster can keep, chosen by keywords.
#pragma once

class LASraster;

struct LASrasterStatistics {
  // The lowest-elevation statistic every raster starts with.
  static void install_default(LASraster& raster);
  // Installs the statistic the keyword text names; false (raster unchanged)
  // when it names none or when the raster already holds tiles.
  static bool select(LASraster& raster, const char* text);
};
