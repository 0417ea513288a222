#include "framework/kv_module.h"

// The linker's symbol for the start of the image this code is linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

HINSTANCE kvThisModule() {
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

std::string kvModuleFileName(HMODULE module) {
    char name[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(module, name, MAX_PATH);
    // A full buffer means the name was cut; a cut name would point at another file.
    return std::string(name, length < MAX_PATH ? length : 0);
}
