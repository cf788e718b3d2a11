#include "reader/scpreader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <fstream>
#include <iterator>
#include <numeric>
#include <optional>

#include "lib/byte_cursor.h"
#include "reader/huffman.h"
#include "reader/record_parts.h"
#include "scp/crc.h"

namespace scpreader {

namespace {

constexpr size_t kRecordHeaderBytes = 6;
constexpr size_t kSectionHeaderBytes = 16;
// A record's own length field is 32-bit; a lead never holds more samples
// than its coded bytes can describe (one bit per sample at best).
constexpr size_t kBitsPerByte = 8;
constexpr uint32_t kMaxDecimation = 64;

uint16_t Crc16(std::span<const uint8_t> data) { return scpcrc::Continue(0xFFFF, data.data(), data.size()); }

const char* SectionWhat(uint16_t id) {
  switch (id) {
    case 0: return "pointers to the sections";
    case 1: return "patient data and ECG acquisition data";
    case 2: return "Huffman tables";
    case 3: return "ECG lead definition";
    case 4: return "QRS locations";
    case 5: return "reference beats";
    case 6: return "rhythm data";
    case 7: return "global measurements";
    case 8: return "interpretive statements";
    case 9: return "manufacturer-specific diagnostic and overreading data";
    case 10: return "lead measurements";
    case 11: return "universal statement codes";
    case 12: return "long-term rhythm data";
    default: return id >= 128 ? "manufacturer specific" : "reserved";
  }
}

struct LeadEntry {
  uint32_t start = 0, end = 0;
  uint8_t id = 0;
  // Samples the entry spans. Sample numbers are 1-based; our plug-in
  // writes a start of 0 with the end at the count, so 0 counts as 1.
  uint32_t count() const {
    const uint32_t first = std::max<uint32_t>(start, 1);
    return end >= first ? end - first + 1 : 0;
  }
};

struct QrsEntry {
  uint16_t type = 0;
  uint32_t sb = 0, fc = 0, se = 0;  // subtraction zone and fiducial, 1-based
  uint32_t qb = 0, qe = 0;          // protected zone, 1-based
};

class RecordReader {
 public:
  explicit RecordReader(std::span<const uint8_t> file) : file_(file) {}

  Record Run() {
    if (!ReadPointers()) return std::move(r_);
    ReadDemographics();
    const bool haveLeads = ReadLeadDefinition();
    if (haveLeads) {
      ReadTables();
      ReadQrsLocations();
      ReadRhythm();
      DeriveLimbLeads(&r_.leads);
    }
    return std::move(r_);
  }

 private:
  void Problem(uint16_t section, int lead, std::string reason) {
    r_.problems.push_back({section, lead, std::move(reason)});
  }

  bool ReadPointers() {
    ByteReader c(file_);
    const uint16_t crc = c.U16();
    r_.recordLength = c.U32();
    if (c.failed() || file_.size() < kRecordHeaderBytes + kSectionHeaderBytes) {
      Problem(0, -1, "not an SCP-ECG record: " + std::to_string(file_.size()) + " bytes");
      return false;
    }
    if (r_.recordLength >= 2 && r_.recordLength <= file_.size())
      r_.recordCrcOk = Crc16(file_.subspan(2, r_.recordLength - 2)) == crc;
    // Section 0 starts right after the record header.
    c.Skip(2);  // its CRC, checked with the others below
    const uint16_t id0 = c.U16();
    const uint32_t len0 = c.U32();
    if (id0 != 0 || len0 < kSectionHeaderBytes || len0 > file_.size() - kRecordHeaderBytes) {
      Problem(0, -1, "not an SCP-ECG record: no section 0 after the record header");
      return false;
    }
    r_.protocolVersion = file_[kRecordHeaderBytes + 9];
    ByteReader p(file_.subspan(kRecordHeaderBytes, len0), PastEnd::kFail, kSectionHeaderBytes);
    while (p.remaining() >= 10) {
      SectionSummary s;
      s.id = p.U16();
      s.length = p.U32();
      s.index = p.U32();
      s.present = s.length > 0;
      s.what = SectionWhat(s.id);
      r_.sections.push_back(std::move(s));
    }
    located_.resize(r_.sections.size());
    CheckSections();
    return true;
  }

  // Where a listed section really is: at its 1-based index, or at the index
  // taken from 0 as some producers write it; as long as its own header says
  // when that fits the file, else as the pointer table says.
  struct Located {
    size_t offset = 0, length = 0;
    bool found = false, crcOk = false, usable = false;
  };

  Located Locate(const SectionSummary& s) const {
    Located l;
    for (uint64_t offset : {uint64_t{s.index} - 1, uint64_t{s.index}}) {
      if (s.index == 0 || offset + kSectionHeaderBytes > file_.size()) continue;
      ByteReader h(file_.subspan(static_cast<size_t>(offset)));
      const uint16_t crc = h.U16();
      const uint16_t id = h.U16();
      const uint32_t length = h.U32();
      if (id != s.id) continue;
      const uint64_t room = file_.size() - offset;
      const uint64_t len = length >= kSectionHeaderBytes && length <= room ? length : s.length;
      if (len < kSectionHeaderBytes || len > room) continue;
      l.offset = static_cast<size_t>(offset);
      l.length = static_cast<size_t>(len);
      l.found = true;
      l.crcOk = Crc16(file_.subspan(l.offset + 2, l.length - 2)) == crc;
      return l;
    }
    return l;
  }

  // Checks every listed section. One whose CRC is wrong is not interpreted,
  // unless no section's CRC matches: then the producer computes it some
  // other way, and the record is read with that said.
  void CheckSections() {
    size_t found = 0, bad = 0;
    for (size_t i = 0; i < r_.sections.size(); ++i) {
      SectionSummary& s = r_.sections[i];
      Located& l = located_[i];
      if (!s.present) continue;
      l = Locate(s);
      if (!l.found) {
        Problem(s.id, -1, "no section " + std::to_string(s.id) + " where the pointer table puts it (byte " +
                              std::to_string(s.index) + ")");
        continue;
      }
      ++found;
      s.crcOk = l.crcOk;
      l.usable = l.crcOk;
      if (!l.crcOk) ++bad;
    }
    const bool allBad = found >= 2 && bad == found;
    if (allBad) Problem(0, -1, "no section's CRC matches its data; every section is read all the same");
    for (size_t i = 0; i < r_.sections.size(); ++i) {
      Located& l = located_[i];
      if (!l.found || l.crcOk) continue;
      if (allBad) {
        l.usable = true;
      } else if (r_.sections[i].id == 0) {
        l.usable = true;  // the pointer table was needed to get this far
        Problem(0, -1, "CRC is wrong; the pointer table is used all the same");
      } else {
        Problem(r_.sections[i].id, -1, "CRC is wrong; not interpreted");
      }
    }
  }

  // The data of a sound section (after its ID header), or nothing.
  std::optional<std::span<const uint8_t>> Data(uint16_t id, uint8_t* protocol = nullptr) const {
    for (size_t i = 0; i < r_.sections.size(); ++i) {
      if (r_.sections[i].id != id || !r_.sections[i].present) continue;
      const Located& l = located_[i];
      if (!l.usable) return std::nullopt;
      std::span<const uint8_t> bytes = file_.subspan(l.offset, l.length);
      if (protocol != nullptr) *protocol = bytes[9];
      return bytes.subspan(kSectionHeaderBytes);
    }
    return std::nullopt;
  }

  void ReadDemographics() {
    if (auto data = Data(1)) scpreader::ReadDemographics(*data, &r_);
  }

  bool ReadLeadDefinition() {
    auto data = Data(3);
    if (!data) {
      if (Unexplained(3)) Problem(3, -1, "cannot be read: no leads");
      else if (!HasSection(3) && HasSection(6)) Problem(3, -1, "absent: the rhythm data cannot be assigned to leads");
      return false;
    }
    ByteReader c(*data);
    const uint8_t n = c.U8();
    const uint8_t flags = c.U8();
    referenceBeat_ = flags & 1;
    for (uint8_t i = 0; i < n; ++i) {
      if (c.remaining() < 9) {
        Problem(3, -1, "lists " + std::to_string(n) + " leads but holds " + std::to_string(i));
        break;
      }
      LeadEntry e;
      e.start = c.U32();
      e.end = c.U32();
      e.id = c.U8();
      entries_.push_back(e);
      Lead l;
      l.id = e.id;
      l.name = LeadName(e.id);
      l.startSample = e.start;
      l.endSample = e.end;
      r_.leads.push_back(std::move(l));
    }
    if (entries_.empty()) Problem(3, -1, "lists no leads");
    return !entries_.empty();
  }

  // Listed with data, and not already named as a problem.
  bool Unexplained(uint16_t id) const {
    return HasSection(id) && std::none_of(r_.problems.begin(), r_.problems.end(),
                                          [&](const scpreader::Problem& p) { return p.section == id; });
  }

  bool HasSection(uint16_t id) const {
    return std::any_of(r_.sections.begin(), r_.sections.end(),
                       [&](const SectionSummary& s) { return s.id == id && s.present; });
  }

  void ReadTables() {
    auto data = Data(2);
    if (!data) {
      if (HasSection(2)) {
        if (Unexplained(2)) Problem(2, -1, "cannot be read; no samples decoded");
        tablesBad_ = true;
      }
      return;  // no Huffman coding
    }
    ByteReader c(*data);
    const uint16_t count = c.U16();
    std::vector<HuffmanTable> tables;
    std::string why;
    if (count == kDefaultTableMarker) {
      tables.push_back(DefaultTable());
    } else {
      // Each table needs at least its 2-byte size; more than the bytes can
      // hold is damage, not a reason to allocate.
      if (count == 0 || count > c.remaining() / 2) {
        why = std::to_string(count) + " tables in " + std::to_string(data->size()) + " bytes";
      }
      for (uint16_t t = 0; why.empty() && t < count; ++t) {
        const uint16_t codes = c.U16();
        if (c.remaining() < size_t{codes} * 9 || codes == 0) {
          why = "table " + std::to_string(t + 1) + " of " + std::to_string(codes) + " codes runs past the section";
          break;
        }
        HuffmanTable table(codes);
        for (HuffmanCode& h : table) {
          h.prefixBits = c.U8();
          h.totalBits = c.U8();
          h.mode = c.U8();
          h.baseValue = c.I16();
          h.baseCode = c.U32();
        }
        tables.push_back(std::move(table));
      }
      // Each code gives its prefix length, then its whole length. Some
      // producers write the two the other way round: a prefix longer than
      // the whole code can only mean that, for the whole set.
      bool swapped = false;
      for (const HuffmanTable& t : tables)
        for (const HuffmanCode& h : t) swapped = swapped || (h.mode != 0 && h.prefixBits > h.totalBits);
      if (swapped)
        for (HuffmanTable& t : tables)
          for (HuffmanCode& h : t) std::swap(h.prefixBits, h.totalBits);
    }
    if (why.empty() && decoder_.Build(tables, &why)) {
      huffman_ = true;
      return;
    }
    Problem(2, -1, "Huffman tables: " + why + "; no samples decoded");
    tablesBad_ = true;
  }

  void ReadQrsLocations() {
    uint8_t protocol = 0;
    auto data = Data(4, &protocol);
    if (!data) return;
    ByteReader c(*data);
    refLengthMs_ = c.U16();
    refFiducial_ = c.U16();
    const uint16_t n = c.U16();
    if (c.remaining() < size_t{n} * 14) {
      Problem(4, -1, "lists " + std::to_string(n) + " QRS complexes but holds fewer");
      return;
    }
    qrs_.resize(n);
    for (QrsEntry& q : qrs_) {
      q.type = c.U16();
      q.sb = c.U32();
      q.fc = c.U32();
      q.se = c.U32();
    }
    // Versions 1.0 and 1.1 have no protected zones (nor has a section that
    // ends after the subtraction zones): the subtraction zones stand for them.
    const uint8_t version = protocol != 0 ? protocol : r_.protocolVersion;
    const bool zones = version != 10 && version != 11 && c.remaining() >= size_t{n} * 8;
    for (QrsEntry& q : qrs_) {
      q.qb = zones ? c.U32() : q.sb;
      q.qe = zones ? c.U32() : q.se;
    }
    qrsRead_ = true;
  }

  // Decodes one lead's coded bytes into at most `count` values, then undoes
  // the differences. Samples are 16-bit; rebuilding wraps the same way.
  std::vector<int32_t> DecodeLead(std::span<const uint8_t> bytes, size_t count, uint8_t differences,
                                  std::string* why) const {
    std::vector<int32_t> v;
    if (huffman_) {
      // A code takes at least one bit: more values than bits is damage.
      count = std::min(count, bytes.size() * kBitsPerByte);
      v.resize(count);
      v.resize(decoder_.Decode(bytes, count, v.data(), why));
    } else {
      const size_t n = std::min(count, bytes.size() / 2);
      v.resize(n);
      for (size_t i = 0; i < n; ++i) v[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    }
    if (differences == 1) {
      for (size_t i = 1; i < v.size(); ++i) v[i] = static_cast<int16_t>(v[i] + v[i - 1]);
    } else if (differences == 2) {
      for (size_t i = 2; i < v.size(); ++i) v[i] = static_cast<int16_t>(v[i] + 2 * v[i - 1] - v[i - 2]);
    }
    return v;
  }

  // Reads a byte-count table of N entries from `c`: 2 bytes each, or 4 in
  // our plug-in's files with leads of 32000 samples or more, told apart by
  // which of the two adds up to the section's length (one pad byte allowed).
  std::vector<uint32_t> ByteCounts(ByteReader& c, uint16_t section) {
    struct Try {
      ByteReader after;
      std::vector<uint32_t> counts;
      bool fits = false, exact = false;
    };
    auto attempt = [&](int width) {
      Try t{c, std::vector<uint32_t>(entries_.size()), false, false};
      uint64_t sum = 0;
      for (uint32_t& k : t.counts) {
        k = width == 2 ? t.after.U16() : t.after.U32();
        sum += k;
      }
      t.fits = !t.after.failed() && sum <= t.after.remaining();
      t.exact = t.fits && t.after.remaining() - sum <= 1;
      return t;
    };
    Try two = attempt(2), four = attempt(4);
    Try* pick = four.exact && !two.exact ? &four : two.fits ? &two : four.fits ? &four : nullptr;
    if (pick == nullptr) {
      Problem(section, -1, "the leads' byte counts exceed the section; no samples decoded");
      return {};
    }
    c = pick->after;
    return pick->counts;
  }

  void ReadReferenceBeats() {
    auto data = Data(5);
    if (!data) {
      Problem(5, -1, "reference beat subtraction is flagged but this section cannot be read; no samples decoded");
      return;
    }
    if (!qrsRead_ || refLengthMs_ == 0) {
      Problem(4, -1, "reference beat subtraction is flagged but no QRS locations are given; no samples decoded");
      return;
    }
    ByteReader c(*data);
    refAvm_ = c.U16();
    refInterval_ = c.U16();
    const uint8_t differences = c.U8();
    c.U8();  // reserved, but part of the header all the same
    if (c.failed() || refAvm_ == 0 || refInterval_ == 0 || differences > 2) {
      Problem(5, -1, "header: amplitude " + std::to_string(refAvm_) + " nV, interval " +
                         std::to_string(refInterval_) + " us, differences " + std::to_string(differences));
      return;
    }
    const size_t length = size_t{refLengthMs_} * 1000 / refInterval_;
    std::vector<uint32_t> counts = ByteCounts(c, 5);
    if (counts.empty()) return;
    refBeats_.resize(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) {
      std::string why;
      // Section 4 gives the beat's length in milliseconds; a producer that
      // rounded up stores one sample more, which is taken too.
      refBeats_[i] = DecodeLead(c.Bytes(counts[i]), length + 1, differences, &why);
      if (refBeats_[i].size() < length) {
        Problem(5, static_cast<int>(i), "reference beat: " +
                                            std::to_string(refBeats_[i].size()) + " of " + std::to_string(length) +
                                            " samples" + (why.empty() ? "" : " (" + why + ")"));
        refBeats_[i].clear();
      }
    }
    refOk_ = true;
  }

  // Restores the full rate outside the protected zones: each decimated
  // value stands at the middle of its block, values between are linear,
  // and a block shorter than the factor was stored sample by sample.
  std::vector<int32_t> Interpolate(const std::vector<int32_t>& in, uint32_t first, uint32_t count, uint32_t factor,
                                   std::string* why) const {
    std::vector<int32_t> out;
    out.reserve(std::min<size_t>(count, in.size() * factor));
    size_t pos = 0;
    const uint32_t last = first + count - 1;
    uint32_t a = first;
    auto take = [&](size_t n) -> bool {
      if (in.size() - pos < n) {
        *why = "fewer decimated samples than the zones need";
        return false;
      }
      return true;
    };
    auto stretch = [&](uint32_t from, uint32_t to) -> bool {
      if (to < from) return true;
      const uint32_t num = to - from + 1;
      const uint32_t blocks = num / factor, rest = num % factor;
      if (!take(blocks + rest)) return false;
      if (blocks > 0) {
        const uint32_t half = factor / 2;
        for (uint32_t k = 0; k < blocks * factor; ++k) {
          const int64_t p = static_cast<int64_t>(k) - half;  // position past the first centre
          if (p < 0) {
            out.push_back(in[pos]);
          } else {
            const size_t b = static_cast<size_t>(p / factor);
            const uint32_t j = static_cast<uint32_t>(p % factor);
            if (b + 1 >= blocks) {
              out.push_back(in[pos + blocks - 1]);
            } else {
              const double step = static_cast<double>(in[pos + b + 1] - in[pos + b]) / factor;
              out.push_back(static_cast<int32_t>(in[pos + b] + j * step));
            }
          }
        }
        pos += blocks;
      }
      for (uint32_t k = 0; k < rest; ++k) out.push_back(in[pos++]);
      return true;
    };
    for (const QrsEntry& q : qrs_) {
      if (q.qb < a || q.qe < q.qb || q.qe > last) {
        *why = "protected zone " + std::to_string(q.qb) + "-" + std::to_string(q.qe) + " out of order";
        return {};
      }
      if (!stretch(a, q.qb - 1)) return {};
      const uint32_t n = q.qe - q.qb + 1;
      if (!take(n)) return {};
      out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(pos),
                 in.begin() + static_cast<std::ptrdiff_t>(pos + n));
      pos += n;
      a = q.qe + 1;
    }
    if (!stretch(a, last)) return {};
    return out;
  }

  void ReadRhythm() {
    auto data = Data(6);
    if (!data) {
      if (Unexplained(6)) Problem(6, -1, "cannot be read; no samples decoded");
      return;
    }
    if (tablesBad_) return;
    ByteReader c(*data);
    const uint16_t avm = c.U16();
    const uint16_t interval = c.U16();
    const uint8_t differences = c.U8();
    const uint8_t bimodal = c.U8();
    if (c.failed() || avm == 0 || interval == 0 || differences > 2) {
      Problem(6, -1, "header: amplitude " + std::to_string(avm) + " nV, interval " +
                         std::to_string(interval) + " us, differences " + std::to_string(differences) +
                         "; no samples decoded");
      return;
    }
    r_.sampleIntervalUs = interval;
    r_.amplitudeNanovolts = avm;
    for (const QrsEntry& q : qrs_)
      r_.annotations.push_back({(std::max<uint32_t>(q.fc, 1) - 1) * (interval / 1e6), 0,
                                q.type == 0 ? "QRS" : "QRS type " + std::to_string(q.type)});
    if (referenceBeat_) {
      ReadReferenceBeats();
      if (!refOk_) return;
    }
    uint32_t factor = 1;
    if (bimodal != 0 && !refOk_) {
      // The full-rate interval is Section 5's, even without subtraction.
      if (auto s5 = Data(5)) {
        refInterval_ = ByteReader(*s5).U16At(2);
      }
    }
    if (bimodal != 0) {
      if (!qrsRead_ || refInterval_ == 0 || interval % refInterval_ != 0 || interval < refInterval_) {
        Problem(6, -1, "bimodal compression without usable sections 4 and 5 (interval " + std::to_string(interval) +
                           " us against " + std::to_string(refInterval_) + " us); no samples decoded");
        return;
      }
      factor = interval / refInterval_;
      // Producers decimate by 2 to 8; a factor from a damaged header must
      // not let a few bytes claim gigabytes of restored samples.
      if (factor > kMaxDecimation) {
        Problem(6, -1, "bimodal decimation by " + std::to_string(factor) + " (at most " +
                           std::to_string(kMaxDecimation) + "); no samples decoded");
        return;
      }
      r_.sampleIntervalUs = refInterval_;
    }
    // Residual and reference beat in one unit: their greatest common divisor.
    uint32_t unit = avm;
    if (refOk_) unit = std::gcd<uint32_t, uint32_t>(avm, refAvm_);
    r_.amplitudeNanovolts = unit;
    const int32_t rhythmScale = static_cast<int32_t>(avm / unit);
    const int32_t refScale = refOk_ ? static_cast<int32_t>(refAvm_ / unit) : 0;
    // Section 4 counts samples at the full rate, which bimodal records code
    // at a longer interval.
    if (factor > 1)
      for (Annotation& a : r_.annotations) a.onsetSeconds /= factor;

    std::vector<uint32_t> counts = ByteCounts(c, 6);
    if (counts.empty()) return;
    for (size_t i = 0; i < entries_.size(); ++i) {
      Lead& lead = r_.leads[i];
      const LeadEntry& e = entries_[i];
      std::span<const uint8_t> bytes = c.Bytes(counts[i]);
      const uint32_t count = e.count();
      if (count == 0) {
        Problem(6, static_cast<int>(i), "section 3 gives it no samples");
        continue;
      }
      std::string why;
      std::vector<int32_t> v = DecodeLead(bytes, count, differences, &why);
      if (factor > 1) {
        if (!why.empty()) {
          Problem(6, static_cast<int>(i), why + "; lead not shown");
          continue;
        }
        if (uint64_t{count} > uint64_t{v.size()} * factor) {
          Problem(6, static_cast<int>(i), "section 3 asks for " + std::to_string(count) + " samples, the data holds " +
                                              std::to_string(v.size()) + " decimated ones; lead not shown");
          continue;
        }
        v = Interpolate(v, std::max<uint32_t>(e.start, 1), count, factor, &why);
      }
      if (v.size() != count) {
        Problem(6, static_cast<int>(i), std::to_string(v.size()) + " of " +
                                            std::to_string(count) + " samples" +
                                            (why.empty() ? "" : " (" + why + ")") + "; lead not shown");
        continue;
      }
      for (int32_t& s : v) s *= rhythmScale;
      if (refOk_) {
        if (refBeats_[i].empty()) {
          Problem(5, static_cast<int>(i), "no reference beat to add; lead not shown");
          continue;
        }
        AddReferenceBeat(&v, refBeats_[i], std::max<uint32_t>(e.start, 1), refScale);
      }
      lead.samples = std::move(v);
    }
  }

  // Adds the reference beat back inside each subtraction zone of a type 0
  // complex, aligned on the fiducial points; with its own sample interval
  // the beat is taken at the nearest sample in time.
  void AddReferenceBeat(std::vector<int32_t>* v, const std::vector<int32_t>& beat, uint32_t first,
                        int32_t scale) const {
    const double ratio = static_cast<double>(r_.sampleIntervalUs) / refInterval_;
    // Zones are taken in order and never twice over the same samples, so the
    // work stays within the lead's length whatever the file says.
    uint64_t next = first;
    for (const QrsEntry& q : qrs_) {
      if (q.type != 0 || q.se < q.sb || q.sb < next) continue;
      next = uint64_t{q.se} + 1;
      for (uint32_t k = q.sb; k <= q.se; ++k) {
        const size_t at = k - first;
        if (at >= v->size()) break;
        const double offset = (static_cast<double>(k) - q.fc) * ratio;
        const int64_t j = static_cast<int64_t>(refFiducial_) - 1 + std::llround(offset);
        if (j < 0 || j >= static_cast<int64_t>(beat.size())) continue;
        (*v)[at] += beat[static_cast<size_t>(j)] * scale;
      }
    }
  }

  std::span<const uint8_t> file_;
  Record r_;
  std::vector<Located> located_;  // one per entry of r_.sections
  std::vector<LeadEntry> entries_;
  bool referenceBeat_ = false;
  bool huffman_ = false;
  bool tablesBad_ = false;
  HuffmanDecoder decoder_;
  uint16_t refLengthMs_ = 0, refFiducial_ = 0;
  std::vector<QrsEntry> qrs_;
  bool qrsRead_ = false;
  uint16_t refAvm_ = 0, refInterval_ = 0;
  std::vector<std::vector<int32_t>> refBeats_;
  bool refOk_ = false;
};

}  // namespace

Record Read(std::span<const uint8_t> file) {
  try {
    return RecordReader(file).Run();
  } catch (const std::exception& e) {  // out of memory for a huge record
    Record r;
    r.problems.push_back({0, -1, std::string("cannot be read: ") + e.what()});
    return r;
  }
}

std::string ProblemText(const Record& record, const Problem& p) {
  std::string s;
  if (p.section != 0 || p.lead < 0) s = "section " + std::to_string(p.section);
  if (p.lead >= 0 && static_cast<size_t>(p.lead) < record.leads.size())
    s += (s.empty() ? "" : ", ") + std::string("lead ") + record.leads[static_cast<size_t>(p.lead)].name;
  return s + ": " + p.reason;
}

Record ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Record r;
    r.problems.push_back({0, -1, "cannot be opened"});
    return r;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Read(bytes);
}

}  // namespace scpreader
