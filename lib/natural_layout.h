// Compile-time field offsets of a plain class under natural alignment.
//
// Classes shared with the host across the library boundary must keep their
// layout for 32-bit and 64-bit pointers alike. A header lists its fields as
// (size, alignment) pairs, computed from a pointer width, and checks the
// real class against the result with static_assert. A class whose members
// come from one X-list, X(name, type), declares them and has every offset
// checked from that list alone (SCP_DECLARE_MEMBER, SCP_CHECK_LAYOUT).
#pragma once

#include <array>
#include <cstddef>
#include <type_traits>

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

// What a member of type T takes for a pointer width: pointers that width,
// arrays their element n times, anything else (numbers, and blocks that hold
// no pointer) its own size and alignment.
template <typename T>
constexpr Field FieldOf(std::size_t pointerSize) {
  if constexpr (std::is_array_v<T>)
    return Array(FieldOf<std::remove_extent_t<T>>(pointerSize), std::extent_v<T>);
  else if constexpr (std::is_pointer_v<T>)
    return Ptr(pointerSize);
  else
    return {sizeof(T), alignof(T)};
}

// Lets a member be declared from a type written whole (char[32]).
template <typename T>
using Declared = T;

}  // namespace natural_layout

// Declares a member of an X-list, zeroed.
#define SCP_DECLARE_MEMBER(name, ...) natural_layout::Declared<__VA_ARGS__> name = {};

#define SCP_LAYOUT_INDEX_(name, ...) k_##name,
#define SCP_LAYOUT_FIELD_(name, ...) natural_layout::FieldOf<decltype(Checked::name)>(p),
#define SCP_LAYOUT_OFFSET_(name, ...) \
  static_assert(offsetof(Checked, name) == ForPointerSize(sizeof(void*))[k_##name], #name " moved");

// Checks every member of a class declared from MEMBERS (X(name, ...), the
// name first) against natural alignment for this build, with the class size
// pinned for 4- and 8-byte pointers: a change to the list must be deliberate.
// The layout follows from the members' declared types.
#define SCP_CHECK_LAYOUT(Class, MEMBERS, size32, size64)                                                    \
  namespace Class##_layout {                                                                                \
  using Checked = Class;                                                                                    \
  enum : std::size_t { MEMBERS(SCP_LAYOUT_INDEX_) kCount };                                                 \
  constexpr auto ForPointerSize(std::size_t p) {                                                            \
    return natural_layout::Offsets(std::array<natural_layout::Field, kCount>{MEMBERS(SCP_LAYOUT_FIELD_)}); \
  }                                                                                                         \
  static_assert(ForPointerSize(4)[kCount] == (size32) && ForPointerSize(8)[kCount] == (size64));            \
  MEMBERS(SCP_LAYOUT_OFFSET_)                                                                               \
  static_assert(sizeof(Checked) == ForPointerSize(sizeof(void*))[kCount], #Class " size");                  \
  }
