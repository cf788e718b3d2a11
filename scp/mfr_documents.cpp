// Sections of one record behind a separate length word: the diary (148) and
// report (149) documents, the Holter configuration (150) and the Holter
// configuration block (151), and the four length probes of the format
// check. Framing and messages come from mfr_framing.
#include <memory>
#include <span>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "scp/mfr_framing.h"
#include "scp/scpecg.h"

namespace {

constexpr const mfr::SectionMessages& kDiary = mfr::Messages(148);
constexpr const mfr::SectionMessages& kReport = mfr::Messages(149);
constexpr const mfr::SectionMessages& kHolterCfg = mfr::Messages(150);
constexpr const mfr::SectionMessages& kHolterBlock = mfr::Messages(151);

// 148, 149, 151: W is the document length + 4 and is not part of what
// remains behind it. 150: W is the payload length + 4 and is compared with
// what remains from the length word on.
constexpr mfr::CountedFraming kDocumentFraming{true, 0, false};
constexpr mfr::CountedFraming kHolterCfgFraming{true, 0, true};

// Count word 1, W = document length + 4, the document, a zero word. The
// serialized buffer holds the length and then the bytes; its size is W.
void PutDocument(ScpEcg& codec, const mfr::SectionMessages& m, const DocumentBuffer* document) {
  if (document == nullptr) return;
  uint32_t size = 0;
  std::unique_ptr<uint8_t[]> owned = document->Serialize(&size);
  const bool held = owned != nullptr && size >= 4;
  mfr::PutSingleRecord(codec, m, size, held ? std::span(owned.get() + 4, size - 4) : std::span<uint8_t>(), true);
}

// A W below 4 gives a document length that wraps far above any capacity:
// the document is then emptied like one too long for its buffer. With
// onlyWhenHeld the document is filled only while the host's buffer already
// holds something: the host marks the documents it wants by giving them a
// length.
int ReadDocument(ScpEcg& codec, const mfr::SectionMessages& m, DocumentBuffer* document, bool onlyWhenHeld) {
  auto read = [&](uint32_t, std::span<const uint8_t> behindW, uint32_t w) {
    if (document != nullptr && (!onlyWhenHeld || document->GetLength() > 0)) document->Read(behindW, w - 4);
  };
  return mfr::ReadCountedRecords(codec, m, kDocumentFraming, read);
}

// The length word of the first record, for the format check.
uint32_t LengthProbe(ScpEcg& codec, const mfr::SectionMessages& m) {
  SectionData data(codec, m.id);
  if (!data) return 0;
  // A count word of 0 announces no record, whatever follows it. Data too
  // short to hold even the count word is reported like one too short for
  // the length word.
  if (data.size() >= 4 && data.U32At(0) == 0) return 0;
  if (data.size() < 8) {
    LogOem(codec.log(), m.probeTooShort);
    return 0;
  }
  return data.U32At(4);
}

}  // namespace

// ------------------------------------------------------------ 148 and 149

void ScpEcg::PutDiaryPDF(TestRecord* record) {
  if (record != nullptr) PutDocument(*this, kDiary, record->GetDiaryDocument());
}

void ScpEcg::PutReportPDF(TestRecord* record) {
  if (record != nullptr) PutDocument(*this, kReport, record->GetReportDocument());
}

int ScpEcg::GetDiaryPDF(TestRecord* record) {
  return ReadDocument(*this, kDiary, record != nullptr ? record->GetDiaryDocument() : nullptr, true);
}

int ScpEcg::GetReportPDF(TestRecord* record) {
  return ReadDocument(*this, kReport, record != nullptr ? record->GetReportDocument() : nullptr, true);
}

// -------------------------------------------------------------------- 150

void ScpEcg::PutHolterCfgData(TestRecord* record) {
  const HolterConfig* config = record != nullptr ? record->GetHolterConfig() : nullptr;
  if (config == nullptr) return;
  uint32_t payload = 0;
  std::unique_ptr<uint8_t[]> owned = config->Serialize(&payload);
  const bool held = owned != nullptr && payload > 0;
  mfr::PutSingleRecord(*this, kHolterCfg, payload + 4, held ? std::span(owned.get(), payload) : std::span<uint8_t>(),
                       false);
}

int ScpEcg::GetHolterCfgData(TestRecord* record) {
  HolterConfig* config = record != nullptr ? record->GetHolterConfig() : nullptr;
  return mfr::ReadCountedRecords(*this, kHolterCfg, kHolterCfgFraming,
                                 [&](uint32_t, std::span<const uint8_t> payload, uint32_t w) {
                                   // A W below 4 wraps the payload length; the reader
                                   // still stops at the end of the section data.
                                   if (config == nullptr) return;
                                   if (!config->Read(payload, w - 4)) LogOem(log(), msg::kHolterImport);
                                 });
}

// -------------------------------------------------------------------- 151

void ScpEcg::PutHolterCfgBlock(TestRecord* record) {
  if (record != nullptr) PutDocument(*this, kHolterBlock, record->GetHolterConfigBlock());
}

int ScpEcg::GetHolterCfgBlock(TestRecord* record) {
  return ReadDocument(*this, kHolterBlock, record != nullptr ? record->GetHolterConfigBlock() : nullptr, false);
}

// ------------------------------------------------------------------ probes

uint32_t ScpEcg::GetDiaryPDFSize() { return LengthProbe(*this, kDiary); }
uint32_t ScpEcg::GetReportPDFSize() { return LengthProbe(*this, kReport); }
uint32_t ScpEcg::GetHolterCfgSize() { return LengthProbe(*this, kHolterCfg); }
uint32_t ScpEcg::GetHolterCfgBlockSize() { return LengthProbe(*this, kHolterBlock); }
