// The system's file table, and the atomic whole-file write that the index and results use.
#include "reference/zef/file_table.h"

#include <algorithm>

#include "platform/anchored_files.h"
#include "platform/storage_file.h"
#include "reference/zef/engine_text.h"

namespace zef {

const FileTable& SystemFileTable() {
    // Paths of the store and beside a restore's target may pass 259 units: every call that
    // names a file takes the path's long form (the folder calls take folders, which stay short).
    using platform::LongPathForm;
    static const FileTable table{
        [](const char16_t* path) { return platform::OpenForReading(LongPathForm(path).c_str()); },
        platform::OpenForReadingWithoutLinks,
        [](const char16_t* path) { return platform::CreateForWriting(LongPathForm(path).c_str()); },
        [](const char16_t* path) {
            bool existed = false;
            const FileHandle file =
                platform::SystemFileOps().openAlways(LongPathForm(path).c_str(), &existed);
            if (file != kInvalidFile) platform::SystemFileOps().seekToEnd(file);
            return file;
        },
        platform::ReadSome,
        platform::WriteAll,
        platform::FlushToDisk,
        [](const char16_t* path) { return platform::FlushFileByPath(LongPathForm(path).c_str()); },
        [](const char16_t* path) { return platform::FlushFileSystem(LongPathForm(path).c_str()); },
        platform::FileSize,
        platform::CloseFile,
        platform::CloneFileBlocks,
        platform::CopyFileData,
        [](const char16_t* from, const char16_t* to) {
            return platform::ReplaceFileDurably(LongPathForm(from).c_str(), LongPathForm(to).c_str());
        },
        [](const char16_t* from, const char16_t* to) {
            return platform::SystemFileOps().moveReplacing(LongPathForm(from).c_str(),
                                                           LongPathForm(to).c_str());
        },
        [](const char16_t* path) { return platform::RemoveFile(LongPathForm(path).c_str()); },
        platform::SystemFileOps().createFolderTree,
        platform::ListFiles,
        platform::LastFileFailure,
        [](const char16_t* existing, const char16_t* name) {
            return platform::LinkFile(LongPathForm(existing).c_str(), LongPathForm(name).c_str());
        }};
    return table;
}

bool WriteFileAtomically(const FileTable& files, const std::u16string& path,
                         const std::vector<uint8_t>& bytes, bool durable) {
    const std::u16string fresh = path + u".new";
    {
        ScopedFile file(files, files.createForWriting(fresh.c_str()));
        if (!file.IsOpen()) return false;
        constexpr size_t kChunk = 1u << 20;
        for (size_t done = 0; done < bytes.size(); done += kChunk) {
            const size_t count = std::min(kChunk, bytes.size() - done);
            if (!files.write(file.Get(), bytes.data() + done, static_cast<uint32_t>(count))) {
                file.Close();
                files.remove(fresh.c_str());
                return false;
            }
        }
        if (durable && !files.flush(file.Get())) {
            file.Close();
            files.remove(fresh.c_str());
            return false;
        }
    }
    if ((durable ? files.replace : files.rename)(fresh.c_str(), path.c_str())) return true;
    files.remove(fresh.c_str());
    return false;
}

void RemoveFilesIn(const FileTable& files, const std::u16string& folder) {
    std::vector<std::u16string> names;
    files.listFiles(folder.c_str(), names);
    for (const std::u16string& name : names) files.remove(JoinPath(folder, name).c_str());
}

bool ReadWholeFile(const FileTable& files, const std::u16string& path, uint64_t limit,
                   std::vector<uint8_t>& bytes) {
    ScopedFile file(files, files.openForReading(path.c_str()));
    uint64_t size = 0;
    if (!file.IsOpen() || !files.size(file.Get(), &size) || size > limit) return false;
    bytes.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < bytes.size()) {
        uint32_t got = 0;
        const size_t want = std::min<size_t>(bytes.size() - done, 1u << 20);
        if (!files.read(file.Get(), bytes.data() + done, static_cast<uint32_t>(want), &got))
            return false;
        if (got == 0) break;
        done += got;
    }
    if (done != bytes.size()) return false;
    uint32_t extra = 0;
    uint8_t probe = 0;
    return files.read(file.Get(), &probe, 1, &extra) && extra == 0;
}

}  // namespace zef
