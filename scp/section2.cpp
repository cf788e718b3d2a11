// Section 2, Huffman tables. Rhythm samples are always coded with the
// standard's default table, so the section only ever carries the marker that
// says so; on reading, anything but that marker (or no section at all) is a
// custom table set that this codec cannot decode.
#include <memory>
#include <new>

#include "lib/byte_cursor.h"
#include "lib/eventlog.h"
#include "scp/messages.h"
#include "scp/sample_codec.h"
#include "scp/section_cursor.h"

namespace {
// The standard's marker for "default Huffman table used".
constexpr int16_t kDefaultTableMarker = 19999;
}  // namespace

bool ScpEcg::PutHuffmanTables() {
  SectionWriter out(*this);
  if (!out) {
    LogOem(log_, msg::kPutHuffmanTables);
    return false;
  }
  if (!out.I16(kDefaultTableMarker)) {
    LogMemory(log_, msg::kPutHuffmanMemory);
    return false;
  }
  return out.End(2);
}

std::unique_ptr<HuffmanMode> ScpEcg::GetHuffmanTables() {
  auto make = [&](bool defaultTable, const Message& failed) -> std::unique_ptr<HuffmanMode> {
    try {
      return std::make_unique<HuffmanMode>(MakeHuffmanMode(defaultTable));
    } catch (...) {
      LogMemory(log_, failed);
      return nullptr;
    }
  };
  // A section with fewer than two data bytes holds no complete marker: the
  // missing bytes read as 0, so it is refused as a custom table below.
  const SectionData data(*this, 2, PastEnd::kZeroFill);
  if (!data) return make(false, msg::kHuffmanMemory);
  if (data.size() != 2) LogOem(log_, msg::kExtraHuffmanData);
  if (data.I16At(0) != kDefaultTableMarker) {
    LogOem(log_, msg::kHuffmanNotSupported);
    return nullptr;
  }
  return make(true, msg::kGetHuffmanMemory);
}
