#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "lib/bytes.h"
#include "lib/dbclient/document.h"
#include "lib/dbclient/holtercfg.h"

namespace {

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// An exact-size heap copy of the first n bytes, so that the address
// sanitizer sees a read past the end.
std::unique_ptr<uint8_t[]> Exact(const uint8_t* src, size_t n) {
  std::unique_ptr<uint8_t[]> out(new uint8_t[n > 0 ? n : 1]);
  if (n > 0) std::memcpy(out.get(), src, n);
  return out;
}

// ------------------------------------------------------------- documents

TEST(DocumentBuffer, SerializesLengthThenBytes) {
  DocumentBuffer doc(2000);
  const auto bytes = Pattern(1000, 1);
  ASSERT_TRUE(doc.SetContent(bytes));
  uint32_t size = 0;
  auto out = doc.Serialize(&size);
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(1004u, size);
  EXPECT_EQ(1000u, LoadU32(out.get()));
  EXPECT_EQ(bytes, std::vector<uint8_t>(out.get() + 4, out.get() + 1004));
}

TEST(DocumentBuffer, EmptyDocumentSerializesToNothing) {
  DocumentBuffer doc(10);
  uint32_t size = 7;
  EXPECT_EQ(nullptr, doc.Serialize(&size));
  EXPECT_EQ(0u, size);
  DocumentBuffer none(0);
  EXPECT_EQ(nullptr, none.Serialize(&size));
}

struct DocReadCase {
  uint32_t capacity;
  uint32_t count;
  size_t available;  // bytes in the section from the document's start
  bool accepted;
};

class DocumentReadTest : public ::testing::TestWithParam<DocReadCase> {};

TEST_P(DocumentReadTest, CopiesOnlyWhatFits) {
  const DocReadCase& c = GetParam();
  const auto bytes = Pattern(c.available, 2);
  auto exact = Exact(bytes.data(), bytes.size());
  DocumentBuffer doc(c.capacity);
  const auto old = Pattern(c.capacity, 3);
  ASSERT_TRUE(doc.SetContent(old));
  EXPECT_EQ(c.accepted, doc.Read({exact.get(), bytes.size()}, c.count));
  if (c.accepted) {
    EXPECT_EQ(c.count, doc.GetLength());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + c.count, doc.GetData()));
  } else {
    EXPECT_EQ(0u, doc.GetLength());
    // Nothing was copied over the old bytes.
    EXPECT_EQ(0, std::memcmp(old.data(), doc.GetData(), c.capacity));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DocumentReadTest,
    ::testing::Values(DocReadCase{1000, 1000, 1004, true},   // the diary of 1000 bytes
                      DocReadCase{999, 1000, 1004, false},   // one byte too small
                      DocReadCase{1000, 999, 1000, true}, DocReadCase{1000, 0, 0, true},
                      DocReadCase{5000, 1000, 999, false},   // section holds fewer bytes
                      DocReadCase{5000, 1000, 1000, true}, DocReadCase{10, 11, 100, false}));

TEST(DocumentBuffer, SerializeThenReadRestoresTheDocument) {
  for (uint32_t n : {1u, 2u, 3u, 1000u, 65537u}) {
    DocumentBuffer source(n);
    const auto bytes = Pattern(n, n);
    ASSERT_TRUE(source.SetContent(bytes));
    uint32_t size = 0;
    auto out = source.Serialize(&size);
    ASSERT_NE(nullptr, out);
    DocumentBuffer target(n);
    ASSERT_TRUE(target.Read({out.get() + 4, size - 4}, LoadU32(out.get())));
    EXPECT_EQ(bytes, std::vector<uint8_t>(target.GetData(), target.GetData() + target.GetLength()));
  }
}

// ------------------------------------------------------ Holter config

void FillRandom(HolterConfig& cfg, std::mt19937& rng) {
  std::uniform_int_distribution<uint32_t> w;
  cfg.sizeWord = 696 + w(rng) % 8;
  for (uint32_t& v : cfg.block1->values) v = w(rng);
  for (HolterCodedEntry* e : cfg.block1->entries) {
    e->code = 1 + w(rng) % 13;
    e->value = w(rng);
  }
  for (uint8_t& f : cfg.block2->flags) f = w(rng) % 2;
  for (uint32_t& v : cfg.block2->values) v = w(rng);
  for (uint32_t& v : cfg.block2->extra) v = w(rng);
  for (uint32_t& v : cfg.block3->values) v = w(rng);
  cfg.block3->value68 = w(rng);
  cfg.block3->flags = w(rng) & HolterBlock3::kStoredFlagBits;
  cfg.block4->value = w(rng);
  for (HolterFlaggedEntry* e : cfg.block4->entries) {
    e->flag = w(rng) % 2;
    for (uint32_t& v : e->values) v = w(rng);
  }
  for (uint32_t& v : cfg.block5->values) v = w(rng);
  for (uint32_t& v : cfg.block6->values) v = w(rng);
  cfg.closingFlag = w(rng) % 2;
}

// Every stored field of the configuration, in payload order.
std::vector<uint32_t> Fields(const HolterConfig& c) {
  std::vector<uint32_t> f{c.sizeWord, c.version};
  f.insert(f.end(), std::begin(c.block1->values), std::end(c.block1->values));
  for (const HolterCodedEntry* e : c.block1->entries) f.insert(f.end(), {e->code, e->value});
  f.insert(f.end(), std::begin(c.block2->flags), std::end(c.block2->flags));
  f.insert(f.end(), std::begin(c.block2->values), std::end(c.block2->values));
  f.insert(f.end(), std::begin(c.block2->extra), std::end(c.block2->extra));
  f.insert(f.end(), std::begin(c.block3->values), std::end(c.block3->values));
  f.insert(f.end(), {c.block3->value68, c.block3->flags, c.block4->value});
  for (const HolterFlaggedEntry* e : c.block4->entries) {
    f.push_back(e->flag);
    f.insert(f.end(), std::begin(e->values), std::end(e->values));
  }
  f.insert(f.end(), std::begin(c.block5->values), std::end(c.block5->values));
  f.insert(f.end(), std::begin(c.block6->values), std::end(c.block6->values));
  f.push_back(c.closingFlag);
  return f;
}

TEST(HolterConfig, DefaultSerializesTo700Bytes) {
  HolterConfig cfg;
  uint32_t length = 0;
  auto out = cfg.Serialize(&length);
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(700u, length);
  EXPECT_EQ(696u, LoadU32(out.get()));
  EXPECT_EQ(13u, LoadU32(out.get() + 4));
}

// The size word is written back as held, whatever it is; only the payload
// is allocated.
TEST(HolterConfig, SizeWordIsWrittenAsHeldAndSizesNothing) {
  for (uint32_t sizeWord : {695u, 1000u, 0xFFFFFFFFu}) {
    HolterConfig cfg;
    cfg.sizeWord = sizeWord;
    cfg.closingFlag = 1;
    uint32_t length = 0;
    auto out = cfg.Serialize(&length);
    ASSERT_NE(nullptr, out) << sizeWord;
    EXPECT_EQ(700u, length);
    EXPECT_EQ(sizeWord, LoadU32(out.get()));
    EXPECT_EQ(1u, LoadU32(out.get() + 692));
    EXPECT_EQ(0u, LoadU32(out.get() + 696));
  }
}

TEST(HolterConfig, WritesBlocksAtTheirOffsets) {
  HolterConfig cfg;
  cfg.version = 13;
  cfg.block1->values[0] = 0x11;
  cfg.block1->values[2] = 0x13;
  cfg.block1->entries[0]->code = 13;
  cfg.block1->entries[0]->value = 0xE0;
  cfg.block1->entries[7]->code = 14;  // out of range: 0
  cfg.block1->entries[7]->value = 0xE7;
  cfg.block2->flags[0] = 7;  // written as 1
  cfg.block2->flags[4] = 1;
  cfg.block2->values[0] = 0x21;
  cfg.block2->extra[1] = 0x22;
  cfg.block3->values[0] = 0x31;
  cfg.block3->values[16] = 0x32;
  cfg.block3->value68 = 0x33;
  cfg.block3->flags = 0xFFFFFFFF;  // bits 25..31 are not stored
  cfg.block4->value = 0x41;
  cfg.block4->entries[0]->flag = 9;
  cfg.block4->entries[0]->values[0] = 0x42;
  cfg.block4->entries[24]->values[2] = 0x43;
  cfg.block5->values[0] = 0x51;
  cfg.block5->values[3] = 0x52;
  cfg.block6->values[0] = 0x61;
  cfg.block6->values[17] = 0x62;
  cfg.closingFlag = 5;
  uint32_t length = 0;
  auto out = cfg.Serialize(&length);
  ASSERT_NE(nullptr, out);
  const uint8_t* p = out.get();
  EXPECT_EQ(0x11u, LoadU32(p + 8));
  EXPECT_EQ(0x13u, LoadU32(p + 16));
  EXPECT_EQ(13u, LoadU32(p + 20));
  EXPECT_EQ(0xE0u, LoadU32(p + 24));
  EXPECT_EQ(0u, LoadU32(p + 76));
  EXPECT_EQ(0xE7u, LoadU32(p + 80));
  const uint8_t flags[8] = {1, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(flags, p + 84, 8));
  EXPECT_EQ(0x21u, LoadU32(p + 92));
  EXPECT_EQ(0x22u, LoadU32(p + 116));
  EXPECT_EQ(0x31u, LoadU32(p + 120));
  EXPECT_EQ(0x32u, LoadU32(p + 184));
  EXPECT_EQ(0x33u, LoadU32(p + 188));
  EXPECT_EQ(0x01FFFFFFu, LoadU32(p + 192));
  EXPECT_EQ(0x41u, LoadU32(p + 196));
  EXPECT_EQ(0x00000001u, LoadU32(p + 200));  // flag byte and three zero bytes
  EXPECT_EQ(0x42u, LoadU32(p + 204));
  EXPECT_EQ(0x43u, LoadU32(p + 196 + 4 + 24 * 16 + 12));
  EXPECT_EQ(0x51u, LoadU32(p + 600));
  EXPECT_EQ(0x52u, LoadU32(p + 612));
  EXPECT_EQ(0u, LoadU32(p + 616));
  EXPECT_EQ(0x61u, LoadU32(p + 620));
  EXPECT_EQ(0x62u, LoadU32(p + 688));
  EXPECT_EQ(1u, LoadU32(p + 692));
  EXPECT_EQ(0u, LoadU32(p + 696));
}

TEST(HolterConfig, RoundTripsRandomConfigurations) {
  std::mt19937 rng(5);
  for (int round = 0; round < 50; ++round) {
    HolterConfig source;
    FillRandom(source, rng);
    uint32_t length = 0;
    auto out = source.Serialize(&length);
    ASSERT_NE(nullptr, out);
    HolterConfig target;
    target.version = 99;
    EXPECT_TRUE(target.Read({out.get(), length}, length));
    EXPECT_EQ(Fields(source), Fields(target));
    uint32_t length2 = 0;
    auto again = target.Serialize(&length2);
    ASSERT_EQ(length, length2);
    EXPECT_EQ(0, std::memcmp(out.get(), again.get(), length));
  }
}

TEST(HolterConfig, ReadKeepsHighFlagBitsAndNormalizesFlags) {
  HolterConfig source;
  source.block3->flags = 0x00ABCDEF;
  uint32_t length = 0;
  auto out = source.Serialize(&length);
  out[84 + 2] = 200;            // block 2 flag 2
  out[196 + 4 + 16 * 3] = 77;   // block 4 entry 3 flag
  out[692] = 3;                 // closing flag
  StoreU32(out.get() + 20, 99);  // block 1 entry 0 code out of range
  HolterConfig target;
  target.block3->flags = 0xFE000000 | 0x123;
  target.Read({out.get(), length}, length);
  EXPECT_EQ(0xFE000000u | 0x00ABCDEF, target.block3->flags);
  EXPECT_EQ(1, target.block2->flags[2]);
  EXPECT_EQ(1, target.block4->entries[3]->flag);
  EXPECT_EQ(1u, target.closingFlag);
  EXPECT_EQ(0u, target.block1->entries[0]->code);
  out[692] = 0;
  target.Read({out.get(), length}, length);
  EXPECT_EQ(0u, target.closingFlag);
}

TEST(HolterConfig, Version12HasShorterBlock3) {
  std::mt19937 rng(9);
  HolterConfig source;
  FillRandom(source, rng);
  uint32_t length = 0;
  auto v13 = source.Serialize(&length);
  ASSERT_EQ(700u, length);
  // Remove block 3's word at 68: every later block starts 4 bytes earlier.
  std::vector<uint8_t> v12(v13.get(), v13.get() + 120 + 68);
  v12.insert(v12.end(), v13.get() + 120 + 72, v13.get() + 700);
  ASSERT_EQ(696u, v12.size());
  StoreU32(v12.data() + 4, 12);
  EXPECT_EQ(LoadU32(v13.get() + 196), LoadU32(v12.data() + 192));  // block 4
  EXPECT_EQ(LoadU32(v13.get() + 600), LoadU32(v12.data() + 596));  // block 5
  auto exact = Exact(v12.data(), v12.size());
  HolterConfig target;
  target.block3->value68 = 0xDEAD;
  EXPECT_TRUE(target.Read({exact.get(), v12.size()}, static_cast<uint32_t>(v12.size())));
  EXPECT_EQ(13u, target.version);
  EXPECT_EQ(0u, target.block3->value68);
  source.block3->value68 = 0;
  EXPECT_EQ(Fields(source), Fields(target));
}

// Block 1 reads its entries only when its three values end within the payload.
TEST(HolterConfig, Block1EntriesNeedTheirValuesWithinThePayload) {
  HolterConfig source;
  for (HolterCodedEntry* e : source.block1->entries) e->code = 5;
  source.block1->values[2] = 0x77;
  uint32_t length = 0;
  auto out = source.Serialize(&length);
  {
    HolterConfig target;
    target.Read({out.get(), length}, 19);
    EXPECT_EQ(0x77u, target.block1->values[2]);  // within the section data
    EXPECT_EQ(0u, target.block1->entries[0]->code);
  }
  {
    HolterConfig target;
    target.Read({out.get(), length}, 20);
    EXPECT_EQ(5u, target.block1->entries[7]->code);
  }
}

// A payload length shorter than the section: each block after the payload's
// end starts at the payload's end, and the reader stays within the section.
TEST(HolterConfig, BlocksBehindAShortPayloadStartAtItsEnd) {
  std::vector<uint8_t> data(700);
  for (size_t i = 0; i < data.size(); i += 4) StoreU32(data.data() + i, static_cast<uint32_t>(i));
  StoreU32(data.data() + 4, 13);
  HolterConfig target;
  target.Read(data, 100);
  EXPECT_EQ(84u, target.block2->values[0] - 8);  // block 2 still at 84
  EXPECT_EQ(100u, target.block3->values[0]);     // block 3 from 100
  EXPECT_EQ(100u, target.block4->value);
  EXPECT_EQ(100u, target.block5->values[0]);
  EXPECT_EQ(104u, target.block6->values[0]);  // behind block 6's zero word
  EXPECT_EQ(1u, target.closingFlag);          // byte at 100 is 100
}

// Data cut anywhere: fields wholly within the data are read, the rest keep
// their old values, and nothing is read past the data.
TEST(HolterConfig, EveryTruncationReadsOnlyWhatIsThere) {
  std::mt19937 rng(21);
  HolterConfig source;
  FillRandom(source, rng);
  source.closingFlag = 1;
  uint32_t length = 0;
  auto out = source.Serialize(&length);
  ASSERT_NE(nullptr, out);
  HolterConfig sentinel;
  FillRandom(sentinel, rng);
  sentinel.closingFlag = 1;
  const auto full = Fields(source);
  const auto old = Fields(sentinel);
  // Payload offset of each entry of Fields(), with its width.
  std::vector<std::pair<size_t, size_t>> where{{0, 4}, {4, 4}};
  for (int i = 0; i < 3; ++i) where.push_back({8 + 4 * i, 4});
  for (int i = 0; i < 8; ++i) {
    where.push_back({20 + 8 * i, 8});
    where.push_back({20 + 8 * i, 8});
  }
  for (int i = 0; i < 5; ++i) where.push_back({84 + i, 1});
  for (int i = 0; i < 7; ++i) where.push_back({92 + 4 * i, 4});
  for (int i = 0; i < 19; ++i) where.push_back({120 + 4 * i, 4});
  where.push_back({196, 4});
  for (int i = 0; i < 25; ++i)
    for (int j = 0; j < 4; ++j) where.push_back({200 + 16 * i, 16});
  for (int i = 0; i < 4; ++i) where.push_back({600 + 4 * i, 4});
  for (int i = 0; i < 18; ++i) where.push_back({620 + 4 * i, 4});
  where.push_back({692, 1});
  ASSERT_EQ(full.size(), where.size());

  for (uint32_t cut = 0; cut <= length; ++cut) {
    auto exact = Exact(out.get(), cut);
    HolterConfig target;
    FillRandom(target, rng);
    // Start from the sentinel values.
    uint32_t sl = 0;
    auto s = sentinel.Serialize(&sl);
    target.Read({s.get(), sl}, sl);
    ASSERT_EQ(old, Fields(target));
    EXPECT_TRUE(target.Read({exact.get(), cut}, length));
    const auto got = Fields(target);
    for (size_t i = 0; i < where.size(); ++i) {
      if (i == 1) {
        EXPECT_EQ(13u, got[i]);
        continue;
      }
      const bool inside = where[i].first + where[i].second <= cut;
      if (i == where.size() - 1) {
        EXPECT_EQ(inside ? 1u : 0u, got[i]) << cut;  // the flag reads clear past the data
        continue;
      }
      ASSERT_EQ(inside ? full[i] : old[i], got[i]) << "cut " << cut << " field " << i;
    }
  }
}

}  // namespace
