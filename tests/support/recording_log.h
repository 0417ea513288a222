#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "framework/kv_log.h"
#include "support/recorder.h"

// A log for tests: keeps every line it is given, formatted, with its level. Ports write from
// their worker thread too.
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

    std::vector<Line> Lines() const { return lines_.Items(); }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Line& line : lines_.Items())
            texts.push_back(line.Text);
        return texts;
    }
    bool Contains(const std::string& text) const {
        return lines_.Any([&](const Line& line) { return line.Text == text; });
    }
    std::size_t Count() const { return lines_.Count(); }
    void Clear() { lines_.Clear(); }

private:
    void Append(Line line) { lines_.Add(std::move(line)); }

    TRecorder<Line> lines_;
};
