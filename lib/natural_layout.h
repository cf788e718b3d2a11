// Compile-time field offsets of a plain class under natural alignment.
//
// Classes shared with the host across the library boundary must keep their
// layout for 32-bit and 64-bit pointers alike. A header lists its fields as
// (size, alignment) pairs, computed from a pointer width, and checks the
// real class against the result with static_assert.
#pragma once

#include <array>
#include <cstddef>

namespace natural_layout {

struct Field {
  std::size_t size;
  std::size_t align;
};

constexpr Field U8() { return {1, 1}; }
constexpr Field U16() { return {2, 2}; }
constexpr Field U32() { return {4, 4}; }
constexpr Field Ptr(std::size_t pointerSize) { return {pointerSize, pointerSize}; }
constexpr Field Array(Field f, std::size_t n) { return {f.size * n, f.align}; }

constexpr std::size_t AlignUp(std::size_t v, std::size_t a) { return (v + a - 1) / a * a; }

// Offsets of the N fields, followed by the padded size of the whole class.
template <std::size_t N>
constexpr std::array<std::size_t, N + 1> Offsets(const std::array<Field, N>& fields) {
  std::array<std::size_t, N + 1> out{};
  std::size_t pos = 0;
  std::size_t maxAlign = 1;
  for (std::size_t i = 0; i < N; ++i) {
    pos = AlignUp(pos, fields[i].align);
    out[i] = pos;
    pos += fields[i].size;
    if (fields[i].align > maxAlign) maxAlign = fields[i].align;
  }
  out[N] = AlignUp(pos, maxAlign);
  return out;
}

// Two 32-bit words and a pointer: the shape of the sub-records that hold an
// owned array with its capacity and count (or length).
constexpr std::array<std::size_t, 4> TwoWordsAndPointer(std::size_t pointerSize) {
  return Offsets<3>({U32(), U32(), Ptr(pointerSize)});
}
static_assert(TwoWordsAndPointer(4)[3] == 12 && TwoWordsAndPointer(8)[3] == 16);

}  // namespace natural_layout
