#include "las/codec/lasitem_raw.hpp"

#include <cstring>

#include "las/core/laspoint.hpp"

void LASreadItemRaw_POINT14_LE::readItem(U8* item, U32&) {
  instream->readBytes(buffer, 30);
  LASpoint* point = reinterpret_cast<LASpoint*>(item);
  memcpy(item, buffer, 14);  // X, Y, Z, intensity
  const U32 r = buffer[14] & 15;
  const U32 n = buffer[14] >> 4;
  if (n > 7) {
    point->number_of_returns = 7;
    point->return_number = (r <= 6) ? r : (r >= n ? 7 : 6);
  } else {
    point->return_number = r & 7;
    point->number_of_returns = n;
  }
  const U8 flags = buffer[15];
  point->scan_direction_flag = (flags >> 6) & 1;
  point->edge_of_flight_line = (flags >> 7) & 1;
  point->synthetic_flag = flags & 1;
  point->keypoint_flag = (flags >> 1) & 1;
  point->withheld_flag = (flags >> 2) & 1;
  const U8 classification = buffer[16];
  point->classification = (classification < 32) ? classification : 0;
  I16 scan_angle;
  memcpy(&scan_angle, buffer + 18, 2);
  I64 rank = round_half_away(F32(scan_angle) * 0.006f);
  if (rank < -128) rank = -128;
  if (rank > 127) rank = 127;
  point->scan_angle_rank = I8(rank);
  point->user_data = buffer[17];
  memcpy(&point->point_source_ID, buffer + 20, 2);
  point->extended_scanner_channel = (flags >> 4) & 3;
  point->extended_classification_flags = flags & 15;
  point->extended_classification = classification;
  point->extended_return_number = r;
  point->extended_number_of_returns = n;
  point->extended_scan_angle = scan_angle;
  memcpy(&point->gps_time, buffer + 22, 8);
}

bool LASwriteItemRaw_POINT14_LE::writeItem(const U8* item, U32&) {
  const LASpoint* point = reinterpret_cast<const LASpoint*>(item);
  memcpy(buffer, item, 14);
  buffer[17] = point->user_data;
  memcpy(buffer + 20, &point->point_source_ID, 2);
  memcpy(buffer + 22, &point->gps_time, 8);
  U8 flags = U8((point->scan_direction_flag << 6) | (point->edge_of_flight_line << 7) |
                point->synthetic_flag | (point->keypoint_flag << 1) | (point->withheld_flag << 2));
  I16 scan_angle;
  if (point->extended_layout) {
    flags |=
        U8((point->extended_classification_flags & 8) | (point->extended_scanner_channel << 4));
    buffer[16] = point->classification ? point->classification : point->extended_classification;
    buffer[14] = U8(point->extended_return_number | (point->extended_number_of_returns << 4));
    scan_angle = point->extended_scan_angle;
  } else {
    buffer[16] = point->classification;
    buffer[14] = U8(point->return_number | (point->number_of_returns << 4));
    scan_angle = I16(round_half_away(F32(point->scan_angle_rank) / 0.006f));
  }
  buffer[15] = flags;
  memcpy(buffer + 18, &scan_angle, 2);
  return outstream->writeBytes(buffer, 30);
}

std::unique_ptr<LASreadItemRaw> makeReadItemRaw(const LASitem& item) {
  switch (item.type) {
    case LASitem::BYTE:
    case LASitem::BYTE14:
      return std::make_unique<LASreadItemRaw_BYTE>(item.size);
    case LASitem::POINT10:
      return std::make_unique<LASreadItemRaw_POINT10_LE>();
    case LASitem::GPSTIME11:
      return std::make_unique<LASreadItemRaw_GPSTIME11_LE>();
    case LASitem::RGB12:
    case LASitem::RGB14:
      return std::make_unique<LASreadItemRaw_RGB12_LE>();
    case LASitem::WAVEPACKET13:
    case LASitem::WAVEPACKET14:
      return std::make_unique<LASreadItemRaw_WAVEPACKET13_LE>();
    case LASitem::POINT14:
      return std::make_unique<LASreadItemRaw_POINT14_LE>();
    case LASitem::RGBNIR14:
      return std::make_unique<LASreadItemRaw_RGBNIR14_LE>();
  }
  return nullptr;
}

std::unique_ptr<LASwriteItemRaw> makeWriteItemRaw(const LASitem& item) {
  switch (item.type) {
    case LASitem::BYTE:
    case LASitem::BYTE14:
      return std::make_unique<LASwriteItemRaw_BYTE>(item.size);
    case LASitem::POINT10:
      return std::make_unique<LASwriteItemRaw_POINT10_LE>();
    case LASitem::GPSTIME11:
      return std::make_unique<LASwriteItemRaw_GPSTIME11_LE>();
    case LASitem::RGB12:
    case LASitem::RGB14:
      return std::make_unique<LASwriteItemRaw_RGB12_LE>();
    case LASitem::WAVEPACKET13:
    case LASitem::WAVEPACKET14:
      return std::make_unique<LASwriteItemRaw_WAVEPACKET13_LE>();
    case LASitem::POINT14:
      return std::make_unique<LASwriteItemRaw_POINT14_LE>();
    case LASitem::RGBNIR14:
      return std::make_unique<LASwriteItemRaw_RGBNIR14_LE>();
  }
  return nullptr;
}
