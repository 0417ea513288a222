#pragma once
#include <stdexcept>
#include <string>

// The one error class of the plug-in; its message is what the user sees.
class EkvError : public std::runtime_error {
public:
    explicit EkvError(const std::string& message) : std::runtime_error(message) {}
};
