#include "hid/kv_multi_string.h"

std::string JoinMultiString(const char* buffer, std::size_t size, const std::string& separator) {
    std::string result;
    if (buffer == nullptr || size < 2)
        return result;
    // The last character is never looked at: it is the list's own terminator. An empty entry
    // ends the list too, because size queries answer an upper bound and leave zeros behind it.
    const std::size_t last = size - 2;
    std::size_t i = 0;
    bool first = true;
    while (i <= last && buffer[i] != '\0') {
        if (!first)
            result += separator;
        first = false;
        while (i <= last && buffer[i] != '\0')
            result += buffer[i++];
        ++i;
    }
    return result;
}
