// The parts of the platform layer that are the same on every system.
#include <algorithm>
#include <cstring>

#include "platform/platform.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace plat {

uint32_t CopyCut(const char* text, size_t length, char* buffer, uint32_t size) {
  const size_t n = std::min<size_t>(length, size - 1);
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

const char* BuildDate() { return __DATE__; }
const char* BuildTime() { return __TIME__; }

bool HasMmx() {
#if defined(__i386__) || defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (edx >> 23) & 1u;
#else
  return false;
#endif
}

}  // namespace plat
