// The engine wrapper with the fake engine's scripted versions, and host callbacks that answer
// from a script and record what they were shown.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/restore_records.h"
#include "tests/unit/wrapper_fixture.h"

// One answer of a host callback: the decision or action, and whether to go on.
struct Answer {
    uint32_t action = velk::kDecisionNone;
    int32_t goOn = 1;
};

// The script of a host callback, passed through its context; past the script's end every
// answer is "nothing, go on".
struct CallbackScript {
    CallbackScript() = default;
    explicit CallbackScript(std::vector<Answer> script) : answers(std::move(script)) {}

    std::vector<Answer> answers;
    std::vector<std::string> seen;  // one entry per call, as the callback saw it
    bool copiesExisted = true;      // every memory copy existed while it was shown
    bool withResults = true;        // actions ask for a result callback
    std::vector<std::string> results;  // what result callbacks were told

    Answer Next() {
        const size_t index = seen.size() - 1;
        return index < answers.size() ? answers[index] : Answer{};
    }
};

// A UTF-16LE file that starts with a byte-order mark, as UTF-8 without the mark; a file
// without the mark reads as "(no byte-order mark)".
inline std::string Utf8WithoutMark(const std::filesystem::path& path) {
    const std::u16string units = ReadUtf16File(path);
    if (units.empty() || units[0] != u'\uFEFF') return "(no byte-order mark)";
    return platform::ToUtf8(units.substr(1));
}

class RestoreTest : public EngineWrapperTest {
protected:
    void SetUp() override {
        EngineWrapperTest::SetUp();
        copies = folder / "copies";
        std::filesystem::create_directories(copies);
        engine->SetCopyFolder(copies.u16string());
    }

    // Report.log of the default configuration, as UTF-8 (without the byte-order mark).
    std::string ReportLog() const { return Utf8WithoutMark(folder / "Log" / "Report.log"); }

    std::filesystem::path copies;
};
