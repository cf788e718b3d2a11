#include "scp/library.h"

#include <new>

#include "scp/service.h"

namespace scplib {
namespace {
plat::ModuleHandle gModule = nullptr;
int32_t gStartCount = 0;
ScpService* gService = nullptr;
}  // namespace

void Attach(plat::ModuleHandle module) {
  gModule = module;
  gStartCount = 0;
}

void LibStart() {
  if (gModule == nullptr) return;
  if (++gStartCount == 1) gService = new (std::nothrow) ScpService(gModule);
}

void LibStop() {
  // Unmatched stops drive the count below zero; only the pair that brings
  // it back from 1 to 0 tears the service down.
  if (--gStartCount == 0) {
    delete gService;
    gService = nullptr;
  }
}

ScpService* Service() { return gService; }
int32_t StartCount() { return gStartCount; }

}  // namespace scplib
