// Reading a section's bytes and its CRC in one pass over them.
#pragma once

#include <cstdint>

class EventLog;
class FileUtil;

// Reads `count` bytes from the file's position into `buffer` in slices and
// carries the CRC in `crc` on over buffer[uncovered, count) slice by slice,
// while each is still in cache, so that a large section is not fetched from
// memory twice. Returns the bytes read (fewer on a short or failed read,
// which the file logs as a single read would; `crc` is then meaningless).
uint32_t ReadWithCrc(FileUtil& file, uint32_t count, uint8_t* buffer, EventLog* log, uint16_t* crc,
                     uint32_t uncovered);
