#pragma once
#include <string>

#include "framework/kv_error.h"
#include "host/host_script.h"

// The error a script raises when it is parsed, or "parsed" when it is fine.
inline std::string ParseFailure(const std::string& script) {
    try {
        ParseHostScript(script);
    } catch (const EkvError& error) {
        return error.what();
    }
    return "parsed";
}
