// Section 3, lead definition: how many leads section 6 holds, that they were
// recorded simultaneously, the sample range of each and its lead identifier.
#include <memory>

#include "lib/byte_cursor.h"
#include "lib/dbclient/c_test.h"
#include "lib/dbclient/waveform.h"
#include "lib/eventlog.h"
#include "scp/lead_table.h"
#include "scp/messages.h"
#include "scp/scpecg.h"

namespace {
// The flags byte keeps the lead count in its bits 3 to 7.
constexpr uint32_t kMaxFlaggedLeads = 31;
constexpr uint8_t kFlagReferenceBeat = 0x01;
constexpr uint8_t kFlagSimultaneous = 0x04;
}  // namespace

uint32_t LeadTable::longestLead() const {
  uint32_t longest = 0;
  for (int i = 0; i < count && i < kMaxEntries; ++i) {
    const LeadEntry* e = entries[i].get();
    // The 32-bit difference, wrapped for a lead that ends before it starts;
    // readers size nothing from it beyond what the data holds.
    if (e != nullptr && e->endSample - e->startSample > longest) longest = e->endSample - e->startSample;
  }
  return longest;
}

int LeadTable::channelOf(int i) const {
  if (i < 0 || i >= count || i >= kMaxEntries || !entries[i]) return 0;
  return ChannelOfLeadId(entries[i]->leadId);
}

EcgWaveform* ScpEcg::PutLeadDefinition(TestRecord* record) {
  EcgWaveform* wave = record ? record->GetWaveform() : nullptr;
  // Bits 3 to 7 of the flags byte hold the lead count, so a file with more
  // than 31 leads would be refused by every reader as "not recorded
  // simultaneously". Such a waveform is refused here, before a section is
  // opened: the record goes without sections 3 and 6 rather than with ones
  // that cannot be read back.
  if (wave != nullptr && wave->LeadCount() > kMaxFlaggedLeads) {
    LogOem(log_, msg::kMoreThan31Leads);
    return nullptr;
  }
  uint32_t start = 0;
  uint32_t offset = BeginSection(&start, nullptr);
  if (offset == 0) {
    LogOem(log_, msg::kPutLeadDefinition);
    return nullptr;
  }
  if (static_cast<uint64_t>(offset) + 2 > capacity_) {
    LogMemory(log_, msg::kPutLeadMemory);
    return nullptr;
  }
  if (wave == nullptr) {
    LogOem(log_, msg::kNoRhythmData);
    return nullptr;
  }

  const uint32_t n = wave->LeadCount();
  const uint32_t samples = wave->SamplesPerLead();
  offset = PutUInt8(offset, static_cast<uint8_t>(n));
  offset = PutUInt8(offset, static_cast<uint8_t>(n * 8 + kFlagSimultaneous));

  // Leads are named after the present channels in ascending order, which is
  // the order in which the rhythm writer stores them.
  uint32_t cursor = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (static_cast<uint64_t>(offset) + LeadEntry::kFileSize > capacity_) {
      LogMemory(log_, msg::kLeadWaveformMemory);
      continue;
    }
    offset = PutUInt32(offset, 0);
    offset = PutUInt32(offset, samples);
    uint32_t k = cursor;
    while (k < EcgWaveform::kChannelSlots && wave->Channel(k) == nullptr) ++k;
    if (k < EcgWaveform::kChannelSlots) {
      offset = PutUInt8(offset, kChannelLeadIds[k]);
      cursor = k + 1 < EcgWaveform::kChannelSlots ? k + 1 : 0;
    } else {
      offset = PutUInt8(offset, kChannelLeadIds[0]);
      cursor = 0;
    }
  }
  if (!EndSection(offset, 3, start)) return nullptr;
  return wave;
}

std::unique_ptr<LeadTable> ScpEcg::GetLeadDefinition() {
  try {
    uint32_t length = 0;
    std::unique_ptr<uint8_t[]> data = GetSection(3, &length);
    if (!data) return nullptr;
    const ByteReader in(data.get(), length);
    const uint32_t n = length >= 2 ? data[0] : 0;
    const uint8_t flags = length >= 2 ? data[1] : 0;
    if (!(flags & kFlagSimultaneous) || static_cast<uint32_t>(flags >> 3) != n) {
      LogSystem(log_, msg::kNotSimultaneous);
      return nullptr;
    }
    auto table = std::make_unique<LeadTable>();
    table->referenceBeatUsed = flags & kFlagReferenceBeat;
    uint64_t offset = 2;
    uint32_t visited = 0;
    for (; visited < n && offset < length; ++visited, offset += LeadEntry::kFileSize) {
      // An entry cut off by the end of the data is not read: the entries
      // before it stay, and "lim error" below reports the cut.
      if (offset + LeadEntry::kFileSize > length) continue;
      const uint32_t at = static_cast<uint32_t>(offset);
      LeadEntry e{in.U32At(at), in.U32At(at + 4), in.U8At(at + 8)};
      // Unreachable through a well-formed flags byte (it caps N at 31), but
      // the table's own bound is kept whatever N says.
      if (!table->Append(e)) LogSystem(log_, msg::kMoreThan32Leads);
    }
    if (visited < n) LogSystem(log_, msg::kMoreLeadsThanDefined);
    if (offset > length) LogSystem(log_, msg::kLeadLimit);
    return table;
  } catch (...) {
    LogMemory(log_, msg::kGetLeadMemory);
    return nullptr;
  }
}
