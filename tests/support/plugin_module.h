// The plug-in loaded from the build's bin folder, the way a host loads it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "lib/dbclient/testrecord.h"
#include "platform/platform.h"
#include "scp/scpsrv.h"
#include "test_util.h"

class PluginModule {
 public:
  PluginModule() : module_(plat::LoadLibrary(BuiltModulePath("scpsrv").c_str())) {
    if (!module_) loadError_ = plat::GetLastError();
  }
  ~PluginModule() {
    if (module_) plat::FreeLibrary(module_);
  }
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  bool loaded() const { return module_ != nullptr; }
  uint32_t loadError() const { return loadError_; }
  // An export as a function of type F; a missing one fails the test.
  template <typename F>
  F Fn(const char* name) const {
    F f = module_ ? reinterpret_cast<F>(plat::GetProcAddress(module_, name)) : nullptr;
    EXPECT_NE(f, nullptr) << name;
    return f;
  }

  using Void = void(SCP_STDCALL*)();
  using Save = int32_t(SCP_STDCALL*)(TestRecord*, const char*);
  using Fetch = int32_t(SCP_STDCALL*)(TestRecord*);
  using Check = int32_t(SCP_STDCALL*)(const char*, ValidFormatInfo*);
  using Procedure = int32_t(SCP_STDCALL*)(const char*);

 private:
  plat::ModuleHandle module_;
  uint32_t loadError_ = 0;
};
