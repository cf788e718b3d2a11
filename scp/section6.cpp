// Section 6, rhythm data: every lead of the waveform coded by the sample
// codec (second differences, default Huffman table) behind a small header
// and a table of byte counts; and the rhythm summary that the format check
// hands to the host so that it can size the waveform it passes in.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "lib/byte_cursor.h"
#include "lib/dbclient/waveform.h"
#include "lib/eventlog.h"
#include "scp/lead_table.h"
#include "scp/messages.h"
#include "scp/sample_codec.h"
#include "scp/scpecg.h"
#include "scp/scpsrv.h"

namespace {

constexpr uint32_t kHeaderSize = 6;
constexpr uint8_t kFirstDifferences = 1;
constexpr uint8_t kSecondDifferences = 2;
constexpr uint32_t kMicrosecondsPerSecond = 1000000;
// Leads of this many samples or more get 4-byte byte counts.
constexpr uint32_t kWideCountSamples = 32000;
// Readers take 2-byte counts as signed: a lead must stay below this.
constexpr uint32_t kNarrowCountLimit = 32768;

struct RhythmHeader {
  int32_t multiplier = 0;  // amplitude value multiplier, nV per unit
  int32_t interval = 0;    // sample time interval, µs
  uint8_t difference = 0;  // 0 none, 1 first, 2 second differences
  uint8_t bimodal = 0;

  // The caller has checked that the data holds the header.
  static RhythmHeader Parse(const ByteReader& in) {
    return RhythmHeader{in.I16At(0), in.I16At(2), in.U8At(4), in.U8At(5)};
  }
};

// 100 * part / whole as the save report shows it, rounded like MulDiv.
int64_t Percent(uint64_t part, uint64_t whole) {
  if (part <= INT32_MAX && whole <= INT32_MAX)
    return plat::MulDiv(100, static_cast<int32_t>(part), static_cast<int32_t>(whole));
  // Beyond MulDiv's 32-bit operands (only for waveforms larger than any
  // record buffer): the same rounding, halves away from zero.
  return static_cast<int64_t>((200 * part + whole) / (2 * whole));
}

}  // namespace

void ScpEcg::PutRhythmData(EcgWaveform* wave) {
  if (wave == nullptr) return;
  bool encoding = false;
  try {
    const uint32_t n = wave->LeadCount();
    const uint32_t s = wave->SamplesPerLead();
    uint32_t start = 0;
    uint32_t offset = BeginSection(&start, nullptr);
    if (offset == 0) return;
    if (static_cast<uint64_t>(offset) + kHeaderSize > capacity_) {
      LogOem(log_, msg::kPutRhythmHeader);
      return;
    }
    const uint32_t rate = wave->SamplingRate();
    if (rate == 0) {
      // No sample interval can be formed; reported like the failed division
      // it stands for, and the record goes without section 6.
      LogMemory(log_, msg::kPutRhythmMemory);
      return;
    }
    // Above 1 MHz the interval is 0; it is stored as such (see the reader).
    offset = PutInt16(offset, static_cast<int32_t>(wave->AmplitudeResolution()));
    offset = PutInt16(offset, static_cast<int32_t>(kMicrosecondsPerSecond / rate));
    offset = PutUInt8(offset, kSecondDifferences);
    offset = PutUInt8(offset, 0);

    const uint32_t width = s < kWideCountSamples ? 2 : 4;
    const uint32_t table = offset;
    uint32_t reserved = 0;
    while (reserved < n && static_cast<uint64_t>(offset) + width <= capacity_) {
      offset = width == 2 ? PutInt16(offset, 0) : PutUInt32(offset, 0);
      ++reserved;
    }

    encoding = true;
    const RhythmEncoder encoder = MakeRhythmEncoder();
    uint32_t saved = 0;
    uint64_t total = 0;
    for (uint32_t k = 0; k < EcgWaveform::kChannelSlots && saved < n && offset < capacity_; ++k) {
      const int16_t* samples = wave->Channel(k);
      if (samples == nullptr) continue;
      uint32_t bytes = encodeLead(encoder, buffer_, offset, capacity_ - offset, samples, s);
      // A lead of 32768 coded bytes or more cannot be told by a 2-byte
      // count, which readers take as signed. It is treated like a lead that
      // does not fit: count 0 and "0 byte compression.", so that the file
      // never carries a count that reads back as a different lead length.
      if (width == 2 && bytes >= kNarrowCountLimit) bytes = 0;
      if (bytes == 0) LogOem(log_, msg::kZeroByteCompression);
      offset += bytes;
      // Only reserved count slots are written: when the table itself did not
      // fit, the later slots would lie where lead data goes.
      if (saved < reserved) {
        const uint32_t slot = table + saved * width;
        if (width == 2)
          PutInt16(slot, static_cast<int32_t>(bytes));
        else
          PutUInt32(slot, bytes);
      }
      ++saved;
      total += bytes;
    }
    if (saved < n) LogOem(log_, msg::kNotAllChannelsSaved);
    EndSection(offset, 6, start);

    const uint64_t uncompressed = uint64_t{n} * s * 2;
    char text[96];
    std::snprintf(text, sizeof text, "SAVE: %llu:%llu (%lld%%)", static_cast<unsigned long long>(uncompressed),
                  static_cast<unsigned long long>(total),
                  static_cast<long long>(uncompressed ? Percent(total, uncompressed) : -1));
    if (log_) log_->LogOemMessage(text);
  } catch (...) {
    LogMemory(log_, encoding ? msg::kEncodeMemory : msg::kPutRhythmMemory);
  }
}

void ScpEcg::GetRhythmData(EcgWaveform* wave, const LeadTable* leads, const HuffmanMode* mode) {
  if (wave == nullptr || leads == nullptr) return;
  bool scaledCopy = false;
  const uint32_t s = wave->SamplesPerLead();
  try {
    uint32_t length = 0;
    std::unique_ptr<uint8_t[]> data = GetSection(6, &length);
    if (!data) return;
    if (length < kHeaderSize) {
      LogOem(log_, msg::kGetRhythmHeader);
      return;
    }
    const ByteReader in(data.get(), length);
    const RhythmHeader header = RhythmHeader::Parse(in);
    if (header.difference == kFirstDifferences) LogOem(log_, msg::kFirstDifference);
    if (leads->referenceBeatUsed) LogOem(log_, msg::kReferenceBeat);
    const uint32_t rate = wave->SamplingRate();
    const uint32_t resolution = wave->AmplitudeResolution();
    if (rate == 0 || resolution == 0 || leads->count <= 0) {
      LogOem(log_, msg::kInvalidRateQuantumCount);
      return;
    }
    if (header.bimodal != 0) {
      LogOem(log_, msg::kBimodal);
      return;
    }
    if (mode == nullptr) return;  // custom Huffman tables: nothing can be decoded

    const int count = std::min(leads->count, LeadTable::kMaxEntries);
    const uint32_t longest = leads->longestLead();
    const uint32_t width = longest >= kWideCountSamples ? 4 : 2;
    int64_t counts[LeadTable::kMaxEntries] = {};
    int channels[LeadTable::kMaxEntries] = {};
    // Offsets are kept in 64 bits: a damaged count must not wrap them back
    // into the data.
    int64_t offset = kHeaderSize;
    for (int i = 0; i < count && offset < length; ++i, offset += width) {
      // A count cut off by the end of the data reads as 0; the lead loop
      // below then finds no data for it.
      if (offset + width <= length) {
        const uint32_t at = static_cast<uint32_t>(offset);
        // Two-byte counts are signed: one of 32768 or more steps the walk
        // backwards (this writer never stores one).
        counts[i] = width == 2 ? int64_t{in.I16At(at)} : int64_t{in.U32At(at)};
      }
      channels[i] = leads->channelOf(i);
    }

    const bool secondDifference = header.difference == kSecondDifferences;
    // The lead's bytes as far as the section holds them; a negative count
    // holds none.
    auto leadBytes = [&](int i) {
      return static_cast<uint32_t>(std::clamp<int64_t>(counts[i], 0, length - offset));
    };
    // A negative count steps back, but never before the start of the data.
    auto advance = [&](int i) { offset = std::max<int64_t>(offset + counts[i], 0); };
    int i = 0;
    if (!leads->referenceBeatUsed) {
      // The leads are decoded together (the codec interleaves them), then
      // reported in order. A channel without a sample array gets nothing:
      // its lead's bytes are stepped over and it counts as a lead missing
      // its points.
      LeadSpan spans[LeadTable::kMaxEntries] = {};
      for (; i < count && offset < length; ++i) {
        spans[i] = {wave->Channel(static_cast<uint32_t>(channels[i])), static_cast<uint32_t>(offset), leadBytes(i), 0};
        advance(i);
      }
      decodeLeads(*mode, spans, static_cast<uint32_t>(i), s, data.get(), secondDifference);
      for (int k = 0; k < i; ++k)
        if (spans[k].delivered != s) LogOem(log_, msg::kMissingPointsOrMmx);
      if (i < count) LogOem(log_, msg::kMissingLeadData);
    } else {
      scaledCopy = true;
      const uint32_t waveInterval = kMicrosecondsPerSecond / rate;
      if (waveInterval == 0) {
        // Above 1 MHz the waveform's sample interval is 0 and the repeat
        // factor cannot be formed. The copy is refused before it starts and
        // the waveform is left exactly as it was, valid sample count too.
        LogMemory(log_, msg::kScaledCopyMemory);
        return;
      }
      const uint32_t gain = static_cast<uint32_t>(header.multiplier) / resolution;
      const uint32_t repeat = static_cast<uint32_t>(header.interval) / waveInterval;
      // The scratch array holds the longest lead L. It is cut where the
      // lead's bytes can hold no more (a sample takes at least one bit),
      // but never below S, which is all the copy takes: a lead table that
      // claims gigasample leads costs no more than its data. A cut array
      // that comes back full stands for a lead of L samples.
      std::vector<int16_t> scratch;
      for (; i < count && offset < length; ++i) {
        int16_t* dest = wave->Channel(static_cast<uint32_t>(channels[i]));
        const uint32_t bytes = leadBytes(i);
        const uint32_t scratchCount =
            static_cast<uint32_t>(std::min<uint64_t>(longest, std::max<uint64_t>(s, 8ull * bytes)));
        if (scratch.size() < scratchCount) scratch.resize(scratchCount);
        uint32_t delivered = 0;
        if (dest != nullptr)
          delivered = decodeLead(*mode, scratch.data(), scratchCount, data.get(), static_cast<uint32_t>(offset),
                                 bytes, secondDifference);
        const bool cut = scratchCount < longest && delivered == scratchCount;
        if (delivered != s || cut) LogOem(log_, msg::kMissingPoints);
        if (dest != nullptr && repeat != 0) {
          uint32_t d = 0;
          for (uint32_t j = 0; j < scratchCount && d < s; ++j) {
            const auto value = static_cast<int16_t>(static_cast<uint32_t>(scratch[j]) * gain);
            for (uint32_t r = 0; r < repeat && d < s; ++r) dest[d++] = value;
          }
        }
        advance(i);
      }
      if (i < count) LogOem(log_, msg::kMissingLeadDataScaled);
    }
    wave->SetValidSampleCount(s);
  } catch (...) {
    LogMemory(log_, scaledCopy ? msg::kScaledCopyMemory : msg::kGetRhythmMemory);
    if (scaledCopy) wave->SetValidSampleCount(s);
  }
}

void ScpEcg::GetRhythmSummary(const LeadTable* leads, ValidFormatInfo* info) {
  if (info == nullptr) return;
  try {
    info->longestLead = 0;
    info->samplingRate = 0;
    info->amplitudeMultiplier = 0;
    info->leadCount = 0;
    if (leads == nullptr) return;
    uint32_t length = 0;
    std::unique_ptr<uint8_t[]> data = GetSection(6, &length);
    if (!data) return;
    if (length < kHeaderSize) {
      LogOem(log_, msg::kSummaryHeader);
      return;
    }
    if (!leads->referenceBeatUsed) {
      const RhythmHeader header = RhythmHeader::Parse(ByteReader(data.get(), length));
      info->samplingRate = header.interval > 0 ? kMicrosecondsPerSecond / static_cast<uint32_t>(header.interval) : 0;
      info->amplitudeMultiplier = static_cast<uint32_t>(header.multiplier);
    }
    info->leadCount = static_cast<uint32_t>(std::max(leads->count, 0));
    info->longestLead = leads->longestLead();
    const int shown = std::min(leads->count, 8);
    for (int i = 0; i < shown; ++i) info->channel[i] = static_cast<uint32_t>(leads->channelOf(i));
  } catch (...) {
    LogMemory(log_, msg::kSummaryMemory);
  }
}
