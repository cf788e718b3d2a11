#include "reader/scpwriter.h"

#include <algorithm>
#include <cmath>

#include "reader/huffman.h"
#include "scp/crc.h"

namespace scpreader {

namespace {

struct Bytes {
  std::vector<uint8_t> b;
  void u8(uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
  void u16(uint32_t v) { u8(v), u8(v >> 8); }
  void u32(uint32_t v) { u16(v), u16(v >> 16); }
  void text(const std::string& s) { b.insert(b.end(), s.begin(), s.end()), u8(0); }
};

// Two tables that switch to each other every 50 values: short codes for
// small values in the first, an ECG-unfriendly code in the second. Their
// section is of even length, so no pad byte follows the last table.
std::vector<HuffmanTable> CustomTables() {
  // Base codes hold the first bit in bit 0.
  HuffmanTable one = {
      {2, 2, 1, 0, 0b00},           // 00
      {3, 3, 1, 1, 0b010},          // 010
      {3, 3, 1, -1, 0b110},         // 011
      {3, 3, 0, 2, 0b001},          // 100: to table 2
      {3, 11, 1, 0, 0b101},         // 101 + 8 bits
      {2, 18, 1, 0, 0b11},          // 11 + 16 bits
  };
  HuffmanTable two = {
      {1, 1, 1, 0, 0b1},            // 1
      {2, 2, 0, 1, 0b10},           // 01: to table 1
      {3, 3, 1, 1, 0b100},          // 001
      {3, 19, 1, 0, 0b000},         // 000 + 16 bits
  };
  return {one, two};
}

class BitWriter {
 public:
  void Put(uint32_t value, int bits) {  // most significant first
    for (int k = bits - 1; k >= 0; --k) Bit((value >> k) & 1);
  }
  void Code(const HuffmanCode& c) {
    for (int k = 0; k < c.prefixBits; ++k) Bit((c.baseCode >> k) & 1);
  }
  // The last byte's free bits stay zero; readers stop at the sample count.
  std::vector<uint8_t> Finish() { return std::move(bytes_); }

 private:
  void Bit(uint32_t b) {
    if (used_ == 0) bytes_.push_back(0);
    if (b) bytes_.back() |= static_cast<uint8_t>(0x80 >> used_);
    used_ = (used_ + 1) & 7;
  }
  std::vector<uint8_t> bytes_;
  int used_ = 0;
};

bool EncodeHuffman(const std::vector<HuffmanTable>& tables, const std::vector<int16_t>& v, BitWriter* w,
                   std::string* why) {
  size_t table = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    if (tables.size() > 1 && i > 0 && i % 50 == 0) {
      const size_t next = (table + 1) % tables.size();
      const auto sw = std::find_if(tables[table].begin(), tables[table].end(), [&](const HuffmanCode& c) {
        return c.mode == 0 && static_cast<size_t>(c.baseValue) == next + 1;
      });
      if (sw != tables[table].end()) {
        w->Code(*sw);
        table = next;
      }
    }
    const HuffmanCode* best = nullptr;
    for (const HuffmanCode& c : tables[table]) {
      if (c.mode == 0) continue;
      const int extra = c.totalBits - c.prefixBits;
      const bool fits = extra == 0 ? c.baseValue == v[i]
                                   : v[i] >= -(1 << (extra - 1)) && v[i] < (1 << (extra - 1));
      if (fits && (best == nullptr || c.totalBits < best->totalBits)) best = &c;
    }
    if (best == nullptr) {
      *why = "value " + std::to_string(v[i]) + " has no code";
      return false;
    }
    w->Code(*best);
    const int extra = best->totalBits - best->prefixBits;
    if (extra > 0) w->Put(static_cast<uint32_t>(v[i]) & ((1u << extra) - 1), extra);
  }
  return true;
}

std::vector<uint8_t> Encode(const WriteOptions& o, std::vector<int16_t> v, std::string* why) {
  if (o.differences == 2) {
    for (size_t i = v.size(); i-- > 2;) v[i] = static_cast<int16_t>(v[i] - 2 * v[i - 1] + v[i - 2]);
  } else if (o.differences == 1) {
    for (size_t i = v.size(); i-- > 1;) v[i] = static_cast<int16_t>(v[i] - v[i - 1]);
  }
  if (o.coding == Coding::kNone) {
    Bytes b;
    for (int16_t s : v) b.u16(static_cast<uint16_t>(s));
    return b.b;
  }
  BitWriter w;
  const std::vector<HuffmanTable> tables =
      o.coding == Coding::kDefaultTable ? std::vector<HuffmanTable>{DefaultTable()} : CustomTables();
  if (!EncodeHuffman(tables, v, &w, why)) return {};
  return w.Finish();
}

struct Zone {
  uint32_t sb, fc, se, qb, qe;
};

}  // namespace

std::vector<uint8_t> WriteRecord(const std::vector<WriteLead>& leads, const WriteOptions& o, std::string* why) {
  if (leads.empty() || leads.size() > 31) {
    *why = "1 to 31 leads";
    return {};
  }
  const size_t n = leads[0].samples.size();
  const bool zones = o.referenceBeat || o.bimodalFactor > 1;
  for (const WriteLead& l : leads)
    if (l.samples.empty() || l.start == 0 || (zones && (l.samples.size() != n || l.start != 1))) {
      *why = "leads need samples; with QRS zones all start at 1 and have the same length";
      return {};
    }
  std::vector<Zone> qrs;
  for (uint32_t fc : o.qrs) {
    Zone z{fc - std::min(fc - 1, o.zoneBefore), fc, std::min<uint32_t>(static_cast<uint32_t>(n), fc + o.zoneAfter),
           fc - std::min(fc - 1, o.protectBefore), std::min<uint32_t>(static_cast<uint32_t>(n), fc + o.protectAfter)};
    if (!qrs.empty() && (z.sb <= qrs.back().se || z.qb <= qrs.back().qe)) {
      *why = "QRS zones overlap";
      return {};
    }
    qrs.push_back(z);
  }
  if (zones && qrs.empty()) {
    *why = "reference beats and bimodal compression need QRS locations";
    return {};
  }

  // Reference beat: the mean of the type 0 beats over the longest zone,
  // aligned on the fiducial points.
  const uint32_t fcm = o.zoneBefore + 1, beatLength = o.zoneBefore + o.zoneAfter + 1;
  std::vector<std::vector<int16_t>> beats(leads.size()), residual(leads.size());
  for (size_t l = 0; l < leads.size(); ++l) {
    std::vector<int32_t> r(leads[l].samples.begin(), leads[l].samples.end());
    if (o.referenceBeat) {
      std::vector<int64_t> sum(beatLength, 0);
      std::vector<int> count(beatLength, 0);
      for (const Zone& z : qrs)
        for (uint32_t k = z.sb; k <= z.se; ++k) {
          const size_t j = k + fcm - 1 - z.fc;
          if (j < beatLength) sum[j] += leads[l].samples[k - 1], ++count[j];
        }
      beats[l].resize(beatLength);
      for (uint32_t j = 0; j < beatLength; ++j)
        beats[l][j] = static_cast<int16_t>(count[j] ? std::lround(static_cast<double>(sum[j]) / count[j]) : 0);
      for (const Zone& z : qrs)
        for (uint32_t k = z.sb; k <= z.se; ++k) r[k - 1] -= beats[l][k + fcm - 1 - z.fc];
    }
    if (o.bimodalFactor > 1) {
      // Outside the protected zones: block means, and a short last block
      // sample by sample.
      std::vector<int32_t> d;
      auto squeeze = [&](uint32_t a, uint32_t b) {
        if (b < a) return;
        const uint32_t num = b - a + 1, blocks = num / o.bimodalFactor;
        for (uint32_t k = 0; k < blocks; ++k) {
          int64_t s = 0;
          for (uint32_t j = 0; j < o.bimodalFactor; ++j) s += r[a - 1 + k * o.bimodalFactor + j];
          d.push_back(static_cast<int32_t>(std::lround(static_cast<double>(s) / o.bimodalFactor)));
        }
        for (uint32_t k = a + blocks * o.bimodalFactor; k <= b; ++k) d.push_back(r[k - 1]);
      };
      uint32_t a = 1;
      for (const Zone& z : qrs) {
        squeeze(a, z.qb - 1);
        for (uint32_t k = z.qb; k <= z.qe; ++k) d.push_back(r[k - 1]);
        a = z.qe + 1;
      }
      squeeze(a, static_cast<uint32_t>(n));
      r = std::move(d);
    }
    residual[l].resize(r.size());
    for (size_t k = 0; k < r.size(); ++k) residual[l][k] = static_cast<int16_t>(r[k]);
  }

  // Sections, each as its data; headers come last.
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> sections;
  {
    Bytes s;
    auto tag = [&](uint8_t t, const std::vector<uint8_t>& v) {
      s.u8(t), s.u16(static_cast<uint32_t>(v.size()));
      s.b.insert(s.b.end(), v.begin(), v.end());
    };
    auto str = [](const std::string& t) {
      std::vector<uint8_t> v(t.begin(), t.end());
      v.push_back(0);
      return v;
    };
    tag(0, str(o.lastName));
    tag(1, str(o.firstName));
    tag(2, str(o.patientId));
    std::vector<uint8_t> device(36, 0);
    const std::string model = "SCPW";
    std::copy(model.begin(), model.end(), device.begin() + 8);
    device[7] = 255;  // manufacturer: see the strings
    device[14] = o.version;
    device[15] = 0xA0;  // compatibility level II
    for (const char* t : {"", "", "", "", "scpreader"}) {
      const std::string x = t;
      device.insert(device.end(), x.begin(), x.end());
      device.push_back(0);
    }
    tag(14, device);
    tag(25, {0xEA, 0x07, 5, 14});  // 2026-05-14
    tag(26, {10, 20, 30});
    s.u8(255), s.u16(0);
    sections.push_back({1, s.b});
  }
  if (o.coding != Coding::kNone) {
    Bytes s;
    if (o.coding == Coding::kDefaultTable) {
      s.u16(kDefaultTableMarker);
    } else {
      const std::vector<HuffmanTable> tables = CustomTables();
      s.u16(static_cast<uint32_t>(tables.size()));
      for (const HuffmanTable& t : tables) {
        s.u16(static_cast<uint32_t>(t.size()));
        for (const HuffmanCode& c : t) {
          const bool other = o.tablesLengthFirst;
          s.u8(other ? c.totalBits : c.prefixBits), s.u8(other ? c.prefixBits : c.totalBits), s.u8(c.mode);
          s.u16(static_cast<uint16_t>(c.baseValue - (other && c.mode == 0 ? 1 : 0))), s.u32(c.baseCode);
        }
      }
    }
    sections.push_back({2, s.b});
  }
  {
    Bytes s;
    const uint32_t count = static_cast<uint32_t>(leads.size());
    s.u8(count), s.u8((count << 3 | 4 | (o.referenceBeat ? 1 : 0)) & 0xFF);
    for (const WriteLead& l : leads)
      s.u32(l.start), s.u32(l.start + static_cast<uint32_t>(l.samples.size()) - 1), s.u8(l.id);
    sections.push_back({3, s.b});
  }
  if (zones) {
    Bytes s;
    s.u16(o.referenceBeat ? beatLength * o.intervalUs / 1000 : 0), s.u16(fcm), s.u16(static_cast<uint32_t>(qrs.size()));
    for (const Zone& z : qrs) s.u16(0), s.u32(z.sb), s.u32(z.fc), s.u32(z.se);
    if (o.version != 10 && o.version != 11)  // 1.0 and 1.1 have no protected zones
      for (const Zone& z : qrs) s.u32(z.qb), s.u32(z.qe);
    sections.push_back({4, s.b});
  }
  auto leadBlock = [&](Bytes& s, const std::vector<std::vector<int16_t>>& data) -> bool {
    std::vector<std::vector<uint8_t>> coded;
    for (const std::vector<int16_t>& v : data) {
      coded.push_back(Encode(o, v, why));
      if (coded.back().empty() || coded.back().size() > 0xFFFF) {
        if (why->empty()) *why = "a lead codes to more than 65535 bytes";
        return false;
      }
    }
    for (const std::vector<uint8_t>& c : coded) s.u16(static_cast<uint32_t>(c.size()));
    for (const std::vector<uint8_t>& c : coded) s.b.insert(s.b.end(), c.begin(), c.end());
    return true;
  };
  if (o.referenceBeat || o.bimodalFactor > 1) {
    Bytes s;
    s.u16(o.amplitudeNanovolts), s.u16(o.intervalUs), s.u8(o.differences), s.u8(0);
    std::vector<std::vector<int16_t>> data = beats;
    if (!o.referenceBeat) data.assign(leads.size(), std::vector<int16_t>(beatLength, 0));
    if (!leadBlock(s, data)) return {};
    sections.push_back({5, s.b});
  }
  {
    Bytes s;
    s.u16(o.amplitudeNanovolts), s.u16(o.intervalUs * o.bimodalFactor), s.u8(o.differences);
    s.u8(o.bimodalFactor > 1 ? 1 : 0);
    if (!leadBlock(s, residual)) return {};
    sections.push_back({6, s.b});
  }

  // Section 0 lists sections 0 to 11; then the record.
  const size_t pointers = 16 + 12 * 10;
  std::vector<uint32_t> length(12, 0), index(12, 0);
  length[0] = pointers;
  index[0] = 7;
  size_t at = 6 + pointers;
  for (auto& [id, data] : sections) {
    if (data.size() % 2) data.push_back(0);
    length[id] = static_cast<uint32_t>(16 + data.size());
    index[id] = static_cast<uint32_t>(at + 1);
    at += length[id];
  }
  Bytes rec;
  rec.u16(0), rec.u32(static_cast<uint32_t>(at));
  auto header = [&](uint16_t id, uint32_t len, const char* reserved) {
    rec.u16(0), rec.u16(id), rec.u32(len), rec.u8(o.version), rec.u8(o.version);
    for (int k = 0; k < 6; ++k) rec.u8(static_cast<uint8_t>(reserved[k]));
  };
  std::vector<size_t> starts;
  starts.push_back(rec.b.size());
  header(0, length[0], "SCPECG");
  for (uint16_t id = 0; id < 12; ++id) rec.u16(id), rec.u32(length[id]), rec.u32(index[id]);
  for (auto& [id, data] : sections) {
    starts.push_back(rec.b.size());
    header(id, length[id], "\0\0\0\0\0\0");
    rec.b.insert(rec.b.end(), data.begin(), data.end());
  }
  for (size_t st : starts) {
    const uint32_t len = rec.b[st + 4] | rec.b[st + 5] << 8 | rec.b[st + 6] << 16 | static_cast<uint32_t>(rec.b[st + 7]) << 24;
    const uint16_t crc = scpcrc::Continue(0xFFFF, &rec.b[st + 2], len - 2);
    rec.b[st] = static_cast<uint8_t>(crc), rec.b[st + 1] = static_cast<uint8_t>(crc >> 8);
  }
  const uint16_t crc = scpcrc::Continue(0xFFFF, &rec.b[2], rec.b.size() - 2);
  rec.b[0] = static_cast<uint8_t>(crc), rec.b[1] = static_cast<uint8_t>(crc >> 8);
  return rec.b;
}

}  // namespace scpreader
