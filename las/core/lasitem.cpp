#include "las/core/lasitem.hpp"

#include "las/core/messages.hpp"

U16 LASitem::fixed_size(U32 type) {
  switch (type) {
    case POINT10:
      return 20;
    case GPSTIME11:
      return 8;
    case RGB12:
      return 6;
    case WAVEPACKET13:
      return 29;
    case POINT14:
      return 30;
    case RGB14:
      return 6;
    case RGBNIR14:
      return 8;
    case WAVEPACKET14:
      return 29;
    default:
      return 0;
  }
}

bool LASitem::known_type(U32 type) {
  return type == BYTE || (type >= POINT10 && type <= BYTE14);
}

const char* LASitem::type_name(U32 type) {
  switch (type) {
    case BYTE:
      return "BYTE";
    case POINT10:
      return "POINT10";
    case GPSTIME11:
      return "GPSTIME11";
    case RGB12:
      return "RGB12";
    case WAVEPACKET13:
      return "WAVEPACKET13";
    case POINT14:
      return "POINT14";
    case RGB14:
      return "RGB14";
    case RGBNIR14:
      return "RGBNIR14";
    case WAVEPACKET14:
      return "WAVEPACKET14";
    case BYTE14:
      return "BYTE14";
    default:
      return "unknown";
  }
}

U16 base_point_size(U8 point_type) {
  static const U16 sizes[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
  return point_type <= 10 ? sizes[point_type] : 0;
}

bool build_item_list(U8 point_type, U16 record_size, std::vector<LASitem>& items) {
  items.clear();
  if (point_type > 10) return false;
  const U16 base = base_point_size(point_type);
  int extra = int(record_size) - int(base);
  if (extra < 0) {
    print_warning(
        "point size %d too small by %d bytes for point type %d. assuming point_size of %d\n",
        int(record_size), -extra, int(point_type), int(base));
    extra = 0;
  }
  const bool legacy = point_type <= 5;
  items.emplace_back(legacy ? LASitem::POINT10 : LASitem::POINT14, legacy ? 20 : 30);
  switch (point_type) {
    case 1:
      items.emplace_back(LASitem::GPSTIME11, 8);
      break;
    case 2:
      items.emplace_back(LASitem::RGB12, 6);
      break;
    case 3:
      items.emplace_back(LASitem::GPSTIME11, 8);
      items.emplace_back(LASitem::RGB12, 6);
      break;
    case 4:
      items.emplace_back(LASitem::GPSTIME11, 8);
      items.emplace_back(LASitem::WAVEPACKET13, 29);
      break;
    case 5:
      items.emplace_back(LASitem::GPSTIME11, 8);
      items.emplace_back(LASitem::RGB12, 6);
      items.emplace_back(LASitem::WAVEPACKET13, 29);
      break;
    case 7:
      items.emplace_back(LASitem::RGB14, 6);
      break;
    case 8:
      items.emplace_back(LASitem::RGBNIR14, 8);
      break;
    case 9:
      items.emplace_back(LASitem::WAVEPACKET14, 29);
      break;
    case 10:
      items.emplace_back(LASitem::RGBNIR14, 8);
      items.emplace_back(LASitem::WAVEPACKET14, 29);
      break;
    default:
      break;
  }
  if (extra > 0) items.emplace_back(legacy ? LASitem::BYTE : LASitem::BYTE14, U16(extra));
  return true;
}
