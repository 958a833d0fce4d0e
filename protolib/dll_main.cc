// The library's entry point on Windows: it adds nothing to the compiler
// runtime's start-up but turning off thread attach and detach notifications,
// which the library has no use for. Elsewhere this unit is empty.
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
#endif
