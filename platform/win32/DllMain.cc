// The DLL's entry point. The library has no start-up work of its own: it
// only turns off the thread attach and detach notifications it never uses.
#include <windows.h>

// The C runtime's start-up code calls DllMain by its C name; a C++ name
// would leave the runtime's empty default in its place.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
