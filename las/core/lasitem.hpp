// One block of a stored point record, and the layout of each point type.
#pragma once

#include <vector>

#include "las/core/types.hpp"

class LASitem {
 public:
  // The numeric values are part of the compressed file format.
  enum Type {
    BYTE = 0,
    POINT10 = 6,
    GPSTIME11 = 7,
    RGB12 = 8,
    WAVEPACKET13 = 9,
    POINT14 = 10,
    RGB14 = 11,
    RGBNIR14 = 12,
    WAVEPACKET14 = 13,
    BYTE14 = 14
  };

  Type type = BYTE;
  U16 size = 0;
  U16 version = 0;

  LASitem() = default;
  LASitem(Type t, U16 s, U16 v = 0) : type(t), size(s), version(v) {}
  bool operator==(const LASitem& o) const {
    return type == o.type && size == o.size && version == o.version;
  }

  // The fixed size of a type, 0 for the byte items (any size) and unknown types.
  static U16 fixed_size(U32 type);
  static bool known_type(U32 type);
  // "POINT10", "BYTE", ...; "unknown" otherwise.
  static const char* type_name(U32 type);
};

// Base record size of a point type 0-10, 0 for others.
U16 base_point_size(U8 point_type);

// The item list of a point type and record size; false for a type above 10.
// A record size below the base size warns and is taken as the base size.
bool build_item_list(U8 point_type, U16 record_size, std::vector<LASitem>& items);
