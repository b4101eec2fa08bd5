// Entry point of Veltrane.dll and Orvanel.dll. The processor features are
// probed by the library's static initialisation (cpu/CpuFeatures.cpp), which
// the C runtime runs on process attach just before this function. The
// library keeps no per-thread state, so it asks Windows not to call it for
// every thread the host starts and ends.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(instance);
    return TRUE;
}
