// Searches of the database, temporary copies of editions, and deletes. A search takes a
// snapshot of what it finds when it begins, so a delete during a walk cannot upset it.
#include <cstring>

#include "reference/zef/engine_text.h"
#include "reference/zef/zef_engine.h"

namespace zef {
namespace {

struct EditionSearch : SearchState {
    std::vector<Edition> editions;  // newest first
    size_t next = 0;
};

struct FileSearch : SearchState {
    std::vector<StoredFile> files;
    size_t next = 0;
};

// The key area: edition id, unique id, then the content's digest. The rest of the engine's
// part holds the size (64 bits) and the writer's process id.
struct KeyArea {
    uint32_t editionId;
    uint32_t uniqueId;
    uint8_t digest[20];
};
static_assert(sizeof(KeyArea) <= sizeof(EditionFindData::keyArea), "the key fits its area");

void Fill(const Edition& e, EditionFindData* data) {
    std::memset(data, 0, sizeof *data);
    data->editionId = e.editionId;
    data->engine4 = e.operation;
    data->time = e.time;
    data->writerRecordId = e.image.empty() ? 0 : e.editionId;
    KeyArea key{e.editionId, e.uniqueId, {}};
    std::memcpy(key.digest, e.digest.data(), sizeof key.digest);
    std::memcpy(data->keyArea, &key, sizeof key);
    std::memcpy(data->engine104, &e.size, sizeof e.size);
    std::memcpy(data->engine104 + 8, &e.processId, sizeof e.processId);
    const uint32_t state = e.state;
    std::memcpy(data->engine104 + kContentStateOffset, &state, sizeof state);
}

void Fill(const Edition& e, EditionFindDataByPid* data) {
    Fill(e, &data->edition);
    PutText(e.path, kTextUnits, data->filePath);
}

void Fill(const StoredFile& f, size_t index, BackupFileFindData* data) {
    std::memset(data, 0, sizeof *data);
    data->engineCursor = static_cast<uint32_t>(index);
    PutText(f.path, kTextUnits, data->info.filePath);
    data->info.editionCount = f.editionCount;
    data->info.newestTime = f.newestTime;
    data->info.newestSizeLow = static_cast<uint32_t>(f.newestSize);
    data->info.newestSizeHigh = static_cast<uint32_t>(f.newestSize >> 32);
}

template <typename Search, typename Record>
uint32_t Next(FindHandles& handles, FindHandle find, Record* data) {
    const auto search = handles.Get<Search>(find);
    if (!search || data == nullptr) return 0;
    std::lock_guard<std::mutex> guard(search->lock);
    if constexpr (std::is_same_v<Search, FileSearch>) {
        if (search->next >= search->files.size()) return 0;
        Fill(search->files[search->next], search->next, data);
    } else {
        if (search->next >= search->editions.size()) return 0;
        Fill(search->editions[search->next], data);
    }
    ++search->next;
    return 1;
}

template <typename Record>
FindHandle FirstEdition(FindHandles& handles, std::vector<Edition> editions, Record* data) {
    if (editions.empty() || data == nullptr) return nullptr;
    auto search = std::make_shared<EditionSearch>();
    search->editions = std::move(editions);
    FindHandle handle = handles.Add(search);
    Next<EditionSearch>(handles, handle, data);
    return handle;
}

}  // namespace

uint32_t Engine::ConnectBackupStorage() { return Store() ? 1 : 0; }
uint32_t Engine::DisconnectBackupStorage() { return 1; }

FindHandle Engine::FindFirstFileEdition(const char16_t* path, EditionFindData* data) {
    return FindFirstFileEditionEx(path, 1, nullptr, nullptr, data);
}

FindHandle Engine::FindFirstFileEditionEx(const char16_t* source, uint32_t, const uint32_t* from,
                                          const uint32_t* to, EditionFindData* data) {
    std::u16string path;
    const auto store = Store();
    if (!store || !TakePath(source, u"path to search", path)) return nullptr;
    return FirstEdition(m_handles, store->EditionsOfPath(path, from, to), data);
}

uint32_t Engine::FindNextFileEdition(FindHandle find, EditionFindData* data) {
    return Next<EditionSearch>(m_handles, find, data);
}

void Engine::FindFileEditionClose(FindHandle find) { m_handles.Remove(find); }

FindHandle Engine::FindFirstFileEditionByPid(uint32_t processId, uint32_t, const uint32_t* from,
                                             const uint32_t* to, EditionFindDataByPid* data) {
    const auto store = Store();
    if (!store) return nullptr;
    return FirstEdition(m_handles, store->EditionsOfProcess(processId, from, to), data);
}

uint32_t Engine::FindNextFileEditionByPid(FindHandle find, EditionFindDataByPid* data) {
    return Next<EditionSearch>(m_handles, find, data);
}

FindHandle Engine::FindFirstBackupFile(const uint32_t* from, const uint32_t* to,
                                       BackupFileFindData* data) {
    const auto store = Store();
    if (!store || data == nullptr) return nullptr;
    auto search = std::make_shared<FileSearch>();
    search->files = store->StoredFiles(from, to);
    if (search->files.empty()) return nullptr;
    FindHandle handle = m_handles.Add(search);
    Next<FileSearch>(m_handles, handle, data);
    return handle;
}

uint32_t Engine::FindNextBackupFile(FindHandle find, BackupFileFindData* data) {
    return Next<FileSearch>(m_handles, find, data);
}

void Engine::FindBackupFileClose(FindHandle find) { m_handles.Remove(find); }

int32_t Engine::GetBackupFileUniqID(const char16_t* source, const void* keyArea) {
    std::u16string path;
    const auto store = Store();
    if (!store || keyArea == nullptr || !TakePath(source, u"path of a unique id", path)) return -1;
    KeyArea key;
    std::memcpy(&key, keyArea, sizeof key);
    Edition edition;
    if (!store->Find(key.editionId, edition) || edition.path != path) return -1;
    return static_cast<int32_t>(edition.uniqueId);
}

uint32_t Engine::GetBackupFileByID(uint32_t id, uint32_t capacity, char16_t* buffer) {
    const auto store = Store();
    Edition edition;
    if (!store || !store->Find(id, edition)) {
        PutText(u"", capacity, buffer);
        return 0;
    }
    return PutText(edition.image, capacity, buffer) ? 1 : 0;
}

std::u16string Engine::NewCopyPath() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_copies.empty()) return {};
    return JoinPath(m_copies, Concat(u"c", ++m_copyCounter, u".tmp"));
}

// A temporary copy for the plug-in, in the copies folder; its path must fit the buffer. The
// copy of an edition must hold the bytes its digest names, or none is handed out.
bool Engine::MakeCopy(const std::u16string& source, uint32_t capacity, char16_t* buffer,
                      const Edition* edition) {
    const std::u16string copy = NewCopyPath();
    if (buffer == nullptr || copy.empty() || copy.size() >= capacity) {
        m_log.Write(LogLevel::kWarning, u"No temporary copy: the engine is stopped or the buffer is too small.");
        return false;
    }
    CopyRequest request;
    request.hash = edition != nullptr;
    const CopyOutcome outcome = CopyFileContent(m_files, source, copy, request);
    if (outcome.status != CopyStatus::kOk) {
        m_log.Write(LogLevel::kError,
                    Concat(u"No temporary copy of ", edition != nullptr ? u"edition " : u"",
                           edition != nullptr ? Decimal(edition->editionId) : std::u16string(),
                           u" (", source, u"): ",
                           outcome.status == CopyStatus::kSourceUnreadable && edition != nullptr
                               ? u"its content is missing"
                               : CopyStatusName(outcome.status),
                           u"."));
        return false;
    }
    if (edition != nullptr && (outcome.digest != edition->digest || outcome.size != edition->size)) {
        m_files.remove(copy.c_str());
        m_log.Write(LogLevel::kError, Concat(u"No temporary copy of edition ", edition->editionId,
                                             u" of ", edition->path, u": its content ", source,
                                             u" is damaged (its digest does not match)."));
        return false;
    }
    return PutText(copy, capacity, buffer);
}

uint32_t Engine::GetFileEdition(uint32_t editionId, uint32_t capacity, char16_t* copy) {
    const auto store = Store();
    Edition edition;
    if (!store || !store->Find(editionId, edition)) {
        m_log.Write(LogLevel::kWarning, Concat(u"No copy of edition ", editionId, u": it is not stored."));
        return 0;
    }
    return MakeCopy(store->ContentPath(edition), capacity, copy, &edition) ? 1 : 0;
}

// Removes only what GetFileEdition made: a file directly in the copies folder.
uint32_t Engine::FreeFileEdition(const char16_t* source) {
    std::u16string path;
    if (!TakePath(source, u"copy to free", path)) return 0;
    std::u16string copies;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        copies = m_copies;
    }
    if (copies.empty() || FolderOf(path) != copies) {
        m_log.Write(LogLevel::kWarning, Concat(u"Not freed: ", path, u" is not a copy of the engine."));
        return 0;
    }
    return m_files.remove(path.c_str()) ? 1 : 0;
}

uint32_t Engine::DeleteEditionByEditionID(uint32_t editionId) {
    const auto store = Store();
    return store && store->Delete(editionId) ? 1 : 0;
}

}  // namespace zef
