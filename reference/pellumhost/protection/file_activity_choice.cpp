// The choice of a file activity source: before-write where the platform permits it, else after
// the fact.
#include "reference/pellumhost/protection/file_activity.h"

namespace pellumhost {

std::unique_ptr<FileActivitySource> MakeFileActivitySource() {
    std::unique_ptr<FileActivitySource> source = MakeBeforeWriteSource();
    return source ? std::move(source) : MakeAfterTheFactSource();
}

bool ParseSourceChoice(const std::string& text, SourceChoice& choice) {
    if (text == "best") choice = SourceChoice::kBest;
    else if (text == "before-write") choice = SourceChoice::kBeforeWrite;
    else if (text == "after-the-fact") choice = SourceChoice::kAfterTheFact;
    else return false;
    return true;
}

std::unique_ptr<FileActivitySource> StartFileActivitySource(SourceChoice choice,
                                                            const std::string& folder,
                                                            const FileActivityCallbacks& callbacks,
                                                            std::string& note, std::string& error) {
    note.clear();
    if (choice != SourceChoice::kAfterTheFact) {
        std::unique_ptr<FileActivitySource> before = MakeBeforeWriteSource();
        if (!before) {
            error = "this platform has no before-write file source in this host";
        } else if (before->Start(folder, callbacks, error)) {
            return before;
        }
        if (choice == SourceChoice::kBeforeWrite) return nullptr;
        note = error + "; changes are seen after the fact";
    }
    std::unique_ptr<FileActivitySource> after = MakeAfterTheFactSource();
    if (!after) {
        error = "this platform has no file source in this host";
        return nullptr;
    }
    if (!after->Start(folder, callbacks, error)) return nullptr;
    return after;
}

}  // namespace pellumhost
