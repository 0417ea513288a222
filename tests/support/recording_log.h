#pragma once
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "framework/kv_log.h"

// A log for tests: keeps every line it is given, formatted, with its level. Ports write from
// their worker thread too, so every access is locked.
class TkvRecordingLog : public TkvCustomLogFile {
public:
    struct Line {
        std::int32_t Level = 0;
        std::string Text;
        bool Blank = false;
        bool operator==(const Line&) const = default;
    };

    using TkvCustomLogFile::TkvCustomLogFile;

    void WriteBlank() override { Append({0, {}, true}); }
    void WriteLine(std::int32_t level, const std::string& text) override {
        Append({level, text, false});
    }

    std::vector<Line> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::string> Texts() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> texts;
        for (const Line& line : lines_)
            texts.push_back(line.Text);
        return texts;
    }
    bool Contains(const std::string& text) const {
        std::lock_guard lock(mutex_);
        return std::any_of(lines_.begin(), lines_.end(),
                           [&](const Line& line) { return line.Text == text; });
    }
    std::size_t Count() const {
        std::lock_guard lock(mutex_);
        return lines_.size();
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    void Append(Line line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }

    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};
