// Library-wide state behind the exports: the module handle, the start
// count and the one service. Plain globals: the host calls from one thread.
#pragma once

#include <cstdint>

#include "platform/platform.h"

class ScpService;

namespace scplib {

// Process attach: records the module handle and sets the start count to 0.
void Attach(plat::ModuleHandle module);
void LibStart();
void LibStop();
ScpService* Service();
int32_t StartCount();

}  // namespace scplib
