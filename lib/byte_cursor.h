// Little-endian reading and writing over a span of bytes, as every integer
// in an SCP-ECG file is stored. Every access is checked against the span;
// what a read past the end does is chosen per use, because the readers of
// this system treat it differently and that difference is observable:
//
//   kFail      the read gives 0 and marks the cursor failed (and every
//              read after it gives 0 too), so that a reader checks once at
//              the end instead of before every field;
//   kZeroFill  the bytes that exist are read and the missing ones count as
//              zero (a value cut off by the end of its section);
//   kKeep      the destination keeps the value it had (Read* forms only).
//
// The writer checks capacity inside and records "full" once: a write that
// does not fit writes nothing, and every later write is refused too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

enum class PastEnd : uint8_t { kFail, kZeroFill, kKeep };

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> data, PastEnd policy = PastEnd::kFail, size_t position = 0)
      : data_(data), policy_(policy), pos_(position) {}
  ByteReader(const uint8_t* data, size_t size, PastEnd policy = PastEnd::kFail, size_t position = 0)
      : ByteReader(std::span<const uint8_t>(data, size), policy, position) {}

  size_t size() const { return data_.size(); }
  size_t position() const { return pos_; }
  // Bytes from the position to the end; 0 when the position lies beyond it.
  size_t remaining() const { return pos_ < data_.size() ? data_.size() - pos_ : 0; }
  bool failed() const { return failed_; }
  // True when n bytes from offset lie within the data (no overflow).
  bool Has(size_t offset, size_t n) const { return offset <= data_.size() && data_.size() - offset >= n; }
  std::span<const uint8_t> bytes() const { return data_; }

  void Seek(size_t position) { pos_ = position; }
  void Skip(size_t n) { pos_ += n; }

  // Values at an offset, the position unchanged.
  uint8_t U8At(size_t offset) const { return static_cast<uint8_t>(ValueAt(offset, 1)); }
  uint16_t U16At(size_t offset) const { return static_cast<uint16_t>(ValueAt(offset, 2)); }
  int16_t I16At(size_t offset) const { return static_cast<int16_t>(U16At(offset)); }
  uint32_t U32At(size_t offset) const { return static_cast<uint32_t>(ValueAt(offset, 4)); }

  // Values at the position, which moves past them whether or not they fit.
  uint8_t U8() { return static_cast<uint8_t>(Next(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Next(2)); }
  int16_t I16() { return static_cast<int16_t>(U16()); }
  uint32_t U32() { return static_cast<uint32_t>(Next(4)); }

  // kKeep: the value at offset into *out when it lies wholly within the
  // data; false, and *out as it was, otherwise.
  template <typename T>
  bool ReadAt(size_t offset, T* out) const {
    if (!Has(offset, sizeof(T))) return false;
    *out = static_cast<T>(Assemble(offset, sizeof(T)));
    return true;
  }

  // The next n bytes as a view, the position moving past them; an empty
  // view when fewer remain, which under kFail is a failed read like any other.
  std::span<const uint8_t> Bytes(size_t n) {
    const size_t at = pos_;
    pos_ += n;
    if (!failed_ && Has(at, n)) return data_.subspan(at, n);
    failed_ = failed_ || policy_ == PastEnd::kFail;
    return {};
  }

  // Copies n bytes from offset when they lie within the data.
  bool CopyAt(size_t offset, void* out, size_t n) const {
    if (!Has(offset, n)) return false;
    if (n > 0) std::memcpy(out, data_.data() + offset, n);
    return true;
  }

 private:
  uint64_t Assemble(size_t offset, size_t n) const {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint64_t{data_[offset + i]} << (8 * i);
    return v;
  }

  uint64_t ValueAt(size_t offset, size_t n) const {
    if (!failed_ && Has(offset, n)) return Assemble(offset, n);
    if (policy_ == PastEnd::kZeroFill && !failed_) {
      uint64_t v = 0;
      for (size_t i = 0; i < n && offset < data_.size() && i < data_.size() - offset; ++i)
        v |= uint64_t{data_[offset + i]} << (8 * i);
      return v;
    }
    failed_ = policy_ == PastEnd::kFail || failed_;
    return 0;
  }

  uint64_t Next(size_t n) {
    const uint64_t v = ValueAt(pos_, n);
    pos_ += n;
    return v;
  }

  std::span<const uint8_t> data_;
  PastEnd policy_;
  size_t pos_ = 0;
  // A failed read marks the reader even through a const view of it.
  mutable bool failed_ = false;
};

class ByteWriter {
 public:
  explicit ByteWriter(std::span<uint8_t> data, size_t position = 0) : data_(data), pos_(position) {}
  ByteWriter(uint8_t* data, size_t size, size_t position = 0) : ByteWriter(std::span<uint8_t>(data, size), position) {}

  size_t position() const { return pos_; }
  size_t capacity() const { return data_.size(); }
  bool full() const { return full_; }
  void Seek(size_t position) { pos_ = position; }
  // True (and nothing marked) when n more bytes fit at the position.
  bool Fits(size_t n) const { return !full_ && pos_ <= data_.size() && data_.size() - pos_ >= n; }
  // Marks the writer full unless n more bytes fit.
  bool Reserve(size_t n) {
    if (Fits(n)) return true;
    full_ = true;
    return false;
  }

  // Values at an offset, the position unchanged; false (and "full") when
  // they do not fit.
  bool U8At(size_t offset, uint8_t v) { return PutAt(offset, v, 1); }
  bool U16At(size_t offset, uint16_t v) { return PutAt(offset, v, 2); }
  bool U32At(size_t offset, uint32_t v) { return PutAt(offset, v, 4); }

  bool U8(uint8_t v) { return Put(v, 1); }
  bool U16(uint16_t v) { return Put(v, 2); }
  bool I16(int16_t v) { return Put(static_cast<uint16_t>(v), 2); }
  bool U32(uint32_t v) { return Put(v, 4); }
  bool Bytes(const void* source, size_t n) {
    if (!Reserve(n)) return false;
    if (n > 0) std::memcpy(data_.data() + pos_, source, n);
    pos_ += n;
    return true;
  }
  bool Zeros(size_t n) {
    if (!Reserve(n)) return false;
    if (n > 0) std::memset(data_.data() + pos_, 0, n);
    pos_ += n;
    return true;
  }

 private:
  bool PutAt(size_t offset, uint32_t v, size_t n) {
    if (full_ || offset > data_.size() || data_.size() - offset < n) {
      full_ = true;
      return false;
    }
    for (size_t i = 0; i < n; ++i) data_[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    return true;
  }

  bool Put(uint32_t v, size_t n) {
    if (!Reserve(n)) return false;
    for (size_t i = 0; i < n; ++i) data_[pos_ + i] = static_cast<uint8_t>(v >> (8 * i));
    pos_ += n;
    return true;
  }

  std::span<uint8_t> data_;
  size_t pos_ = 0;
  bool full_ = false;
};
