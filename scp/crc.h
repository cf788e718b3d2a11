// CRC-CCITT as SCP-ECG uses it: polynomial 0x1021, initial value 0xFFFF,
// most significant bit first, no final XOR. "123456789" gives 0x29B1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace scpcrc {

// The standard's table-less routine: a high and a low byte updated with
// nibble-wise shifts, rotations and masks. The reference.
uint16_t Portable(const uint8_t* data, size_t count);

// Slicing-by-16: sixteen independent table lookups per sixteen bytes.
uint16_t Fast(const uint8_t* data, size_t count);

}  // namespace scpcrc
