// The plug-in's exports, as a host declares them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

class TestRecord;

// Filled by ISVALIDFORMAT: the rhythm data's shape and the sizes of the
// bulky manufacturer sections, so that a host can size what it attaches.
struct ValidFormatInfo {
  uint32_t longestLead;          // samples
  uint32_t samplingRate;         // Hz
  uint32_t amplitudeMultiplier;  // nV per unit
  uint32_t leadCount;
  uint32_t channel[8];           // channel slots of the first eight leads
  uint32_t complexCount;         // records of section 133
  uint32_t rhythmMeasCount;      // records of section 137
  uint32_t diaryPdfSize;         // length word of section 148
  uint32_t reportPdfSize;        // length word of section 149
  uint32_t holterCfgSize;        // length word of section 150
  uint32_t holterCfgBlockSize;   // length word of section 151
};
static_assert(sizeof(ValidFormatInfo) == 18 * 4);
static_assert(offsetof(ValidFormatInfo, channel) == 16);
static_assert(offsetof(ValidFormatInfo, complexCount) == 48);
static_assert(offsetof(ValidFormatInfo, holterCfgBlockSize) == 68);

#if defined(_WIN32)
#define SCPSRV_API extern "C" __declspec(dllexport)
#else
#define SCPSRV_API extern "C" __attribute__((visibility("default")))
#endif

SCPSRV_API void SCP_STDCALL LIBSTART();
SCPSRV_API void SCP_STDCALL LIBSTOP();
SCPSRV_API int32_t SCP_STDCALL READORDER(int32_t a, int32_t b);
SCPSRV_API int32_t SCP_STDCALL SAVETESTRECORD(TestRecord* test, const char* path);
SCPSRV_API int32_t SCP_STDCALL FETCHTEST(TestRecord* test);
SCPSRV_API int32_t SCP_STDCALL GETPROCEDURETYPE(const char* path);
SCPSRV_API int32_t SCP_STDCALL SAVEDBREFERENCE(int32_t a, int32_t b, int32_t c);
SCPSRV_API int32_t SCP_STDCALL ISVALIDFORMAT(const char* path, ValidFormatInfo* info);
SCPSRV_API int32_t SCP_STDCALL READTESTREFERENCE(int32_t a, int32_t b);
SCPSRV_API int32_t SCP_STDCALL READWORKLIST(int32_t a, int32_t b);
