// The ten exports. Every data export checks for the service first and
// answers its no-service value without logging when there is none.
#include "scp/scpsrv.h"
#include "scp/library.h"
#include "scp/service.h"

#ifdef _WIN32
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) scplib::Attach(instance);
  return TRUE;
}
#else
// The shared object's counterpart of process attach.
__attribute__((constructor)) static void OnAttach() { scplib::Attach(plat::ThisModule()); }
#endif

SCPSRV_API void SCP_STDCALL LIBSTART() { scplib::LibStart(); }

SCPSRV_API void SCP_STDCALL LIBSTOP() { scplib::LibStop(); }

SCPSRV_API int32_t SCP_STDCALL READORDER(int32_t, int32_t) { return 0; }

SCPSRV_API int32_t SCP_STDCALL SAVETESTRECORD(TestRecord* test, const char* path) {
  ScpService* s = scplib::Service();
  return s ? s->SaveTestRecord(test, path) : 0;
}

SCPSRV_API int32_t SCP_STDCALL FETCHTEST(TestRecord* test) {
  ScpService* s = scplib::Service();
  return s ? s->FetchTest(test) : 0;
}

SCPSRV_API int32_t SCP_STDCALL GETPROCEDURETYPE(const char* path) {
  ScpService* s = scplib::Service();
  return s ? s->GetProcedureType(path) : 7;
}

SCPSRV_API int32_t SCP_STDCALL SAVEDBREFERENCE(int32_t, int32_t, int32_t) { return 0; }

SCPSRV_API int32_t SCP_STDCALL ISVALIDFORMAT(const char* path, ValidFormatInfo* info) {
  ScpService* s = scplib::Service();
  return s ? s->IsValidFormat(path, info) : 0;
}

SCPSRV_API int32_t SCP_STDCALL READTESTREFERENCE(int32_t, int32_t) { return 0; }

SCPSRV_API int32_t SCP_STDCALL READWORKLIST(int32_t, int32_t) { return 0; }
