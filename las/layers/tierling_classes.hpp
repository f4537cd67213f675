// The layer classes by their codes. Each group of classes answers for the
// (type, fields, compression) triples it knows and returns nothing for the
// others; read_tierling asks the groups in turn.
#pragma once

#include <memory>

#include "las/layers/tierling.hpp"

// Flags, classification, user data, Z, extended attributes and delete.
std::unique_ptr<Tierling> make_replace_tierling(U32 type, U32 fields, U32 compression);
// Intensity, colour, near infrared, differences, header change, append,
// filter, transform and added VLRs.
std::unique_ptr<Tierling> make_other_tierling(U32 type, U32 fields, U32 compression);
