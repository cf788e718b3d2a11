// Section 3, lead definition: how many leads section 6 holds, that they were
// recorded simultaneously, the sample range of each and its lead identifier.
#include <memory>

#include "lib/byte_cursor.h"
#include "lib/dbclient/c_test.h"
#include "lib/dbclient/waveform.h"
#include "lib/eventlog.h"
#include "scp/lead_table.h"
#include "scp/messages.h"
#include "scp/section_cursor.h"

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
  SectionWriter out(*this);
  if (!out) {
    LogOem(log_, msg::kPutLeadDefinition);
    return nullptr;
  }
  if (!out.Fits(2)) {
    LogMemory(log_, msg::kPutLeadMemory);
    return nullptr;
  }
  if (wave == nullptr) {
    LogOem(log_, msg::kNoRhythmData);
    return nullptr;
  }

  const uint32_t n = wave->LeadCount();
  const uint32_t samples = wave->SamplesPerLead();
  out.U8(static_cast<uint8_t>(n));
  out.U8(static_cast<uint8_t>(n * 8 + kFlagSimultaneous));

  // Leads are named after the present channels in ascending order, which is
  // the order in which the rhythm writer stores them.
  uint32_t cursor = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (!out.Fits(LeadEntry::kFileSize)) {
      LogMemory(log_, msg::kLeadWaveformMemory);
      continue;
    }
    out.U32(0);
    out.U32(samples);
    uint32_t k = cursor;
    while (k < EcgWaveform::kChannelSlots && wave->Channel(k) == nullptr) ++k;
    if (k < EcgWaveform::kChannelSlots) {
      out.U8(kChannelLeadIds[k]);
      cursor = k + 1 < EcgWaveform::kChannelSlots ? k + 1 : 0;
    } else {
      out.U8(kChannelLeadIds[0]);
      cursor = 0;
    }
  }
  return out.End(3) ? wave : nullptr;
}

std::unique_ptr<LeadTable> ScpEcg::GetLeadDefinition() {
  try {
    const SectionData in(*this, 3);
    if (!in) return nullptr;
    const size_t length = in.size();
    const uint32_t n = length >= 2 ? in.U8At(0) : 0;
    const uint8_t flags = length >= 2 ? in.U8At(1) : 0;
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
