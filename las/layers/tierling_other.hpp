// Layers that change intensity, add colour or near infrared, move points,
// change only the header, append points, repeat a filter or transform, or
// add a variable-length record.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "las/codec/entropy_coder.hpp"
#include "las/codec/int_delta_coder.hpp"
#include "las/filter/lasfilter.hpp"
#include "las/io/laswriter.hpp"
#include "las/layers/tierling.hpp"
#include "las/transform/lastransform.hpp"

class LASwriteItemCompressed_RGB12_v2;
class LASreadItemCompressed_RGB12_v2;

namespace trl_detail {

// A 16-bit value coded as byte differences against the previous value:
// both bytes behind a symbol that says which changed, or only one byte.
class ByteDiffCoder {
 public:
  ByteDiffCoder(bool uses_both_bytes, bool uses_lower_byte)
      : both_(uses_both_bytes), lower_(uses_lower_byte) {}
  void configure(bool uses_both_bytes, bool uses_lower_byte) {
    both_ = uses_both_bytes;
    lower_ = uses_lower_byte;
  }
  bool uses_both_bytes() const { return both_; }
  bool uses_lower_byte() const { return lower_; }
  // True when the value keeps nothing in the byte that is not coded.
  bool fits(U16 value) const { return both_ || (lower_ ? value < 256 : (value & 0xFF) == 0); }

  // Previous value 0 and fresh models.
  void start(bool encode_only);
  void encode(EntropyEncoder& encoder, U16 value);
  U16 decode(EntropyDecoder& decoder);

 private:
  bool both_;
  bool lower_;
  U16 last_ = 0;
  SymbolModel changed_;  // bit 0 lower byte, bit 1 upper byte
  SymbolModel low_;
  SymbolModel high_;
};

}  // namespace trl_detail

// Replaces the intensity of every point.
class TierlingReplaceIntensityCompressed : public Tierling {
 public:
  TierlingReplaceIntensityCompressed();
  TierlingReplaceIntensityCompressed(bool uses_both_bytes, bool uses_lower_byte);
  ~TierlingReplaceIntensityCompressed() override;

  bool uses_both_bytes() const { return coder_.uses_both_bytes(); }
  bool uses_lower_byte() const { return coder_.uses_lower_byte(); }

  bool record(const LASpoint& read, const LASpoint& written) override;
  bool apply(LASpoint* point) override;
  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

 protected:
  bool start_writing_data(ByteStreamOut* data) override;
  bool end_writing_data() override;
  bool start_reading_data(ByteStreamIn* data) override;

 private:
  trl_detail::ByteDiffCoder coder_;
  EntropyEncoder encoder_;
  EntropyDecoder decoder_;
};

// Adds colour stored as three plain 16-bit values per point.
class TierlingAddRGBRaw : public Tierling {
 public:
  // The flag is chosen when writing: set when the point file has no colour
  // of its own, so that points the ignore rules exclude read as black.
  TierlingAddRGBRaw();
  explicit TierlingAddRGBRaw(bool lower_byte_zero);
  ~TierlingAddRGBRaw() override;

  bool get_lower_byte_zero() const;

  bool record(const LASpoint& read, const LASpoint& written) override;
  bool adjust_point(LASpoint* point) override;
  bool apply(LASpoint* point) override;
  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

 protected:
  bool start_writing_data(ByteStreamOut* data) override;
  bool end_writing_data() override;
  bool start_reading_data(ByteStreamIn* data) override;
  void update_header(LASheader* header) override;

 private:
  bool explicit_flag_ = false;
  bool lower_byte_zero_ = false;
};

// Adds colour coded against the previous colour, with both bytes of each
// channel or only one.
class TierlingAddRGBCompressed : public Tierling {
 public:
  // Both bytes: lossless for every colour.
  TierlingAddRGBCompressed();
  TierlingAddRGBCompressed(bool uses_both_bytes, bool uses_lower_byte);
  ~TierlingAddRGBCompressed() override;

  bool uses_both_bytes() const { return both_; }
  bool uses_lower_byte() const { return lower_; }
  // The third flag: points the ignore rules exclude read as black. Set when
  // the point file has no colour of its own.
  bool get_zero_excluded() const;

  bool record(const LASpoint& read, const LASpoint& written) override;
  bool adjust_point(LASpoint* point) override;
  bool apply(LASpoint* point) override;
  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

 protected:
  bool start_writing_data(ByteStreamOut* data) override;
  bool end_writing_data() override;
  bool start_reading_data(ByteStreamIn* data) override;
  void update_header(LASheader* header) override;

 private:
  void reset_byte_models(bool encode_only);

  bool both_ = true;
  bool lower_ = false;
  bool explicit_zero_ = false;
  bool zero_excluded_ = false;
  EntropyEncoder encoder_;
  EntropyDecoder decoder_;
  std::unique_ptr<LASwriteItemCompressed_RGB12_v2> rgb_writer_;
  std::unique_ptr<LASreadItemCompressed_RGB12_v2> rgb_reader_;
  // One byte per channel.
  U8 last_[3] = {0, 0, 0};
  SymbolModel changed_;  // bit 0 red, 1 green, 2 blue changed; bit 3 not grey
  SymbolModel red_;
  SymbolModel green_;
  SymbolModel blue_;
};

// Adds near infrared coded like intensity. Points the ignore rules exclude
// read as 0 when the point file has no NIR of its own.
class TierlingAddNIRCompressed : public Tierling {
 public:
  // Both bytes: lossless for every value.
  TierlingAddNIRCompressed();
  TierlingAddNIRCompressed(bool uses_both_bytes, bool uses_lower_byte);
  ~TierlingAddNIRCompressed() override;

  bool uses_both_bytes() const { return coder_.uses_both_bytes(); }
  bool uses_lower_byte() const { return coder_.uses_lower_byte(); }

  bool record(const LASpoint& read, const LASpoint& written) override;
  bool adjust_point(LASpoint* point) override;
  bool apply(LASpoint* point) override;
  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

 protected:
  bool start_writing_data(ByteStreamOut* data) override;
  bool end_writing_data() override;
  bool start_reading_data(ByteStreamIn* data) override;
  void update_header(LASheader* header) override;

 private:
  trl_detail::ByteDiffCoder coder_;
  EntropyEncoder encoder_;
  EntropyDecoder decoder_;
  bool zero_excluded_ = false;  // the point file has no NIR of its own
};

// Moves points by integer coordinate differences; the three members differ
// in the axes they code.
class TierlingDiffCompressed : public Tierling {
 public:
  ~TierlingDiffCompressed() override;

  bool record(const LASpoint& read, const LASpoint& written) override;
  bool apply(LASpoint* point) override;

 protected:
  // `fields` is trl::kFieldXY, kFieldZ or kFieldXYZ.
  explicit TierlingDiffCompressed(U32 fields);
  bool start_writing_data(ByteStreamOut* data) override;
  bool end_writing_data() override;
  bool start_reading_data(ByteStreamIn* data) override;

 private:
  bool xy_;
  bool z_;
  U32 z_context_;
  EntropyEncoder encoder_;
  EntropyDecoder decoder_;
  IntDeltaCoder write_coder_;
  IntDeltaCoder read_coder_;
  // The previous difference per return-type class.
  I32 last_dx_[4] = {0, 0, 0, 0};
  I32 last_dy_[4] = {0, 0, 0, 0};
  I32 last_dz_[4] = {0, 0, 0, 0};
};

class TierlingDiffXYCompressed : public TierlingDiffCompressed {
 public:
  TierlingDiffXYCompressed() : TierlingDiffCompressed(trl::kFieldXY) {}
};

class TierlingDiffZCompressed : public TierlingDiffCompressed {
 public:
  TierlingDiffZCompressed() : TierlingDiffCompressed(trl::kFieldZ) {}
};

class TierlingDiffXYZCompressed : public TierlingDiffCompressed {
 public:
  TierlingDiffXYZCompressed() : TierlingDiffCompressed(trl::kFieldXYZ) {}
};

// Only header modifications, no point data.
class TierlingChangeHeader : public Tierling {
 public:
  TierlingChangeHeader();
  ~TierlingChangeHeader() override;
};

// Stores the points written beyond the point file's own count and delivers
// them after the file's points. Ignore rules do not apply: every point
// given to the layer is kept.
class TierlingAppendPointsRaw : public Tierling {
 public:
  TierlingAppendPointsRaw();
  ~TierlingAppendPointsRaw() override;

  // Reading side, after start_reading: the counts of the data.
  U64 get_file_count() const { return file_count_; }
  U64 get_total_count() const { return total_count_; }
  const LASwriterInventory& get_inventory() const { return inventory_; }

  bool record(const LASpoint& read, const LASpoint& written) override;
  void skip_point() override;
  bool next_appended_point(LASpoint* point) override;

 protected:
  bool start_writing_data(ByteStreamOut* data) override;
  bool end_writing_data() override;
  bool start_reading_data(ByteStreamIn* data) override;
  void update_header(LASheader* header) override;

 private:
  U64 file_count_ = 0;
  U64 total_count_ = 0;
  U64 count_ = 0;   // points written through the layer, or appended points delivered
  U64 stored_ = 0;  // appended points stored
  I64 total_position_ = -1;
  LASwriterInventory inventory_;
};

// Repeats a filter on reading: the points it drops are marked deleted.
class TierlingFilter : public Tierling {
 public:
  TierlingFilter();
  explicit TierlingFilter(const std::string& text);
  ~TierlingFilter() override;

  const std::string& get_text() const { return text_; }

  bool apply(LASpoint* point) override;
  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

 protected:
  bool start_reading_data(ByteStreamIn* data) override;

 private:
  std::string text_;
  std::unique_ptr<LASfilter> filter_;
};

// Repeats a transform on reading.
class TierlingTransform : public Tierling {
 public:
  TierlingTransform();
  explicit TierlingTransform(const std::string& text);
  ~TierlingTransform() override;

  const std::string& get_text() const { return text_; }

  bool apply(LASpoint* point) override;
  bool done_reading() override;
  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

 protected:
  bool start_reading_data(ByteStreamIn* data) override;

 private:
  std::string text_;
  std::unique_ptr<LAStransform> transform_;
};

// Adds a variable-length record to the header on reading.
class TierlingAddVLR : public Tierling {
 public:
  TierlingAddVLR();
  // `user_id` is cut to 16 characters; a payload over 65535 bytes cannot be
  // written.
  TierlingAddVLR(const char* user_id, U16 record_id, std::vector<U8> data);
  ~TierlingAddVLR() override;

  // The 16 user id bytes, zero-padded and not terminated.
  const char* get_user_id() const { return user_id_; }
  U16 get_record_id() const { return record_id_; }
  const std::vector<U8>& get_data() const { return data_; }

  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

 protected:
  bool start_reading_data(ByteStreamIn* data) override;

 private:
  char user_id_[16] = {};
  U16 record_id_ = 0;
  std::vector<U8> data_;
};
