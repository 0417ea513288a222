#pragma once
#include <exception>
#include <string>
#include <utility>

// The one error class of the plug-in; its message is what the user sees.
class EkvError : public std::exception {
public:
    explicit EkvError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};
