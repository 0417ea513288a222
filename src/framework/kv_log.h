#pragma once
#include <concepts>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "framework/kv_component.h"

// The error callback of logs, ports and data processors. Clearing Fatal turns the error into a
// report only.
using TkvFatalErrorEvent =
    std::function<void(TkvComponent* Sender, std::uint32_t Code, std::uint32_t SubCode,
                       const std::string& Msg, bool& Fatal)>;

// One argument of a log format: a %u, %d or %s value.
class TkvLogValue {
public:
    // Integers are logged as 32-bit values, the width every log line uses; a Boolean as 0 or 1.
    template <std::integral T> TkvLogValue(T value) {
        if constexpr (std::is_signed_v<T> || std::is_same_v<T, bool>)
            value_ = static_cast<std::int32_t>(value);
        else
            value_ = static_cast<std::uint32_t>(value);
    }
    TkvLogValue(std::string value) : value_(std::move(value)) {}
    TkvLogValue(const char* value) : value_(std::string(value != nullptr ? value : "")) {}

    // The value as the placeholder letter u, d or s shows it.
    std::string Text(char placeholder) const;

private:
    std::variant<std::uint32_t, std::int32_t, std::string> value_;
};

using TkvLogArgs = std::vector<TkvLogValue>;

// Formats %u, %d, %s and %% with `args` in order. Formats come from the code, but the values may
// be device or user text, which is only ever copied. A placeholder without an argument and any
// other % sequence stay as written; a value of the other kind is shown as its own text.
std::string kvFormat(std::string_view fmt, const TkvLogArgs& args);

// `text` made safe to stand in a format: its % signs come out as written.
std::string kvFormatLiteral(std::string_view text);

// Where ports and data processors write diagnostic lines. Levels: 0 errors, 1 main events,
// 2 details. Lines may come from a port's worker thread and the main thread at once; a concrete
// log keeps each line whole.
class TkvCustomLogFile : public TkvComponent {
public:
    using TkvComponent::TkvComponent;

    TkvFatalErrorEvent OnFatalError;

    // Raises EkvError with Msg unless OnFatalError clears Fatal.
    virtual void DoError(std::uint32_t code, std::uint32_t subCode, const std::string& msg);

    virtual void WriteBlank() = 0;
    virtual void WriteLine(std::int32_t level, const std::string& text) = 0;
    // Records kvFormat(fmt, args) as one line.
    virtual void WriteFmt(std::int32_t level, const std::string& fmt, const TkvLogArgs& args) {
        WriteLine(level, kvFormat(fmt, args));
    }
};
