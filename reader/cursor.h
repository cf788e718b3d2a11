// A bounds-checked little-endian reader over a byte span. Every read past
// the end yields 0 and clears ok(); nothing outside the span is touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace scpreader {

class Cursor {
 public:
  explicit Cursor(std::span<const uint8_t> data, size_t pos = 0) : data_(data), pos_(pos) {
    if (pos_ > data_.size()) {
      pos_ = data_.size();
      ok_ = false;
    }
  }

  size_t pos() const { return pos_; }
  size_t size() const { return data_.size(); }
  size_t remaining() const { return data_.size() - pos_; }
  bool has(size_t n) const { return remaining() >= n; }
  bool ok() const { return ok_; }

  uint8_t u8() { return has(1) ? data_[pos_++] : Fail<uint8_t>(); }
  uint16_t u16() {
    if (!has(2)) return Fail<uint16_t>();
    const uint16_t v = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  int16_t i16() { return static_cast<int16_t>(u16()); }
  uint32_t u32() {
    if (!has(4)) return Fail<uint32_t>();
    const uint32_t v = uint32_t{data_[pos_]} | uint32_t{data_[pos_ + 1]} << 8 | uint32_t{data_[pos_ + 2]} << 16 |
                       uint32_t{data_[pos_ + 3]} << 24;
    pos_ += 4;
    return v;
  }
  // The next n bytes, or an empty span (and !ok()) when fewer remain.
  std::span<const uint8_t> bytes(size_t n) {
    if (!has(n)) return Fail<std::span<const uint8_t>>();
    std::span<const uint8_t> s = data_.subspan(pos_, n);
    pos_ += n;
    return s;
  }
  void skip(size_t n) {
    if (!has(n)) {
      Fail<int>();
      return;
    }
    pos_ += n;
  }

 private:
  template <typename T>
  T Fail() {
    ok_ = false;
    pos_ = data_.size();
    return T{};
  }

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace scpreader
