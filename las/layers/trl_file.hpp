// The TRL file around the layers: its header, which copies the identifying
// fields of the point file's header, the reading of a layer record into the
// right layer class, and where the file of an input lies.
#pragma once

#include <memory>
#include <string>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/core/lasheader.hpp"
#include "las/layers/tierling.hpp"

namespace trl {
// 276 for LAS 1.0 to 1.3, 404 for LAS 1.4.
U32 file_header_size(const LASheader& header);
bool write_file_header(ByteStreamOut* stream, const LASheader& header, U32 num_layers);

struct FileHeader {
  U32 num_layers = 0;
  U32 offset_to_layers = 0;
};
// Reads and checks a file header against the point file's header. The
// appending writer's variant (`for_append`) is stricter on the global
// encoding and words its warnings differently. The stream is left after the
// header copy, where the first layer begins.
bool check_file_header(ByteStreamIn* stream, const LASheader& header, bool for_append,
                       FileHeader* out);

// Reads one layer record from the stream's position: layer header, header
// modifications (applied to `header`), ignore words, description and the
// specialized header. The stream is left where the layer's data begins.
std::unique_ptr<Tierling> read_tierling(ByteStreamIn* stream, LASheader* header);

// The input's name with its last three characters replaced by "trl"; with a
// directory, the directory and the input's name after its last '/'.
std::string file_name(const std::string& input, const char* directory);
}  // namespace trl
