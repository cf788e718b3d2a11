// CRC-CCITT as SCP-ECG uses it: polynomial 0x1021, initial value 0xFFFF,
// most significant bit first, no final XOR. "123456789" gives 0x29B1.
#pragma once

#include <cstddef>
#include <cstdint>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define SCP_CRC_CARRYLESS 1
#else
#define SCP_CRC_CARRYLESS 0
#endif

namespace scpcrc {

// The standard's table-less routine: a high and a low byte updated with
// nibble-wise shifts, rotations and masks. The reference.
uint16_t Portable(const uint8_t* data, size_t count);

// Slicing-by-16: sixteen independent table lookups per sixteen bytes.
uint16_t Fast(const uint8_t* data, size_t count);

// Folding with carry-less multiplication, 64 bytes per round, where the
// processor has it (x86 with PCLMULQDQ and SSSE3, asked at run time);
// elsewhere the same as Fast.
uint16_t Carryless(const uint8_t* data, size_t count);
bool HasCarryless();

// The register after `count` more bytes from `crc`, by the best routine the
// processor has: a CRC computed piece by piece, each piece while it is in
// cache.
uint16_t Continue(uint16_t crc, const uint8_t* data, size_t count);

// The CRC of A followed by B from the CRCs of A and of B alone and B's
// length, in O(log length): the register is linear in its starting value,
// so B's CRC from A's register differs from B's CRC from 0xFFFF by the
// difference of the two starting values carried through B's length of
// zero bytes. Lets a writer reuse its section CRCs for the record CRC.
uint16_t Combine(uint16_t crcA, uint16_t crcB, uint64_t lengthB);

}  // namespace scpcrc
