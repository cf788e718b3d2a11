// Annotation list: the record against bytes built here, both reader forms
// and their messages as a table, random round trips, and every cut of a
// record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lib/eventlog.h"
#include "lib/system.h"
#include "platform/platform.h"
#include "support/log_capture.h"

namespace {

constexpr uint32_t kMark = 0xFF000002u;
constexpr uint32_t kExt17 = 1u << 17, kExt18 = 1u << 18, kExt19 = 1u << 19;
constexpr uint32_t kA = 0x11111111u, kB = 0x22222222u;

AnnotationEntry Entry(uint32_t i) {
  return AnnotationEntry{0x10000000u + i * 0x01010101u, static_cast<uint8_t>(i + 1), static_cast<uint8_t>(0xF0 - i),
                         static_cast<uint16_t>(0xA000 + i)};
}

AnnotationExtension Extension(uint32_t array, uint32_t i) {
  AnnotationExtension e{};
  for (int b = 0; b < 6; ++b) e.bytes[b] = static_cast<uint8_t>(array * 16 + i + b);
  for (int w = 0; w < 7; ++w) e.words[w] = static_cast<uint16_t>(array * 1000 + i * 10 + w + 0x8000);
  return e;
}

bool Same(const AnnotationEntry& a, const AnnotationEntry& b) {
  return a.value == b.value && a.code1 == b.code1 && a.code2 == b.code2 && a.word == b.word;
}
bool Same(const AnnotationExtension& a, const AnnotationExtension& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A record built byte by byte, little-endian, independent of the library:
// header, n entries, then the given extension blocks.
std::vector<uint8_t> HandRecord(uint32_t n, uint32_t mark, std::vector<uint32_t> arrays, uint32_t a = kA,
                                uint32_t b = kB) {
  std::vector<uint8_t> r;
  auto u8 = [&](uint32_t x) { r.push_back(static_cast<uint8_t>(x)); };
  auto u16 = [&](uint32_t x) { u8(x), u8(x >> 8); };
  auto u32 = [&](uint32_t x) { u16(x), u16(x >> 16); };
  u32(20 + 8 * n + 20 * n * static_cast<uint32_t>(arrays.size()));
  for (uint32_t w : {n, a, b, mark}) u32(w);
  for (uint32_t i = 0; i < n; ++i) {
    const AnnotationEntry e = Entry(i);
    u32(e.value), u8(e.code1), u8(e.code2), u16(e.word);
  }
  for (uint32_t x : arrays) {
    for (uint32_t i = 0; i < n; ++i) {
      const AnnotationExtension e = Extension(x, i);
      for (uint8_t v : e.bytes) u8(v);
      for (uint16_t v : e.words) u16(v);
    }
  }
  return r;
}

// Fills count entries and every allocated extension array with the data
// that HandRecord writes.
void Fill(AnnotationList& list, uint32_t count, uint32_t a = kA, uint32_t b = kB) {
  list.count = count;
  list.valueA = a;
  list.valueB = b;
  for (uint32_t i = 0; i < count; ++i) list.entries[i] = Entry(i);
  for (uint32_t x = 0; x < AnnotationList::kExtensionArrays; ++x)
    for (uint32_t i = 0; list.extensions[x] && i < count; ++i) list.extensions[x][i] = Extension(x, i);
}

std::vector<uint8_t> Serialized(const AnnotationList& list) {
  uint32_t len = 12345;
  auto buf = list.Serialize(&len);
  return buf ? std::vector<uint8_t>(buf.get(), buf.get() + len) : std::vector<uint8_t>{};
}

// ---------------------------------------------------------------- serialize

// Arrays 0..16 are never written; 17, 18 and 19 follow the entries in order.
TEST(AnnotationSerialize, GivesTheRecordByteForByte) {
  struct Case {
    uint32_t mask, count;
    std::vector<uint32_t> written;
  };
  for (const Case& c : {Case{0, 3, {}}, Case{0, 1, {}}, Case{kExt17 | kExt19, 3, {17, 19}},
                        Case{(1u << 0) | (1u << 16), 3, {}}, Case{kExt18, 2, {18}},
                        Case{kExt17 | kExt18 | kExt19, 10, {17, 18, 19}}, Case{0xFFFFF, 4, {17, 18, 19}}}) {
    AnnotationList list(10, c.mask);
    Fill(list, c.count, 7, 9);
    EXPECT_EQ(Serialized(list), HandRecord(c.count, kMark, c.written, 7, 9)) << std::hex << c.mask;
  }
  // The two lengths named for a list of three.
  AnnotationList list(3, kExt17 | kExt19);
  Fill(list, 3);
  EXPECT_EQ(Serialized(list).size(), 164u);
}

TEST(AnnotationSerialize, EmptyGivesNothingAndACountAboveCapacityIsCut) {
  AnnotationList list(4, AnnotationList::kHolterExtensions);
  uint32_t len = 99;
  EXPECT_FALSE(list.Serialize(&len));
  EXPECT_EQ(len, 0u);
  AnnotationList none(0);
  none.count = 3;  // a count with no entry array behind it
  EXPECT_FALSE(none.Serialize(&len));
  AnnotationList small(2, kExt17);
  Fill(small, 2);
  small.count = 5;
  EXPECT_EQ(Serialized(small), HandRecord(2, kMark, {17}));
}

// ------------------------------------------------------------------ readers

// Outcomes of both reader forms: the record, the list it is read into, the
// result and the count afterwards, and the messages (line numbers of the
// general form; the Holter form's are 40 higher). Values A and B are always
// taken, whatever follows them.
struct ReadCase {
  const char* name;
  std::vector<uint8_t> record;
  uint32_t capacity;
  bool dropEntries;  // the entry array failed to allocate
  int32_t result;
  uint32_t count;
  std::vector<std::pair<int, const char*>> logs;
};

TEST(AnnotationRead, OutcomesOfBothForms) {
  std::vector<uint8_t> cutHeader = HandRecord(0, kMark, {});
  cutHeader.resize(19);  // the version word reads as 0, which is no version
  std::vector<uint8_t> trailing = HandRecord(6, kMark, {17, 18, 19});
  trailing.insert(trailing.end(), {0, 0, 0, 0, 0});  // the section's trailing word and pad byte
  const ReadCase cases[] = {
      {"five into four", HandRecord(5, kMark, {}), 4, false, 1, 4, {{2031, "ann too small"}}},
      {"wrong mark", HandRecord(2, 0xFF000001u, {}), 4, false, 0, 0, {{2049, "invalid version"}}},
      {"no entry array", HandRecord(2, kMark, {}), 0, false, 0, 0, {{2031, "ann too small"}, {2050, "an invalid"}}},
      {"entry array failed", HandRecord(2, kMark, {}), 4, true, 0, 0, {{2050, "an invalid"}}},
      {"shorter than its header", cutHeader, 4, false, 0, 0, {{2049, "invalid version"}}},
      {"zero annotations", HandRecord(0, kMark, {}), 4, false, 1, 0, {}},
      {"trailing words", trailing, 6, false, 1, 6, {}},
  };
  for (bool holter : {false, true}) {
    for (const ReadCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (holter ? " (Holter)" : " (general)"));
      LogCapture capture;
      EventLog log(plat::ThisModule());
      AnnotationList list(c.capacity, AnnotationList::kHolterExtensions);
      Fill(list, std::min(c.capacity, 2u), 1, 2);
      if (c.capacity == 0) list.count = 7;
      list.readerReset = 5;
      if (c.dropEntries) {
        delete[] list.entries;
        list.entries = nullptr;
      }
      const int32_t rc = holter ? list.ReadHolter(c.record, &log) : list.Read(c.record, &log);
      EXPECT_EQ(rc, c.result);
      EXPECT_EQ(list.count, c.count);
      EXPECT_EQ(list.valueA, kA);
      EXPECT_EQ(list.valueB, kB);
      EXPECT_EQ(list.readerReset, 0u);
      for (uint32_t i = 0; i < c.count; ++i) EXPECT_TRUE(Same(list.entries[i], Entry(i))) << i;
      std::vector<std::string> want, got;
      for (const auto& [line, text] : c.logs)
        want.push_back("LOGOEMERROR lib/system:" + std::to_string(line + (holter ? 40 : 0)) + " " + text);
      for (const LogLine& l : capture.Messages())
        got.push_back(l.call + " " + l.source + ":" + std::to_string(l.line) + " " + l.text);
      EXPECT_EQ(got, want);
    }
  }
}

TEST(AnnotationRead, GeneralFormIgnoresExtensionEntries) {
  AnnotationList dst(3, AnnotationList::kHolterExtensions);
  for (uint32_t x = 17; x < 20; ++x) std::memset(dst.extensions[x], 0x5A, 3 * sizeof(AnnotationExtension));
  ASSERT_EQ(dst.Read(HandRecord(3, kMark, {17, 18, 19}), nullptr), 1);
  EXPECT_EQ(dst.count, 3u);
  for (uint32_t x = 17; x < 20; ++x)
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(dst.extensions[x][i].bytes[0], 0x5A);
}

// Random lists of every kind through serialize and the Holter reader; the
// masks are prefixes of 17, 18, 19, so the record's blocks line up with the
// reader's positions.
TEST(AnnotationRead, HolterFormRestoresWhatWasSerialized) {
  for (auto [mask, n] : {std::pair{0u, 1u}, {0u, 50u}, {kExt17, 5u}, {kExt17 | kExt18, 9u},
                         {AnnotationList::kHolterExtensions, 1u}, {AnnotationList::kHolterExtensions, 33u}}) {
    std::mt19937 rng(mask ^ n);
    AnnotationList src(n + 2, mask);
    src.count = n;
    src.valueA = rng();
    src.valueB = rng();
    for (uint32_t i = 0; i < n; ++i) {
      auto* p = reinterpret_cast<uint8_t*>(&src.entries[i]);
      std::generate(p, p + sizeof(AnnotationEntry), [&] { return static_cast<uint8_t>(rng()); });
      for (uint32_t x = 17; x < 20; ++x) {
        if (!src.extensions[x]) continue;
        auto* e = reinterpret_cast<uint8_t*>(&src.extensions[x][i]);
        std::generate(e, e + sizeof(AnnotationExtension), [&] { return static_cast<uint8_t>(rng()); });
      }
    }
    const std::vector<uint8_t> r = Serialized(src);
    AnnotationList dst(n, mask), gen(n, 0);
    ASSERT_EQ(dst.ReadHolter(r, nullptr), 1);
    ASSERT_EQ(gen.Read(r, nullptr), 1);
    EXPECT_EQ(dst.count, n);
    EXPECT_EQ(dst.valueA, src.valueA);
    EXPECT_EQ(dst.valueB, src.valueB);
    for (uint32_t i = 0; i < n; ++i) {
      EXPECT_TRUE(Same(dst.entries[i], src.entries[i])) << i;
      EXPECT_TRUE(Same(gen.entries[i], src.entries[i])) << i;
      for (uint32_t x = 17; x < 20; ++x) {
        if (src.extensions[x]) {
          EXPECT_TRUE(Same(dst.extensions[x][i], src.extensions[x][i])) << x << "/" << i;
        }
      }
    }
  }
}

// The Holter form reads all three blocks whatever the list holds: a block the
// list lacks is stepped over, one the record lacks clears the read entries
// (entries beyond the count stay).
TEST(AnnotationRead, HolterFormMatchesBlocksToArrays) {
  AnnotationList without18(4, kExt17 | kExt19), none(4);
  ASSERT_EQ(without18.ReadHolter(HandRecord(4, kMark, {17, 18, 19}), nullptr), 1);
  ASSERT_EQ(none.ReadHolter(HandRecord(4, kMark, {17, 18, 19}), nullptr), 1);
  EXPECT_EQ(none.count, 4u);
  // A list holds just the arrays asked for.
  for (uint32_t x = 0; x < 20; ++x) EXPECT_EQ(none.extensions[x], nullptr);
  for (uint32_t x = 0; x < 20; ++x) EXPECT_EQ(without18.extensions[x] != nullptr, x == 17 || x == 19) << x;
  EXPECT_EQ(without18.GetExtension(20), nullptr);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(Same(without18.extensions[17][i], Extension(17, i)));
    EXPECT_TRUE(Same(without18.extensions[19][i], Extension(19, i)));
  }
  AnnotationList dst(5, AnnotationList::kHolterExtensions);
  for (uint32_t x = 17; x < 20; ++x) std::memset(dst.extensions[x], 0x77, 5 * sizeof(AnnotationExtension));
  ASSERT_EQ(dst.ReadHolter(HandRecord(3, kMark, {17}), nullptr), 1);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(Same(dst.extensions[17][i], Extension(17, i)));
    EXPECT_TRUE(Same(dst.extensions[18][i], AnnotationExtension{}));
    EXPECT_TRUE(Same(dst.extensions[19][i], AnnotationExtension{}));
  }
  for (uint32_t x = 17; x < 20; ++x)
    for (uint32_t i = 3; i < 5; ++i) EXPECT_EQ(dst.extensions[x][i].bytes[0], 0x77);
}

// Every length of a valid record, in an exactly sized heap copy so that the
// sanitizer sees any read past it: count is the number of whole entries
// present, the result is 1 only when all were present, and extension
// entries are taken only when they lie wholly inside.
TEST(AnnotationRead, EveryTruncationStaysInBounds) {
  const uint32_t n = 4;
  const std::vector<uint8_t> full = HandRecord(n, kMark, {17, 18, 19});
  for (auto [holter, mask] : {std::pair{false, 0u}, {false, AnnotationList::kHolterExtensions}, {true, 0u},
                              {true, kExt18}, {true, AnnotationList::kHolterExtensions}}) {
    for (size_t len = 0; len <= full.size(); ++len) {
      std::unique_ptr<uint8_t[]> buf(new uint8_t[std::max<size_t>(len, 1)]);
      std::copy_n(full.begin(), len, buf.get());
      AnnotationList dst(n, mask);
      std::span<const uint8_t> s(buf.get(), len);
      const int32_t rc = holter ? dst.ReadHolter(s, nullptr) : dst.Read(s, nullptr);
      ASSERT_EQ(dst.count, len < 20 ? 0 : std::min<size_t>(n, (len - 20) / 8)) << len;
      ASSERT_EQ(rc, len >= 20 + 8 * n ? 1 : 0) << len;
      for (uint32_t x = 17; holter && rc && x < 20; ++x) {
        for (uint32_t i = 0; dst.extensions[x] && i < n; ++i) {
          const size_t end = 20 + 8 * n + 20 * n * (x - 17) + 20 * (i + 1);
          ASSERT_TRUE(Same(dst.extensions[x][i], end <= len ? Extension(x, i) : AnnotationExtension{}))
              << len << " " << x << "/" << i;
        }
      }
    }
  }
}

}  // namespace
