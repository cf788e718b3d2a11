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
#include "scp/scpecg.h"

namespace {
// The standard's marker for "default Huffman table used".
constexpr int16_t kDefaultTableMarker = 19999;
}  // namespace

bool ScpEcg::PutHuffmanTables() {
  uint32_t start = 0;
  const uint32_t offset = BeginSection(&start, nullptr);
  if (offset == 0) {
    LogOem(log_, msg::kPutHuffmanTables);
    return false;
  }
  if (static_cast<uint64_t>(offset) + 2 > capacity_) {
    LogMemory(log_, msg::kPutHuffmanMemory);
    return false;
  }
  return EndSection(PutInt16(offset, kDefaultTableMarker), 2, start);
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
  uint32_t length = 0;
  std::unique_ptr<uint8_t[]> data = GetSection(2, &length);
  if (!data) return make(false, msg::kHuffmanMemory);
  // A section with fewer than two data bytes holds no complete marker: the
  // missing bytes read as 0, so it is refused as a custom table below.
  const int16_t value = ByteReader(data.get(), length, PastEnd::kZeroFill).I16At(0);
  if (length != 2) LogOem(log_, msg::kExtraHuffmanData);
  data.reset();
  if (value != kDefaultTableMarker) {
    LogOem(log_, msg::kHuffmanNotSupported);
    return nullptr;
  }
  return make(true, msg::kGetHuffmanMemory);
}
