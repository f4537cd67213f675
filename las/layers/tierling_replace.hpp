// Layers that replace one field of every point (the four classification
// flags, the classification, the user data, Z, the LAS 1.4 attributes) and
// the layer that deletes points. The raw ones share a dictionary coding of
// small values.
#pragma once

#include <memory>
#include <vector>

#include "las/codec/entropy_coder.hpp"
#include "las/codec/int_delta_coder.hpp"
#include "las/io/laswriter.hpp"
#include "las/layers/tierling.hpp"

namespace trl {
// Values packed LSB-first into 32-bit words with a growing dictionary: the
// first value goes out with the value width; after it, each value is the
// index of an earlier one, or the index one past the dictionary followed by
// the new value. The index width grows by a bit whenever the dictionary size
// reaches a power of two.
class RawDictionaryWriter {
 public:
  // Value widths of 1 to 16 bits; false for others.
  bool init(U32 value_bits);
  // False when the stream refused a word. The value must fit the width.
  bool write(ByteStreamOut* stream, U32 value);
  U32 size() const { return U32(values_.size()); }

 private:
  U32 value_bits_ = 0;
  U32 index_bits_ = 0;
  std::vector<U32> values_;
  std::vector<I32> index_of_;  // by value, -1 while not in the dictionary
};

class RawDictionaryReader {
 public:
  bool init(U32 value_bits);
  // Throws EndOfData past the stream's end and DecodingError on an index
  // that no dictionary of this width can have.
  U32 read(ByteStreamIn* stream);

 private:
  U32 value_bits_ = 0;
  U32 index_bits_ = 0;
  std::vector<U32> values_;
};
}  // namespace trl

// Entropy-coded layers: one coder over the layer data, models made or reset
// when coding starts.
class TierlingPointwise : public Tierling {
 public:
  bool apply(LASpoint* point) final;

 protected:
  TierlingPointwise(U32 type, U32 fields, const char* kind);
  bool start_writing_data(ByteStreamOut* data) final;
  bool end_writing_data() final;
  bool start_reading_data(ByteStreamIn* data) final;
  // Models are (re)set here, after the coder is started.
  virtual bool start_encoding() = 0;
  virtual bool start_decoding() = 0;
  // Decodes the next point's value; may throw EndOfData or DecodingError.
  virtual void decode(LASpoint* point) = 0;

  const char* kind() const { return kind_; }
  std::unique_ptr<EntropyEncoder> encoder_;
  std::unique_ptr<EntropyDecoder> decoder_;

 private:
  const char* kind_;
};

// Withheld, synthetic, keypoint and overlap flags: one bit per point, in the
// context of the return type and the previous point's bit.
class TierlingReplaceFlagCompressed : public TierlingPointwise {
 public:
  enum Flag { WITHHELD, SYNTHETIC, KEYPOINT, OVERLAP };
  bool record(const LASpoint& read, const LASpoint& written) override;

  static U32 get_flag(const LASpoint& point, Flag flag);
  static void set_flag(LASpoint* point, Flag flag, U32 bit);

 protected:
  TierlingReplaceFlagCompressed(Flag flag, U32 fields, const char* kind);
  bool start_encoding() override;
  bool start_decoding() override;
  void decode(LASpoint* point) override;

 private:
  Flag flag_;
  BitModel models_[8];
  U32 previous_ = 0;
};

class TierlingReplaceWithheldFlagCompressed : public TierlingReplaceFlagCompressed {
 public:
  TierlingReplaceWithheldFlagCompressed();
};
class TierlingReplaceSyntheticFlagCompressed : public TierlingReplaceFlagCompressed {
 public:
  TierlingReplaceSyntheticFlagCompressed();
};
class TierlingReplaceKeypointFlagCompressed : public TierlingReplaceFlagCompressed {
 public:
  TierlingReplaceKeypointFlagCompressed();
};
class TierlingReplaceOverlapFlagCompressed : public TierlingReplaceFlagCompressed {
 public:
  TierlingReplaceOverlapFlagCompressed();
};

// The 5-bit class as an index into a list of target classes, or a symbol
// for "unchanged" when that is allowed.
class TierlingReplaceClassificationCompressed : public TierlingPointwise {
 public:
  TierlingReplaceClassificationCompressed();
  // An empty list stands for the 32 classes 0 to 31; at most 255 entries.
  TierlingReplaceClassificationCompressed(std::vector<U8> classes, bool allow_unchanged);
  bool record(const LASpoint& read, const LASpoint& written) override;
  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

  const std::vector<U8>& get_classes() const { return classes_; }
  bool get_allow_unchanged() const { return allow_unchanged_; }

 protected:
  bool start_encoding() override;
  bool start_decoding() override;
  void decode(LASpoint* point) override;

 private:
  bool setup(bool encode_only);
  BitModel& bit_model(U32 context);
  SymbolModel& symbol_model(U32 context);

  std::vector<U8> classes_;  // as stored; empty means 0-31
  bool allow_unchanged_ = false;
  std::vector<U8> targets_;    // the classes the indices refer to
  std::vector<I32> index_of_;  // by 5-bit class, -1 when not a target
  U32 num_symbols_ = 0;
  U32 unchanged_ = 0;
  U32 previous_ = 0;
  std::vector<BitModel> bit_models_;
  std::vector<SymbolModel> symbol_models_;
  std::vector<U8> ready_;
};

// User data minus a minimum as a symbol, in the context of the previous one.
class TierlingReplaceUserDataCompressed : public TierlingPointwise {
 public:
  TierlingReplaceUserDataCompressed();
  TierlingReplaceUserDataCompressed(U8 min_value, U8 max_value);
  bool record(const LASpoint& read, const LASpoint& written) override;
  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

 protected:
  bool start_encoding() override;
  bool start_decoding() override;
  void decode(LASpoint* point) override;

 private:
  bool setup(bool encode_only);
  SymbolModel& model(U32 context);

  U8 min_value_ = 0;
  U8 max_value_ = 255;
  U32 num_symbols_ = 0;
  U32 previous_ = 0;
  std::vector<SymbolModel> models_;
  std::vector<U8> ready_;
};

// Z against the last Z of the same return type. The header's z bounds follow
// the Z values the points end up with.
class TierlingReplaceZCompressed : public TierlingPointwise {
 public:
  TierlingReplaceZCompressed();
  bool record(const LASpoint& read, const LASpoint& written) override;

 protected:
  bool start_encoding() override;
  bool start_decoding() override;
  void decode(LASpoint* point) override;
  void update_header(LASheader* header) override;

 private:
  std::unique_ptr<IntDeltaCoder> coder_;
  I32 last_[4] = {0, 0, 0, 0};
  bool have_z_ = false;
  I32 min_z_ = 0, max_z_ = 0;
};

// Extended scan angle, return numbers, extended classification, scanner
// channel and overlap flag of LAS 1.4 points.
class TierlingReplaceExtendedLAS14AttributesCompressed : public TierlingPointwise {
 public:
  TierlingReplaceExtendedLAS14AttributesCompressed();
  bool record(const LASpoint& read, const LASpoint& written) override;
  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

 protected:
  bool start_encoding() override;
  bool start_decoding() override;
  void decode(LASpoint* point) override;

 private:
  bool setup(bool encode_only);

  std::unique_ptr<IntDeltaCoder> angle_;
  SymbolModel returns_;
  SymbolModel classification_;
  SymbolModel channel_overlap_;
};

// The deleted marker, in the context of the previous point's. Keeps an
// inventory of the points that remain, which becomes the header's counts
// and bounds.
class TierlingDeletePointsCompressed : public TierlingPointwise {
 public:
  TierlingDeletePointsCompressed();
  bool record(const LASpoint& read, const LASpoint& written) override;
  bool last_point_deleted() const override { return last_deleted_; }

  const LASwriterInventory& get_inventory() const { return inventory_; }

 protected:
  bool start_encoding() override;
  bool start_decoding() override;
  void decode(LASpoint* point) override;
  void update_header(LASheader* header) override;

 private:
  BitModel models_[2];
  U32 previous_ = 0;
  bool last_deleted_ = false;
  LASwriterInventory inventory_;
};

// Raw layers: plain integers, packed bits or dictionary codes.
class TierlingRaw : public Tierling {
 public:
  bool apply(LASpoint* point) final;

 protected:
  TierlingRaw(U32 fields, const char* kind);
  bool start_writing_data(ByteStreamOut* data) final;
  bool end_writing_data() final;
  bool start_reading_data(ByteStreamIn* data) final;
  virtual bool start_writing_values() = 0;
  virtual bool start_reading_values() = 0;
  // May throw EndOfData or DecodingError.
  virtual void read_value(ByteStreamIn* stream, LASpoint* point) = 0;

  const char* kind() const { return kind_; }

 private:
  const char* kind_;
};

// The 5-bit class as a dictionary code with 8-bit values.
class TierlingReplaceClassificationRaw : public TierlingRaw {
 public:
  TierlingReplaceClassificationRaw();
  bool record(const LASpoint& read, const LASpoint& written) override;
  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

 protected:
  bool start_writing_values() override;
  bool start_reading_values() override;
  void read_value(ByteStreamIn* stream, LASpoint* point) override;

 private:
  U8 max_value_bits_ = 8;
  trl::RawDictionaryWriter writer_;
  trl::RawDictionaryReader reader_;
};

// User data as dictionary codes (few values), packed bits or plain bytes.
class TierlingReplaceUserDataRaw : public TierlingRaw {
 public:
  // Dictionary codes of 8-bit values: cheap for the few distinct values
  // user data usually holds, and able to store any byte.
  TierlingReplaceUserDataRaw();
  // Values must fit max_value_bits (1 to 8 bits; 8 stores plain bytes
  // when few_values is off).
  TierlingReplaceUserDataRaw(bool few_values, U8 max_value_bits);
  bool record(const LASpoint& read, const LASpoint& written) override;
  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

 protected:
  bool start_writing_values() override;
  bool start_reading_values() override;
  void read_value(ByteStreamIn* stream, LASpoint* point) override;

 private:
  bool check_settings(bool writing) const;

  U8 few_values_ = 1;
  U8 max_value_bits_ = 8;
  trl::RawDictionaryWriter writer_;
  trl::RawDictionaryReader reader_;
};

// Z as a 32-bit integer, or clamped to 16 bits when max_value_bits is not 32.
class TierlingReplaceZRaw : public TierlingRaw {
 public:
  // 32 bits: every Z is stored exactly.
  TierlingReplaceZRaw();
  explicit TierlingReplaceZRaw(U8 max_value_bits);
  bool record(const LASpoint& read, const LASpoint& written) override;
  bool write_specialized_header(ByteStreamOut* stream) const override;
  bool read_specialized_header(ByteStreamIn* stream) override;

 protected:
  bool start_writing_values() override;
  bool start_reading_values() override;
  void read_value(ByteStreamIn* stream, LASpoint* point) override;
  void update_header(LASheader* header) override;

 private:
  U8 max_value_bits_ = 32;
  bool have_z_ = false;
  I32 min_z_ = 0, max_z_ = 0;
};
