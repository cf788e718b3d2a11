// Section 6, rhythm data: every lead of the waveform coded by the sample
// codec (second differences, default Huffman table) behind a small header
// and a table of byte counts; and the rhythm summary that the format check
// hands to the host so that it can size the waveform it passes in.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "lib/dbclient/waveform.h"
#include "lib/eventlog.h"
#include "scp/lead_table.h"
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

  static RhythmHeader Parse(const uint8_t* data) {
    return RhythmHeader{ScpEcg::GetInt16(data, 0), ScpEcg::GetInt16(data, 2), data[4], data[5]};
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
      if (log_) log_->LogOemError(kSrcScpecg, 2737, "Rhythm section missing header information.");
      return;
    }
    const uint32_t rate = wave->SamplingRate();
    if (rate == 0) {
      // No sample interval can be formed; reported like the failed division
      // it stands for, and the record goes without section 6.
      if (log_) log_->LogMemoryError(kSrcScpecg, 2735);
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
      if (bytes == 0 && log_) log_->LogOemError(kSrcScpecg, 2705, "0 byte compression.");
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
    if (saved < n && log_) log_->LogOemError(kSrcScpecg, 2713, "Not all channels saved.");
    EndSection(offset, 6, start);

    const uint64_t uncompressed = uint64_t{n} * s * 2;
    char text[96];
    std::snprintf(text, sizeof text, "SAVE: %llu:%llu (%lld%%)", static_cast<unsigned long long>(uncompressed),
                  static_cast<unsigned long long>(total),
                  static_cast<long long>(uncompressed ? Percent(total, uncompressed) : -1));
    if (log_) log_->LogOemMessage(text);
  } catch (...) {
    if (log_) log_->LogMemoryError(kSrcScpecg, encoding ? 2730 : 2735);
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
      if (log_) log_->LogOemError(kSrcScpecg, 2608, "Rhythm section missing header information.");
      return;
    }
    const RhythmHeader header = RhythmHeader::Parse(data.get());
    if (header.difference == kFirstDifferences && log_)
      log_->LogOemError(kSrcScpecg, 2548, "1st difference encoding not supported yet.");
    if (leads->referenceBeatUsed && log_)
      log_->LogOemError(kSrcScpecg, 2549, "reference beat compression not supported yet.");
    const uint32_t rate = wave->SamplingRate();
    const uint32_t resolution = wave->AmplitudeResolution();
    if (rate == 0 || resolution == 0 || leads->count <= 0) {
      if (log_) log_->LogOemError(kSrcScpecg, 2602, "Invalid SR, QNT, LD CNT");
      return;
    }
    if (header.bimodal != 0) {
      if (log_) log_->LogOemError(kSrcScpecg, 2601, "Have only considerd bimodal compression not used files.");
      return;
    }
    if (mode == nullptr) return;  // custom Huffman tables: nothing can be decoded

    const int count = std::min(leads->count, LeadTable::kMaxEntries);
    const uint32_t longest = leads->longestLead();
    const uint32_t width = longest >= kWideCountSamples ? 4 : 2;
    uint32_t counts[LeadTable::kMaxEntries] = {};
    int channels[LeadTable::kMaxEntries] = {};
    // Offsets are kept in 64 bits: a damaged count must not wrap them back
    // into the data.
    uint64_t offset = kHeaderSize;
    for (int i = 0; i < count && offset < length; ++i, offset += width) {
      // A count cut off by the end of the data reads as 0; the lead loop
      // below then finds no data for it.
      if (offset + width <= length) {
        const uint32_t at = static_cast<uint32_t>(offset);
        // Two-byte counts are the standard's unsigned 16-bit values. Read as
        // signed, a count of 32768 or more would step the walk backwards;
        // this writer never stores one.
        counts[i] = width == 2 ? static_cast<uint16_t>(GetInt16(data.get(), at)) : GetUInt32(data.get(), at);
      }
      channels[i] = leads->channelOf(i);
    }

    const bool secondDifference = header.difference == kSecondDifferences;
    // The lead's bytes as far as the section holds them.
    auto leadBytes = [&](int i) {
      return static_cast<uint32_t>(std::min<uint64_t>(counts[i], length - offset));
    };
    int i = 0;
    if (!leads->referenceBeatUsed) {
      // The leads are decoded together (the codec interleaves them), then
      // reported in order. A channel without a sample array gets nothing:
      // its lead's bytes are stepped over and it counts as a lead missing
      // its points.
      LeadSpan spans[LeadTable::kMaxEntries] = {};
      for (; i < count && offset < length; ++i) {
        spans[i] = {wave->Channel(static_cast<uint32_t>(channels[i])), static_cast<uint32_t>(offset), leadBytes(i), 0};
        offset += counts[i];
      }
      decodeLeads(*mode, spans, static_cast<uint32_t>(i), s, data.get(), secondDifference);
      for (int k = 0; k < i; ++k) {
        if (spans[k].delivered != s && log_)
          log_->LogOemError(kSrcScpecg, 2574, "Rhythm section missing points or MMX not present.");
      }
      if (i < count && log_) log_->LogOemError(kSrcScpecg, 2577, "Rhythm section missing lead data.");
    } else {
      scaledCopy = true;
      const uint32_t waveInterval = kMicrosecondsPerSecond / rate;
      if (waveInterval == 0) {
        // Above 1 MHz the waveform's sample interval is 0 and the repeat
        // factor cannot be formed. The copy is refused before it starts and
        // the waveform is left exactly as it was, valid sample count too.
        if (log_) log_->LogMemoryError(kSrcScpecg, 2597);
        return;
      }
      const uint32_t gain = static_cast<uint32_t>(header.multiplier) / resolution;
      const uint32_t repeat = static_cast<uint32_t>(header.interval) / waveInterval;
      // The copy never takes more than S scratch samples (each is written at
      // least once, or with a repeat of 0 none is), so the scratch array is
      // cut to S: a lead table claiming gigasample leads costs nothing more
      // than the waveform itself. Leads longer than S are still reported.
      const uint32_t scratchCount = std::min(longest, s);
      std::vector<int16_t> scratch(scratchCount);
      for (; i < count && offset < length; ++i) {
        int16_t* dest = wave->Channel(static_cast<uint32_t>(channels[i]));
        uint32_t delivered = 0;
        if (dest != nullptr)
          delivered = decodeLead(*mode, scratch.data(), scratchCount, data.get(), static_cast<uint32_t>(offset),
                                 leadBytes(i), secondDifference);
        if ((delivered != s || longest > s) && log_)
          log_->LogOemError(kSrcScpecg, 2587, "Rhythm section missing points.");
        if (dest != nullptr && repeat != 0) {
          uint32_t d = 0;
          for (uint32_t j = 0; j < scratchCount && d < s; ++j) {
            const auto value = static_cast<int16_t>(static_cast<uint32_t>(scratch[j]) * gain);
            for (uint32_t r = 0; r < repeat && d < s; ++r) dest[d++] = value;
          }
        }
        offset += counts[i];
      }
      if (i < count && log_) log_->LogOemError(kSrcScpecg, 2592, "Rhythm section missing lead data.");
    }
    wave->SetValidSampleCount(s);
  } catch (...) {
    if (log_) log_->LogMemoryError(kSrcScpecg, scaledCopy ? 2597 : 2606);
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
      if (log_) log_->LogOemError(kSrcScpecg, 2650, "Rhythm section missing header information.");
      return;
    }
    if (!leads->referenceBeatUsed) {
      const RhythmHeader header = RhythmHeader::Parse(data.get());
      info->samplingRate = header.interval > 0 ? kMicrosecondsPerSecond / static_cast<uint32_t>(header.interval) : 0;
      info->amplitudeMultiplier = static_cast<uint32_t>(header.multiplier);
    }
    info->leadCount = static_cast<uint32_t>(std::max(leads->count, 0));
    info->longestLead = leads->longestLead();
    const int shown = std::min(leads->count, 8);
    for (int i = 0; i < shown; ++i) info->channel[i] = static_cast<uint32_t>(leads->channelOf(i));
  } catch (...) {
    if (log_) log_->LogMemoryError(kSrcScpecg, 2648);
  }
}
