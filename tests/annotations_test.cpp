// Annotation list: record layout, both reader forms and their messages, and
// reading of damaged or cut records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <vector>

#include "lib/eventlog.h"
#include "lib/system.h"
#include "platform/platform.h"
#include "support/log_capture.h"

namespace {

constexpr uint32_t kMark = 0xFF000002u;
constexpr uint32_t kExt17 = 1u << 17;
constexpr uint32_t kExt18 = 1u << 18;
constexpr uint32_t kExt19 = 1u << 19;

// Little-endian record builder, independent of the library's own helpers.
struct Bytes {
  std::vector<uint8_t> v;
  Bytes& u8(uint8_t x) {
    v.push_back(x);
    return *this;
  }
  Bytes& u16(uint16_t x) { return u8(x & 0xFF).u8(x >> 8); }
  Bytes& u32(uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
};

uint32_t Word(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

AnnotationEntry Entry(uint32_t seed) {
  return AnnotationEntry{0x10000000u + seed * 0x01010101u, static_cast<uint8_t>(seed + 1),
                         static_cast<uint8_t>(0xF0 - seed), static_cast<uint16_t>(0xA000 + seed)};
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
bool Same(const AnnotationExtension& a, const AnnotationExtension& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Fills count entries and every allocated extension array with distinct data.
void Fill(AnnotationList& list, uint32_t count, uint32_t a = 7, uint32_t b = 9) {
  list.count = count;
  list.valueA = a;
  list.valueB = b;
  for (uint32_t i = 0; i < count; ++i) list.entries[i] = Entry(i);
  for (uint32_t x = 0; x < AnnotationList::kExtensionArrays; ++x) {
    if (list.extensions[x] == nullptr) continue;
    for (uint32_t i = 0; i < count; ++i) list.extensions[x][i] = Extension(x, i);
  }
}

std::vector<uint8_t> SerializeToVector(const AnnotationList& list) {
  uint32_t len = 0;
  auto buf = list.Serialize(&len);
  if (!buf) return {};
  return std::vector<uint8_t>(buf.get(), buf.get() + len);
}

// A record built by hand: header, n entries, then the given extension blocks.
std::vector<uint8_t> HandRecord(uint32_t n, uint32_t mark, std::vector<uint32_t> arrays) {
  Bytes r;
  uint32_t len = 20 + 8 * n + 20 * n * static_cast<uint32_t>(arrays.size());
  r.u32(len).u32(n).u32(0x11111111).u32(0x22222222).u32(mark);
  for (uint32_t i = 0; i < n; ++i) {
    AnnotationEntry e = Entry(i);
    r.u32(e.value).u8(e.code1).u8(e.code2).u16(e.word);
  }
  for (uint32_t a : arrays) {
    for (uint32_t i = 0; i < n; ++i) {
      AnnotationExtension e = Extension(a, i);
      for (uint8_t b : e.bytes) r.u8(b);
      for (uint16_t w : e.words) r.u16(w);
    }
  }
  return r.v;
}

// An exactly sized heap copy, so that the sanitizer sees any read past it.
std::unique_ptr<uint8_t[]> Exact(const std::vector<uint8_t>& v, size_t len) {
  std::unique_ptr<uint8_t[]> p(new uint8_t[len]);
  if (len > 0) std::memcpy(p.get(), v.data(), len);
  return p;
}

class LoggedTest : public ::testing::Test {
 protected:
  void SetUp() override { log_ = std::make_unique<EventLog>(plat::ThisModule()); }
  void TearDown() override { log_.reset(); }
  LogCapture capture_;
  std::unique_ptr<EventLog> log_;
};

// ---------------------------------------------------------------- serialize

TEST(AnnotationSerialize, ThreeEntriesNoExtensionsIs44Bytes) {
  AnnotationList list(8);
  Fill(list, 3);
  std::vector<uint8_t> r = SerializeToVector(list);
  ASSERT_EQ(r.size(), 44u);
  EXPECT_EQ(Word(&r[0]), 44u);
  EXPECT_EQ(Word(&r[4]), 3u);
  EXPECT_EQ(Word(&r[8]), 7u);
  EXPECT_EQ(Word(&r[12]), 9u);
  EXPECT_EQ(Word(&r[16]), kMark);
  for (uint32_t i = 0; i < 3; ++i) {
    const uint8_t* e = &r[20 + 8 * i];
    AnnotationEntry want = Entry(i);
    EXPECT_EQ(Word(e), want.value);
    EXPECT_EQ(e[4], want.code1);
    EXPECT_EQ(e[5], want.code2);
    EXPECT_EQ(e[6] | (e[7] << 8), want.word);
  }
}

TEST(AnnotationSerialize, Extensions17And19Give164BytesIn17Then19Order) {
  AnnotationList list(8, kExt17 | kExt19);
  Fill(list, 3);
  std::vector<uint8_t> r = SerializeToVector(list);
  ASSERT_EQ(r.size(), 164u);
  EXPECT_EQ(Word(&r[0]), 164u);
  for (uint32_t i = 0; i < 3; ++i) {
    AnnotationExtension e17, e19;
    std::memcpy(e17.bytes, &r[44 + 20 * i], 6);
    std::memcpy(e19.bytes, &r[104 + 20 * i], 6);
    for (int w = 0; w < 7; ++w) {
      e17.words[w] = static_cast<uint16_t>(r[44 + 20 * i + 6 + 2 * w] | (r[44 + 20 * i + 7 + 2 * w] << 8));
      e19.words[w] = static_cast<uint16_t>(r[104 + 20 * i + 6 + 2 * w] | (r[104 + 20 * i + 7 + 2 * w] << 8));
    }
    EXPECT_TRUE(Same(e17, Extension(17, i))) << i;
    EXPECT_TRUE(Same(e19, Extension(19, i))) << i;
  }
}

struct LengthCase {
  uint32_t mask;
  uint32_t count;
  uint32_t length;
};
void PrintTo(const LengthCase& c, std::ostream* os) {
  *os << "mask " << std::hex << c.mask << std::dec << " count " << c.count;
}
class AnnotationLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(AnnotationLength, MatchesFormula) {
  AnnotationList list(10, GetParam().mask);
  Fill(list, GetParam().count);
  uint32_t len = 12345;
  auto buf = list.Serialize(&len);
  ASSERT_TRUE(buf);
  EXPECT_EQ(len, GetParam().length);
  EXPECT_EQ(Word(buf.get()), GetParam().length);
}

// Arrays 0..16 are never written; each of 17..19 adds 20 bytes per entry.
INSTANTIATE_TEST_SUITE_P(Masks, AnnotationLength,
                         ::testing::Values(LengthCase{0, 1, 28}, LengthCase{(1u << 0) | (1u << 16), 3, 44},
                                           LengthCase{kExt18, 2, 76}, LengthCase{kExt17 | kExt18 | kExt19, 10, 700},
                                           LengthCase{0xFFFFF, 4, 292}));

TEST(AnnotationSerialize, EmptyListGivesNothing) {
  AnnotationList list(4, AnnotationList::kHolterExtensions);
  uint32_t len = 99;
  EXPECT_FALSE(list.Serialize(&len));
  EXPECT_EQ(len, 0u);
  AnnotationList none(0);
  none.count = 3;  // a count with no entry array behind it
  EXPECT_FALSE(none.Serialize(&len));
}

TEST(AnnotationSerialize, CountAboveCapacityIsCutToCapacity) {
  AnnotationList list(2, kExt17);
  Fill(list, 2);
  list.count = 5;
  std::vector<uint8_t> r = SerializeToVector(list);
  ASSERT_EQ(r.size(), 20u + 2 * 8 + 2 * 20);
  EXPECT_EQ(Word(&r[4]), 2u);
}

// ------------------------------------------------------------------ readers

struct FormCase {
  bool holter;
  int tooSmall;
  int invalid;
  int version;
};

void PrintTo(const FormCase& c, std::ostream* os) { *os << (c.holter ? "Holter" : "General"); }
class AnnotationReadForm : public LoggedTest, public ::testing::WithParamInterface<FormCase> {
 protected:
  int32_t ReadRecord(AnnotationList& list, const std::vector<uint8_t>& r) {
    std::span<const uint8_t> s(r.data(), r.size());
    return GetParam().holter ? list.ReadHolter(s, log_.get()) : list.Read(s, log_.get());
  }
};

TEST_P(AnnotationReadForm, FiveIntoCapacityFourIsCutWithMessage) {
  AnnotationList list(4, AnnotationList::kHolterExtensions);
  std::vector<uint8_t> r = HandRecord(5, kMark, {});
  EXPECT_EQ(ReadRecord(list, r), 1);
  EXPECT_EQ(list.count, 4u);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_TRUE(Same(list.entries[i], Entry(i)));
  EXPECT_EQ(list.valueA, 0x11111111u);
  EXPECT_EQ(list.valueB, 0x22222222u);
  EXPECT_TRUE(capture_.Has("LOGOEMERROR", "lib/system", GetParam().tooSmall, "ann too small")) << capture_.Dump();
  EXPECT_EQ(capture_.Count("LOGOEMERROR"), 1u);
}

TEST_P(AnnotationReadForm, WrongMarkRefusedAfterValuesSet) {
  AnnotationList list(4);
  Fill(list, 2, 1, 2);
  std::vector<uint8_t> r = HandRecord(2, 0xFF000001u, {});
  EXPECT_EQ(ReadRecord(list, r), 0);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.valueA, 0x11111111u);
  EXPECT_EQ(list.valueB, 0x22222222u);
  EXPECT_TRUE(capture_.Has("LOGOEMERROR", "lib/system", GetParam().version, "invalid version")) << capture_.Dump();
  EXPECT_EQ(capture_.Count("LOGOEMERROR"), 1u);
}

TEST_P(AnnotationReadForm, NoEntryArrayIsInvalidAfterTooSmall) {
  AnnotationList list(0);
  list.count = 7;
  list.readerReset = 5;
  std::vector<uint8_t> r = HandRecord(2, kMark, {});
  EXPECT_EQ(ReadRecord(list, r), 0);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.readerReset, 0u);
  EXPECT_EQ(list.valueA, 0x11111111u);
  std::vector<LogLine> lines = capture_.Messages();
  ASSERT_EQ(lines.size(), 2u) << capture_.Dump();
  EXPECT_EQ(lines[0].line, GetParam().tooSmall);
  EXPECT_EQ(lines[0].text, "ann too small");
  EXPECT_EQ(lines[1].source, "lib/system");
  EXPECT_EQ(lines[1].line, GetParam().invalid);
  EXPECT_EQ(lines[1].text, "an invalid");
}

TEST_P(AnnotationReadForm, CapacityWithFailedEntryArrayIsInvalid) {
  AnnotationList list(4);
  delete[] list.entries;
  list.entries = nullptr;
  std::vector<uint8_t> r = HandRecord(2, kMark, {});
  EXPECT_EQ(ReadRecord(list, r), 0);
  EXPECT_TRUE(capture_.Has("LOGOEMERROR", "lib/system", GetParam().invalid, "an invalid")) << capture_.Dump();
  EXPECT_EQ(capture_.Count("LOGOEMERROR"), 1u);
}

// The header words that a cut record holds are taken; the missing version
// word reads as 0, which is no version.
TEST_P(AnnotationReadForm, RecordShorterThanHeaderHasNoVersion) {
  AnnotationList list(4);
  Fill(list, 2, 1, 2);
  std::vector<uint8_t> r = HandRecord(0, kMark, {});
  r.resize(19);
  EXPECT_EQ(ReadRecord(list, r), 0);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.valueA, 0x11111111u);
  EXPECT_EQ(list.valueB, 0x22222222u);
  ASSERT_EQ(capture_.Count("LOGOEMERROR"), 1u) << capture_.Dump();
  EXPECT_TRUE(capture_.Has("LOGOEMERROR", "lib/system", GetParam().version, "invalid version")) << capture_.Dump();
}

TEST_P(AnnotationReadForm, ZeroAnnotationsReadsAsEmpty) {
  AnnotationList list(4, AnnotationList::kHolterExtensions);
  Fill(list, 3);
  std::vector<uint8_t> r = HandRecord(0, kMark, {});
  EXPECT_EQ(ReadRecord(list, r), 1);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(capture_.Count("LOGOEMERROR"), 0u);
}

TEST_P(AnnotationReadForm, TrailingZeroWordOfSectionIsHarmless) {
  AnnotationList src(6, AnnotationList::kHolterExtensions);
  Fill(src, 6);
  std::vector<uint8_t> r = SerializeToVector(src);
  r.insert(r.end(), {0, 0, 0, 0, 0});  // trailing word and pad byte of the section
  AnnotationList dst(6, AnnotationList::kHolterExtensions);
  EXPECT_EQ(ReadRecord(dst, r), 1);
  ASSERT_EQ(dst.count, 6u);
  for (uint32_t i = 0; i < 6; ++i) EXPECT_TRUE(Same(dst.entries[i], src.entries[i]));
}

INSTANTIATE_TEST_SUITE_P(Forms, AnnotationReadForm,
                         ::testing::Values(FormCase{false, 2031, 2050, 2049}, FormCase{true, 2071, 2090, 2089}),
                         [](const auto& info) { return info.param.holter ? "Holter" : "General"; });

TEST(AnnotationRead, GeneralFormIgnoresExtensionEntries) {
  AnnotationList src(3, AnnotationList::kHolterExtensions);
  Fill(src, 3);
  std::vector<uint8_t> r = SerializeToVector(src);
  AnnotationList dst(3, AnnotationList::kHolterExtensions);
  for (uint32_t x = 17; x < 20; ++x) std::memset(dst.extensions[x], 0x5A, 3 * sizeof(AnnotationExtension));
  ASSERT_EQ(dst.Read(r, nullptr), 1);
  EXPECT_EQ(dst.count, 3u);
  for (uint32_t x = 17; x < 20; ++x)
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(dst.extensions[x][i].bytes[0], 0x5A);
}

// Varied data: every combination of stored arrays, several counts.
struct RoundTripCase {
  uint32_t mask;
  uint32_t count;
};
void PrintTo(const RoundTripCase& c, std::ostream* os) {
  *os << "mask " << std::hex << c.mask << std::dec << " count " << c.count;
}
class AnnotationRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(AnnotationRoundTrip, HolterFormRestoresEverything) {
  const auto [mask, n] = GetParam();
  std::mt19937 rng(mask ^ n);
  AnnotationList src(n + 2, mask);
  src.count = n;
  src.valueA = rng();
  src.valueB = rng();
  for (uint32_t i = 0; i < n; ++i) src.entries[i] = {static_cast<uint32_t>(rng()), static_cast<uint8_t>(rng()),
                                                     static_cast<uint8_t>(rng()), static_cast<uint16_t>(rng())};
  for (uint32_t x = 17; x < 20; ++x) {
    if (!src.extensions[x]) continue;
    for (uint32_t i = 0; i < n; ++i)
      for (uint8_t* b = reinterpret_cast<uint8_t*>(&src.extensions[x][i]);
           b < reinterpret_cast<uint8_t*>(&src.extensions[x][i] + 1); ++b)
        *b = static_cast<uint8_t>(rng());
  }
  std::vector<uint8_t> r = SerializeToVector(src);
  ASSERT_FALSE(r.empty());
  AnnotationList dst(n, mask);
  dst.readerReset = 77;
  ASSERT_EQ(dst.ReadHolter(r, nullptr), 1);
  EXPECT_EQ(dst.readerReset, 0u);
  EXPECT_EQ(dst.count, n);
  EXPECT_EQ(dst.valueA, src.valueA);
  EXPECT_EQ(dst.valueB, src.valueB);
  for (uint32_t i = 0; i < n; ++i) EXPECT_TRUE(Same(dst.entries[i], src.entries[i])) << i;
  for (uint32_t x = 17; x < 20; ++x) {
    // The masks used here are prefixes of 17, 18, 19, so the record's
    // blocks line up with the reader's positions.
    if (!src.extensions[x]) continue;
    for (uint32_t i = 0; i < n; ++i) EXPECT_TRUE(Same(dst.extensions[x][i], src.extensions[x][i])) << x << "/" << i;
  }
  // The general form gives the same entries.
  AnnotationList gen(n, 0);
  ASSERT_EQ(gen.Read(r, nullptr), 1);
  for (uint32_t i = 0; i < n; ++i) EXPECT_TRUE(Same(gen.entries[i], src.entries[i]));
}

INSTANTIATE_TEST_SUITE_P(Combos, AnnotationRoundTrip,
                         ::testing::Values(RoundTripCase{0, 1}, RoundTripCase{0, 50}, RoundTripCase{kExt17, 5},
                                           RoundTripCase{kExt17 | kExt18, 9},
                                           RoundTripCase{AnnotationList::kHolterExtensions, 1},
                                           RoundTripCase{AnnotationList::kHolterExtensions, 33}));

TEST(AnnotationHolter, ListWithoutArray18StepsOverItsBlock) {
  std::vector<uint8_t> r = HandRecord(4, kMark, {17, 18, 19});
  AnnotationList dst(4, kExt17 | kExt19);
  ASSERT_EQ(dst.ReadHolter(r, nullptr), 1);
  EXPECT_EQ(dst.extensions[18], nullptr);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(Same(dst.extensions[17][i], Extension(17, i)));
    EXPECT_TRUE(Same(dst.extensions[19][i], Extension(19, i)));
  }
}

TEST(AnnotationHolter, ListWithoutAnyArrayReadsEntriesOnly) {
  std::vector<uint8_t> r = HandRecord(4, kMark, {17, 18, 19});
  AnnotationList dst(4);
  ASSERT_EQ(dst.ReadHolter(r, nullptr), 1);
  EXPECT_EQ(dst.count, 4u);
  for (uint32_t x = 0; x < 20; ++x) EXPECT_EQ(dst.extensions[x], nullptr);
}

TEST(AnnotationHolter, BlocksMissingFromRecordClearOnlyTheReadEntries) {
  // The record carries block 17 only: 18 and 19 lose their old entries
  // 0..count-1, entries beyond the count stay as they were.
  std::vector<uint8_t> r = HandRecord(3, kMark, {17});
  AnnotationList dst(5, AnnotationList::kHolterExtensions);
  for (uint32_t x = 17; x < 20; ++x) std::memset(dst.extensions[x], 0x77, 5 * sizeof(AnnotationExtension));
  ASSERT_EQ(dst.ReadHolter(r, nullptr), 1);
  AnnotationExtension zero{};
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(Same(dst.extensions[17][i], Extension(17, i)));
    EXPECT_TRUE(Same(dst.extensions[18][i], zero));
    EXPECT_TRUE(Same(dst.extensions[19][i], zero));
  }
  for (uint32_t x = 17; x < 20; ++x)
    for (uint32_t i = 3; i < 5; ++i) EXPECT_EQ(dst.extensions[x][i].bytes[0], 0x77);
}

TEST(AnnotationHolter, CutRecordReadsOnlyWholeExtensionEntries) {
  std::vector<uint8_t> r = HandRecord(3, kMark, {17, 18});
  r.resize(r.size() - 21);  // last entry of block 18 and one byte before it
  AnnotationList dst(3, AnnotationList::kHolterExtensions);
  ASSERT_EQ(dst.ReadHolter(r, nullptr), 1);
  EXPECT_TRUE(Same(dst.extensions[18][0], Extension(18, 0)));
  EXPECT_TRUE(Same(dst.extensions[18][1], AnnotationExtension{}));
  EXPECT_TRUE(Same(dst.extensions[18][2], AnnotationExtension{}));
}

// ---------------------------------------------------- cut and damaged input

struct CutCase {
  bool holter;
  uint32_t mask;
};
void PrintTo(const CutCase& c, std::ostream* os) {
  *os << (c.holter ? "Holter" : "General") << " mask " << std::hex << c.mask;
}
class AnnotationCut : public ::testing::TestWithParam<CutCase> {};

// Every length of a valid record: count is the number of whole entries
// present (up to n), the result is 1 only when all n entries were present,
// and extension entries are taken only when they lie wholly inside.
TEST_P(AnnotationCut, EveryTruncationStaysInBounds) {
  const auto [holter, mask] = GetParam();
  const uint32_t n = 4;
  std::vector<uint8_t> full = HandRecord(n, kMark, {17, 18, 19});
  for (size_t len = 0; len <= full.size(); ++len) {
    auto buf = Exact(full, len);
    AnnotationList dst(n, mask);
    std::span<const uint8_t> s(buf.get(), len);
    int32_t rc = holter ? dst.ReadHolter(s, nullptr) : dst.Read(s, nullptr);
    const size_t whole = len < 20 ? 0 : std::min<size_t>(n, (len - 20) / 8);
    ASSERT_EQ(dst.count, whole) << len;
    ASSERT_EQ(rc, len >= 20 + 8 * n ? 1 : 0) << len;
    if (!holter || rc == 0) continue;
    for (uint32_t x = 17; x < 20; ++x) {
      if (!dst.extensions[x]) continue;
      for (uint32_t i = 0; i < n; ++i) {
        size_t end = 20 + 8 * n + 20 * n * (x - 17) + 20 * (i + 1);
        ASSERT_TRUE(Same(dst.extensions[x][i], end <= len ? Extension(x, i) : AnnotationExtension{}))
            << len << " " << x << "/" << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, AnnotationCut,
                         ::testing::Values(CutCase{false, 0}, CutCase{false, AnnotationList::kHolterExtensions},
                                           CutCase{true, 0}, CutCase{true, kExt18},
                                           CutCase{true, AnnotationList::kHolterExtensions}));

TEST(AnnotationListCtor, AllocatesRequestedArraysOnly) {
  AnnotationList list(3, (1u << 2) | kExt19);
  ASSERT_NE(list.entries, nullptr);
  for (uint32_t x = 0; x < 20; ++x) EXPECT_EQ(list.extensions[x] != nullptr, x == 2 || x == 19) << x;
  EXPECT_EQ(list.GetExtension(20), nullptr);
  EXPECT_EQ(list.capacity, 3u);
  EXPECT_EQ(list.count, 0u);
}

}  // namespace
