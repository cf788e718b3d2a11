// This library's own resources: what the Windows build keeps in its version
// resource and string table (scp/scpsrv.rc), as constants the POSIX build
// serves through the same queries.
#pragma once

#include <cstdint>

namespace plat {

inline constexpr uint32_t kMessageSaveFailed = 7100;
inline constexpr const char kMessageSaveFailedText[] =
    "QMXDB: Fallimento nello scrivere il documento del test .  Vedere il registro per i dettagli";

// The file description shown in the service start and stop lines.
inline constexpr const char kOwnFileDescription[] = "SCP-ECG Record Service";
// Language 0x0409 (US English), code page 1252 (ANSI Latin 1).
inline constexpr const char kOwnTranslation[] = "040904e4";

}  // namespace plat
