#pragma once
// A fresh folder for one test's files in the system's temporary folder, removed with everything
// in it when the object goes, whatever the test left there.
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

class TTestFolder {
public:
    // `name` (UTF-8, any characters) begins the folder's name; a random number ends it, so that
    // test programs running at once never share a folder.
    explicit TTestFolder(std::string_view name)
        : path_(std::filesystem::temp_directory_path() /
                std::filesystem::path(std::u8string(name.begin(), name.end()) + u8"_" +
                                      Digits(std::random_device{}()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TTestFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TTestFolder(const TTestFolder&) = delete;
    TTestFolder& operator=(const TTestFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // `relative` inside the folder, as UTF-8 text: the form the settings code takes paths in.
    std::string PathOf(std::string_view relative) const {
        const std::u8string text =
            (path_ / std::filesystem::path(std::u8string(relative.begin(), relative.end())))
                .u8string();
        return std::string(text.begin(), text.end());
    }

private:
    static std::u8string Digits(unsigned value) {
        const std::string digits = std::to_string(value);
        return std::u8string(digits.begin(), digits.end());
    }

    std::filesystem::path path_;
};
