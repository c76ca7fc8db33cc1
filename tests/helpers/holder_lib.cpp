// A library of our own for tests that need a module loaded in another process.
#include <windows.h>

extern "C" __declspec(dllexport) int VesperlinHolderLibMarker() {
    return 42;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
