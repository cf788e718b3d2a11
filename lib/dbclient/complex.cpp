#include "lib/dbclient/complex.h"

#include <cstring>
#include <new>

#include "lib/byte_cursor.h"

ComplexLead::ComplexLead(uint32_t code, uint32_t sampleCount)
    : leadCode(MapLeadCode(code)), samples(new int16_t[sampleCount > 0 ? sampleCount : 1]()) {}

ComplexLead::~ComplexLead() { delete[] samples; }

ComplexData::ComplexData() = default;

ComplexData::ComplexData(uint32_t n, uint32_t s) : ComplexData() {
  if (n > kMaxLeads) n = kMaxLeads;
  leadCount = n;
  sampleCount = s;
  for (uint32_t k = 0; k < n; ++k) leads[k] = new ComplexLead(0, s);
  recordLength = RequiredLength();
}

ComplexData::~ComplexData() {
  for (ComplexLead*& lead : leads) {
    delete lead;
    lead = nullptr;
  }
}

bool ComplexData::SetLead(uint32_t slot, ComplexLead* lead) {
  if (slot >= kMaxLeads) {
    delete lead;
    return false;
  }
  if (leads[slot] != lead) delete leads[slot];
  leads[slot] = lead;
  return true;
}

bool ComplexData::GrowLeads(uint32_t samples) {
  std::unique_ptr<int16_t[]> grown[kMaxLeads];
  for (uint32_t k = 0; k < kMaxLeads; ++k) {
    if (leads[k] == nullptr) continue;
    grown[k].reset(new (std::nothrow) int16_t[samples]());
    if (!grown[k]) return false;
  }
  for (uint32_t k = 0; k < kMaxLeads; ++k) {
    if (leads[k] == nullptr) continue;
    delete[] leads[k]->samples;
    leads[k]->samples = grown[k].release();
  }
  return true;
}

uint32_t ComplexData::FilledSlotCount() const {
  uint32_t filled = 0;
  for (const ComplexLead* lead : leads) filled += lead != nullptr;
  return filled;
}

uint32_t ComplexData::RequiredLength() const {
  const uint64_t bytes = uint64_t{kFixedRecordBytes} + 8ull * FilledSlotCount() +
                         2ull * leadCount * sampleCount;
  return bytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

namespace {

// Text fields go up to their first NUL and are zero-filled to full width,
// in the record and in the complex alike.
void CopyText(void* dst, const void* src, size_t width) {
  const size_t n = strnlen(static_cast<const char*>(src), width);
  std::memcpy(dst, src, n);
  std::memset(static_cast<char*>(dst) + n, 0, width - n);
}

constexpr size_t kMeasBytes = sizeof(ComplexMeasurements);
constexpr size_t kTextBytes = sizeof(ComplexText);

void PutMeasurements(ByteWriter& out, size_t at, const ComplexMeasurements& m) {
  out.U32At(at, m.m1);
  out.U32At(at + 4, m.flag != 0 ? 1 : 0);
  for (int i = 0; i < 8; ++i) out.U16At(at + 8 + 2 * i, m.m2to9[i]);
  out.U32At(at + 24, m.m10);
  for (int i = 0; i < 7; ++i) out.U16At(at + 28 + 2 * i, m.m11to17[i]);
  size_t g = at + 42;
  for (const auto& group : m.groups)
    for (uint16_t v : group) {
      out.U16At(g, v);
      g += 2;
    }
}

void GetMeasurements(const ByteReader& in, size_t at, ComplexMeasurements& m) {
  m.m1 = in.U32At(at);
  m.flag = in.U32At(at + 4) != 0 ? 1 : 0;
  for (int i = 0; i < 8; ++i) m.m2to9[i] = in.U16At(at + 8 + 2 * i);
  m.m10 = in.U32At(at + 24);
  for (int i = 0; i < 7; ++i) m.m11to17[i] = in.U16At(at + 28 + 2 * i);
  size_t g = at + 42;
  for (auto& group : m.groups)
    for (uint16_t& v : group) {
      v = in.U16At(g);
      g += 2;
    }
}

void PutText(ByteWriter& out, uint8_t* base, size_t at, const ComplexText& t) {
  out.U32At(at, t.t1);
  out.U32At(at + 4, t.t2);
  CopyText(base + at + 8, t.text, sizeof t.text);
  CopyText(base + at + 1032, t.code, sizeof t.code);
  out.U32At(at + 1036, t.t3);
  out.U32At(at + 1040, t.t4);
}

void GetText(const ByteReader& in, size_t at, ComplexText& t) {
  t.t1 = in.U32At(at);
  t.t2 = in.U32At(at + 4);
  CopyText(t.text, in.bytes().data() + at + 8, sizeof t.text);
  CopyText(t.code, in.bytes().data() + at + 1032, sizeof t.code);
  t.t3 = in.U32At(at + 1036);
  t.t4 = in.U32At(at + 1040);
}

}  // namespace

std::unique_ptr<uint8_t[]> ComplexData::Serialize(uint32_t* length) const {
  if (length != nullptr) *length = 0;
  const uint32_t L = recordLength;
  if (L == 0) return nullptr;
  // The samples of slots 0..n-1 are written back to back, so every one of
  // those slots must hold a lead, and there are only 24 slots.
  if (leadCount > kMaxLeads) return nullptr;
  for (uint32_t k = 0; k < leadCount; ++k)
    if (leads[k] == nullptr) return nullptr;
  // Everything before the samples must fit as well as the samples.
  const uint64_t fixedEnd = uint64_t{kFixedRecordBytes} + 8ull * FilledSlotCount();
  if (fixedEnd > L) return nullptr;

  std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[L]());
  if (!out) return nullptr;
  uint8_t* p = out.get();
  ByteWriter w(p, L);
  w.U32At(0, L);
  w.U16At(4, 0);
  w.U16At(6, static_cast<uint16_t>(value1));
  w.U32At(8, leadCount);
  w.U32At(12, sampleCount);
  w.U32At(16, MapCodeA(codeA));
  w.U32At(20, value5);
  w.U32At(24, MapCodeB(codeB));
  for (int i = 0; i < 9; ++i) w.U32At(28 + 4 * i, values7to15[i]);
  size_t pos = 64;
  for (uint32_t k = 0; k < kMaxLeads; ++k) {
    if (leads[k] == nullptr) continue;
    w.U32At(pos, ComplexLead::MapLeadCode(leads[k]->leadCode));
    w.U32At(pos + 4, k * sampleCount);
    pos += 8;
  }
  w.U32At(pos, 0);
  pos += 4;
  PutMeasurements(w, pos, measurements);
  pos += kMeasBytes;
  PutText(w, p, pos, textBlock);
  pos += kTextBytes;
  const uint64_t leadBytes = 2ull * sampleCount;
  for (uint32_t k = 0; k < leadCount; ++k) {
    if (pos + leadBytes > L) return nullptr;
    const int16_t* src = leads[k]->samples;
    for (uint32_t i = 0; i < sampleCount; ++i) w.U16At(pos + 2 * i, static_cast<uint16_t>(src[i]));
    pos += leadBytes;
  }
  if (length != nullptr) *length = L;
  return out;
}

// The record is laid over the lead slots that this complex already has: a
// lead entry is consumed for each filled slot. The record ends at its own
// length word L, or at the end of the section data when that comes first;
// each part (header, lead entries, zero word, measurements, text, each
// lead's samples) is read only when it lies wholly within that end, and
// reading stops at the first part that does not (false is returned). The
// complex's s before the read is the size of its lead arrays (a host makes
// them so); a record with more samples grows them only when it holds all of
// them, else s is cut to the arrays. Leads are read for slots 0..n-1 with
// n cut to 24, and a slot below n that this complex lacks is stepped over.
bool ComplexData::Read(std::span<const uint8_t> record) {
  if (record.size() < 64) return false;
  const ByteReader in(record);
  const uint32_t L = in.U32At(0);
  const size_t end = L < record.size() ? L : record.size();
  if (end < 64) return false;

  const uint32_t arraySamples = sampleCount;
  const uint32_t n = in.U32At(8);
  const uint32_t s = in.U32At(12);
  recordLength = L;
  value1 = in.I16At(6);
  leadCount = n < kMaxLeads ? n : kMaxLeads;
  const bool hasLeads = FilledSlotCount() > 0;
  sampleCount = (hasLeads && s > arraySamples) ? arraySamples : s;
  codeA = MapCodeA(in.U32At(16));
  value5 = in.U32At(20);
  codeB = MapCodeB(in.U32At(24));
  for (int i = 0; i < 9; ++i) values7to15[i] = in.U32At(28 + 4 * i);

  size_t pos = 64;
  for (uint32_t k = 0; k < kMaxLeads; ++k) {
    if (leads[k] == nullptr) continue;
    if (pos + 8 > end) return false;
    leads[k]->leadCode = ComplexLead::MapLeadCode(in.U32At(pos));
    pos += 8;
  }
  pos += 4;  // the zero word
  if (pos + kMeasBytes > end) return false;
  GetMeasurements(in, pos, measurements);
  pos += kMeasBytes;
  if (pos + kTextBytes > end) return false;
  GetText(in, pos, textBlock);
  pos += kTextBytes;

  const uint64_t leadBytes = 2ull * s;
  // The record's s holds when its samples are all there: lead arrays made
  // for fewer (a host may leave the count to the file) are replaced by ones
  // of s samples, so their size never comes from more than the record holds.
  if (hasLeads && s > arraySamples && pos + leadCount * leadBytes <= end && GrowLeads(s)) sampleCount = s;
  bool complete = n <= kMaxLeads;
  for (uint32_t k = 0; k < leadCount; ++k) {
    const uint64_t start = pos + k * leadBytes;
    if (start + leadBytes > end) return false;
    ComplexLead* lead = leads[k];
    if (lead == nullptr) {
      complete = false;
      continue;
    }
    for (uint32_t i = 0; i < sampleCount; ++i) lead->samples[i] = in.I16At(start + 2 * i);
  }
  return complete && sampleCount == s;
}
