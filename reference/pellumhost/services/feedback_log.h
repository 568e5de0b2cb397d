// The host's feedback service (10, 101): restore feedback (0x98BC) and boot results (0x98BD)
// written to a readable log, decoded field by field. The log is UTF-8 text; each entry begins
// with the time it was received. Safe from any thread (one lock per log).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "host/feedback_records.h"

namespace pellumhost {

// The restore feedback message (protocol-buffer form) as indented "Name: value" lines. false
// when the bytes are malformed; text then ends with a line that says where.
bool DecodeRestoreFeedback(const uint8_t* bytes, size_t length, std::string& text);

// One boot result record as one line.
std::string DescribeBootResult(const velk::BootResultRecord& record);

class FeedbackLog {
public:
    FeedbackLog() = default;
    ~FeedbackLog() { Close(); }
    FeedbackLog(const FeedbackLog&) = delete;
    FeedbackLog& operator=(const FeedbackLog&) = delete;

    // Appends to the file at path (created when missing); false when it cannot be opened.
    bool Open(const std::string& path);
    void Close();
    const std::string& Path() const { return m_path; }

    // A call of the feedback service: 0x20FF0000 when recorded, 0xE0FF0007 for a malformed
    // request, 0xE0FF0002 for another function. A closed log checks the request and answers
    // the same, recording nothing.
    uint32_t Record(uint32_t functionId, const void* input);

    // Entries recorded since the log was opened.
    size_t Entries() const;

private:
    uint32_t RecordFeedback(const velk::RestoreFeedbackRequest& request, std::string& entry);
    uint32_t RecordBootResults(const velk::BootResultsRequest& request, std::string& entry);

    mutable std::mutex m_lock;
    std::FILE* m_file = nullptr;
    std::string m_path;
    size_t m_entries = 0;
};

}  // namespace pellumhost
