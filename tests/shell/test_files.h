#pragma once
#include <windows.h>

#include <string>

// A file built next to the test program.
inline std::string TestFile(const std::string& name) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of("\\/") + 1) + name;
}
