#include "scp/section_read.h"

#include <algorithm>

#include "lib/fileutil.h"
#include "scp/crc.h"

namespace {
// Half the second-level cache of the processors the library meets.
constexpr uint32_t kSlice = 256 * 1024;
}  // namespace

uint32_t ReadWithCrc(FileUtil& file, uint32_t count, uint8_t* buffer, EventLog* log, uint16_t* crc,
                     uint32_t uncovered) {
  uint16_t running = *crc;
  uint32_t done = 0;
  while (done < count) {
    const uint32_t want = std::min(kSlice, count - done);
    const uint32_t got = file.Read(want, buffer + done, log);
    const uint32_t from = std::max(done, uncovered);
    if (done + got > from) running = scpcrc::Continue(running, buffer + from, done + got - from);
    done += got;
    if (got != want) break;
  }
  *crc = running;
  return done;
}
