#include "framework/kv_log.h"

#include "framework/kv_error.h"

std::string TkvLogValue::Text(char placeholder) const {
    if (const auto* text = std::get_if<std::string>(&value_))
        return *text;
    // As printf would read the same 32 bits for the other integer placeholder.
    const std::uint32_t bits = std::holds_alternative<std::uint32_t>(value_)
                                   ? std::get<std::uint32_t>(value_)
                                   : static_cast<std::uint32_t>(std::get<std::int32_t>(value_));
    if (placeholder == 'd')
        return std::to_string(static_cast<std::int32_t>(bits));
    if (placeholder == 'u' || std::holds_alternative<std::uint32_t>(value_))
        return std::to_string(bits);
    return std::to_string(std::get<std::int32_t>(value_));
}

std::string kvFormat(std::string_view fmt, const TkvLogArgs& args) {
    std::string out;
    out.reserve(fmt.size() + 16);
    std::size_t next = 0;
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        const char c = fmt[i];
        if (c != '%' || i + 1 == fmt.size()) {
            out += c;
            continue;
        }
        const char conversion = fmt[i + 1];
        if (conversion == '%') {
            out += '%';
            ++i;
        } else if ((conversion == 'u' || conversion == 'd' || conversion == 's') &&
                   next < args.size()) {
            out += args[next++].Text(conversion);
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

std::string kvFormatLiteral(std::string_view text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '%')
            out += '%';
    }
    return out;
}

void TkvCustomLogFile::DoError(std::uint32_t code, std::uint32_t subCode, const std::string& msg) {
    bool fatal = true;
    if (OnFatalError)
        OnFatalError(this, code, subCode, msg, fatal);
    if (fatal)
        throw EkvError(msg);
}
