// The settings store and location for the native build, where the engine's platform-free parts
// are tested; the plug-in itself uses the Windows unit.
#include "engine/settings_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "framework/kv_error.h"

namespace {

class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : fd_(fd) {}
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    ~TFileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int Get() const { return fd_; }
    // Closing can report a late write error, so the writer checks it.
    bool Close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

class TPosixSettingsStore final : public THidSettingsStore {
public:
    bool ReadWhole(const std::string& path, std::string& content) override {
        TFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (file.Get() < 0)
            return false;
        std::string text;
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
            if (got < 0)
                return false;
            if (got == 0)
                break;
            if (text.size() + static_cast<std::size_t>(got) > kSettingsFileLimit) {
                std::fprintf(stderr, "%s is larger than 1 MiB and is not loaded\n", path.c_str());
                return false;
            }
            text.append(buffer, static_cast<std::size_t>(got));
        }
        content = std::move(text);
        return true;
    }

    bool WriteNew(const std::string& path, std::string_view content) override {
        TFileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (file.Get() < 0)
            return Failed();
        while (!content.empty()) {
            const ssize_t written = ::write(file.Get(), content.data(), content.size());
            if (written <= 0)
                return Failed();
            content.remove_prefix(static_cast<std::size_t>(written));
        }
        return (::fsync(file.Get()) == 0 && file.Close()) || Failed();
    }

    bool Replace(const std::string& source, const std::string& target) override {
        return std::rename(source.c_str(), target.c_str()) == 0 || Failed();
    }

    void Remove(const std::string& path) override { ::unlink(path.c_str()); }

    bool Exists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }

    std::string LastErrorText() const override { return std::strerror(lastError_); }

private:
    bool Failed() {
        lastError_ = errno;
        return false;
    }
    int lastError_ = 0;
};

} // namespace

void SettingsWarning(const std::string&) {
    // No debugger output here: this build only runs the tests and the fuzzer, which would drown
    // in the lines that every bad value in their inputs gives.
}

THidSettingsStore& PlatformSettingsStore() {
    static TPosixSettingsStore store;
    return store;
}

std::string DefaultSettingsPath(const std::string& fileName) {
    // The counterpart of the local application-data folder is the user's data folder.
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != '\0')
        base = data;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        base = std::string(home) + "/.local/share";
    else
        throw EkvError("The user's data folder is not known");
    if (base.back() != '/')
        base += '/';
    const std::string folder = base + "HID-Plugin";
    std::error_code error;
    std::filesystem::create_directories(folder, error); // a failure shows when the file is written
    return folder + '/' + fileName;
}
