// Stand-in for the workstation's event-log library. Each call appends one
// JSON object per line to the file named by EVTLIB03_LOG (standard error
// when unset). The line format is documented in docs/event-log.md and is
// read by the tool and the tests: keep it stable.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#define EVT_EXPORT extern "C" __declspec(dllexport)
#else
#include <sys/time.h>
#define EVT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#ifndef EVTLIB_VERSION_MAJOR
#define EVTLIB_VERSION_MAJOR 0
#endif
#ifndef EVTLIB_VERSION_MINOR
#define EVTLIB_VERSION_MINOR 4
#endif
#ifndef EVTLIB_VERSION_BUILD
#define EVTLIB_VERSION_BUILD 0
#endif
#ifndef EVTLIB_VERSION_REVISION
#define EVTLIB_VERSION_REVISION 8
#endif

#ifndef _WIN32
// The version resource, as the POSIX platform layer reads it.
EVT_EXPORT const plat::VersionResource plat_version_resource = {
    plat::kVersionSignature,
    {EVTLIB_VERSION_MAJOR, EVTLIB_VERSION_MINOR, EVTLIB_VERSION_BUILD, EVTLIB_VERSION_REVISION},
    "040904e4",
    "Event log (stand-in)",
};
#endif

namespace {

void AppendJsonString(std::string& out, const char* s) {
  if (s == nullptr) {
    out += "null";
    return;
  }
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; ++p) {
    unsigned char c = *p;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        // Texts are 8-bit ANSI; bytes outside ASCII travel as their Latin-1
        // code points so that every line stays valid UTF-8 JSON.
        if (c < 0x20 || c >= 0x7F) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

std::string Timestamp() {
  char buf[64];
#ifdef _WIN32
  SYSTEMTIME st;
  GetSystemTime(&st);
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", st.wYear, st.wMonth, st.wDay,
                st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
#else
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  gmtime_r(&tv.tv_sec, &tm);
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(tv.tv_usec / 1000));
#endif
  return buf;
}

void Emit(const char* call, const char* source, const int32_t* line, const char* text, bool hasText) {
  std::string out = "{\"ts\":\"" + Timestamp() + "\",\"call\":\"" + call + "\"";
  if (source != nullptr || line != nullptr) {
    out += ",\"source\":";
    AppendJsonString(out, source);
  }
  if (line != nullptr) out += ",\"line\":" + std::to_string(*line);
  if (hasText) {
    out += ",\"text\":";
    AppendJsonString(out, text);
  }
  out += "}\n";
  const char* path = std::getenv("EVTLIB03_LOG");
  if (path != nullptr && *path != '\0') {
    if (FILE* f = std::fopen(path, "ab")) {
      std::fwrite(out.data(), 1, out.size(), f);
      std::fclose(f);
      return;
    }
  }
  std::fwrite(out.data(), 1, out.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

EVT_EXPORT int32_t SCP_STDCALL LOGOEMERROR(const char* source, int32_t line, const char* text) {
  Emit("LOGOEMERROR", source, &line, text, true);
  return 1;
}
EVT_EXPORT int32_t SCP_STDCALL LOGMEMORYERROR(const char* source, int32_t line) {
  Emit("LOGMEMORYERROR", source, &line, nullptr, false);
  return 1;
}
// The calls that log one text; every call returns 1.
#define EVT_TEXT_CALL(NAME)                                 \
  EVT_EXPORT int32_t SCP_STDCALL NAME(const char* text) {   \
    Emit(#NAME, nullptr, nullptr, text, true);              \
    return 1;                                               \
  }
// The calls that log nothing but themselves.
#define EVT_BARE_CALL(NAME)                                 \
  EVT_EXPORT int32_t SCP_STDCALL NAME() {                   \
    Emit(#NAME, nullptr, nullptr, nullptr, false);          \
    return 1;                                               \
  }

EVT_TEXT_CALL(LOGEXCEPTION)
EVT_TEXT_CALL(LOGINFORMATION)
EVT_TEXT_CALL(LOGSYSTEMERROR)
#ifndef EVTLIB_OMIT_LOGOEMMESSAGE
EVT_TEXT_CALL(LOGOEMMESSAGE)
#endif
EVT_TEXT_CALL(LOGSERVICESTART)
EVT_TEXT_CALL(LOGSERVICESTOP)
#ifndef EVTLIB_OMIT_LIBSTART
EVT_BARE_CALL(LIBSTART)
#endif
EVT_BARE_CALL(LIBSTOP)
