// Section 8, interpretive statements: the record's interpretation text, one
// statement per line, with its confirmation status and date.
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "lib/byte_cursor.h"
#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "scp/messages.h"
#include "scp/section_cursor.h"

namespace {

constexpr uint16_t kSectionId = 8;
constexpr uint32_t kHeaderBytes = 9;
constexpr uint32_t kStatementHeaderBytes = 3;  // sequence number, 16-bit length
// Status, 16-bit year, month, day, hour, minute, second, statement count.
static_assert(kHeaderBytes == 1 + 2 + 5 + 1);
static_assert(kStatementHeaderBytes == 1 + sizeof(uint16_t));
// The record keeps at most this much text, NUL included.
constexpr uint32_t kRecordTextCapacity = 4096;
// The reader assembles the text in a buffer of this size, NUL included.
constexpr uint32_t kReadBufferBytes = 4100;

// Record status and file confirmation status differ for 1 and 2.
constexpr uint8_t kFileOriginal = 0;   // first report, not overread
constexpr uint8_t kFileConfirmed = 1;  // record status 2
constexpr uint8_t kFileOverread = 2;   // record status 1

// The date and time without hundredths, which the section does not keep.
struct InterpretationHeader {
  uint8_t status = 0;
  DateTime stamp{0, 0, 0};
  uint8_t count = 0;
};

void StoreHeader(ByteWriter out, const InterpretationHeader& h) {
  const DateTime& t = h.stamp;
  out.U8(h.status);
  out.U16(t.year);
  for (uint8_t b : {t.month, t.day, t.hour, t.minute, t.second, h.count}) out.U8(b);
}

InterpretationHeader LoadHeader(const ByteReader& in) {
  return {in.U8At(0), DateTime(in.U16At(1), in.U8At(3), in.U8At(4), in.U8At(5), in.U8At(6), in.U8At(7)), in.U8At(8)};
}

}  // namespace

void ScpEcg::PutInterpretation(TestRecord* record) {
  try {
    if (record == nullptr) return;
    SectionWriter out(*this);
    if (!out) return;

    InterpretationHeader header;
    const DateTime* stamp = nullptr;
    if (record->IsOriginalInterpretation()) {
      header.status = kFileOriginal;
      stamp = record->GetOriginalDateTime();
    } else if (record->IsConfirmedInterpretation()) {
      header.status = kFileConfirmed;
      stamp = record->GetConfirmedDateTime();
    } else {
      header.status = kFileOverread;
      stamp = record->GetOverreadDateTime();
    }
    if (stamp != nullptr) header.stamp = *stamp;

    // A section that does not fit whole is left out: cut statements would
    // read back as a complete interpretation. Only the 16 header bytes
    // reserved by BeginSection stay behind, as for any section left out.
    // The header is stored once the statement count is known.
    const size_t at = out.position();
    if (!out.Zeros(kHeaderBytes)) return;

    // The field is NUL-terminated within its capacity; the bound only
    // guards against a host that broke that.
    const char* raw = record->GetInterpretationText();
    const std::string_view text(raw, strnlen(raw, kRecordTextCapacity));
    auto byteAt = [&](size_t i) -> char { return i < text.size() ? text[i] : '\0'; };
    size_t scan = 0;
    size_t lineStart = 0;
    uint32_t sequence = 1;
    while (true) {
      while (byteAt(scan) != '\r' && byteAt(scan) != '\0') ++scan;
      const size_t n = scan - lineStart;
      if (!out.Fits(kStatementHeaderBytes + n)) return;
      out.U8(static_cast<uint8_t>(sequence));
      out.U16(static_cast<uint16_t>(n));
      out.Bytes(text.data() + lineStart, n);
      header.count = static_cast<uint8_t>(sequence);
      if (byteAt(scan) == '\0') break;
      if (byteAt(scan) == '\r') ++scan;
      if (byteAt(scan) == '\n') ++scan;
      lineStart = scan;
      ++sequence;
      if (byteAt(scan) == '\0') break;
    }
    StoreHeader(ByteWriter(buffer_, capacity_, at), header);
    out.End(kSectionId);
  } catch (...) {
    LogMemory(log_, msg::kPutInterpretationMemory);
  }
}

int ScpEcg::GetInterpretation(TestRecord* record) {
  try {
    if (record == nullptr) return 1;
    SectionData in(*this, kSectionId);
    // An absent section, or one too short for its header, carries no status
    // to act on: the record is left as it was.
    if (!in || in.size() < kHeaderBytes) return 1;
    const InterpretationHeader header = LoadHeader(in);

    // Statements that add up to more than the buffer are cut at its end
    // (the record then keeps its first 4095 characters); a statement whose
    // header or text would reach past the section data, or whose length is
    // negative, ends the list with what was read before it. NUL bytes
    // within a statement are dropped.
    std::string text;
    auto append = [&](uint8_t c) {
      if (c != 0 && text.size() + 1 < kReadBufferBytes) text.push_back(static_cast<char>(c));
    };
    in.Seek(kHeaderBytes);
    for (uint32_t k = 0; k < header.count; ++k) {
      in.Skip(1);  // sequence number
      const int16_t n = in.I16();
      const std::span<const uint8_t> statement = in.Bytes(n < 0 ? 0 : static_cast<size_t>(n));
      if (in.failed() || n < 0) break;
      for (uint8_t c : statement) append(c);
      append('\r');
      append('\n');
    }
    const char* assembled = text.c_str();

    switch (header.status) {
      case kFileOriginal:
        record->SetOriginalInterpretation(&header.stamp, assembled);
        break;
      case kFileOverread:
        record->SetOverreadInterpretation(&header.stamp, assembled);
        break;
      case kFileConfirmed:
        record->SetConfirmedInterpretation(&header.stamp, assembled);
        break;
      default:
        LogOem(log_, msg::kInterpretationStatus);
        break;
    }
  } catch (...) {
    LogMemory(log_, msg::kGetInterpretationMemory);
  }
  return 1;
}
