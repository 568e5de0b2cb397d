// Owners of what a walk over the engine's versions borrows: the storage connection, find
// handles and temporary copies. Each gives its resource back when its scope ends, so that no
// path out of a walk leaves one behind; an explicit Close, Delete or Free gives it back
// earlier, where the order of engine calls matters.
#pragma once
#include <cstdint>

#include "engine/engine_entry_points.h"
#include "platform/file_ops.h"

namespace engine_walk {

// The capacity handed to the engine for a path, in a buffer one unit larger.
constexpr uint32_t kCopyCapacity = 261;
constexpr uint32_t kCopyUnits = 262;

// A connection to the engine's backup storage, disconnected at the end of the scope.
class StorageConnection {
public:
    explicit StorageConnection(const EngineEntryPoints& entries) : m_entries(entries) {
        m_entries.ConnectBackupStorage();
    }
    ~StorageConnection() { m_entries.DisconnectBackupStorage(); }
    StorageConnection(const StorageConnection&) = delete;
    StorageConnection& operator=(const StorageConnection&) = delete;

private:
    const EngineEntryPoints& m_entries;
};

// A find handle of the engine, closed with its family's close function.
class ScopedFind {
public:
    ScopedFind(zef::FindHandle handle, void (*close)(zef::FindHandle))
        : m_handle(handle), m_close(close) {}
    ~ScopedFind() { Close(); }
    ScopedFind(const ScopedFind&) = delete;
    ScopedFind& operator=(const ScopedFind&) = delete;

    zef::FindHandle get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void Close() {
        if (m_handle != nullptr) m_close(m_handle);
        m_handle = nullptr;
    }

private:
    zef::FindHandle m_handle;
    void (*m_close)(zef::FindHandle);
};

// A temporary copy of a version in memory: a file that the wrapper deletes after use.
class MemoryCopy {
public:
    using MakeCopy = uint32_t (*)(zef::FindHandle, uint32_t capacity, char16_t* path);

    MemoryCopy() = default;
    ~MemoryCopy() { Delete(); }
    MemoryCopy(const MemoryCopy&) = delete;
    MemoryCopy& operator=(const MemoryCopy&) = delete;

    // Asks the engine for a copy; true when it made one (its path may still be empty).
    bool Make(MakeCopy make, zef::FindHandle find) {
        Delete();
        const bool made = make(find, kCopyCapacity, m_path) != 0;
        m_path[kCopyCapacity] = u'\0';  // whatever the engine wrote
        return made;
    }
    const char16_t* path() const { return m_path; }
    bool empty() const { return m_path[0] == u'\0'; }
    void Delete() {
        if (!empty()) platform::SystemFileOps().remove(m_path);
        for (char16_t& unit : m_path) unit = u'\0';
    }

private:
    char16_t m_path[kCopyUnits] = {};
};

// A temporary copy of a stored edition, given back to the engine with FreeFileEdition.
class EditionCopy {
public:
    explicit EditionCopy(const EngineEntryPoints& entries) : m_entries(entries) {}
    ~EditionCopy() { Free(); }
    EditionCopy(const EditionCopy&) = delete;
    EditionCopy& operator=(const EditionCopy&) = delete;

    bool Get(uint32_t editionId) {
        Free();
        m_held = m_entries.GetFileEdition(editionId, kCopyCapacity, m_path) != 0;
        m_path[kCopyCapacity] = u'\0';
        return m_held;
    }
    const char16_t* path() const { return m_path; }
    void Free() {
        if (m_held) m_entries.FreeFileEdition(m_path);
        m_held = false;
        for (char16_t& unit : m_path) unit = u'\0';
    }

private:
    const EngineEntryPoints& m_entries;
    char16_t m_path[kCopyUnits] = {};
    bool m_held = false;
};

// The last version in memory that a walk looked at; it bounds the walk of the storage.
struct LastMemoryVersion {
    uint32_t id = 0;
    uint32_t time = 0;
};

// Whether a stored edition is the version in memory already shown: the same time and a
// unique id not below that version's id. Never so when no version in memory had an id.
inline bool RepeatsMemoryVersion(const EngineEntryPoints& entries, const LastMemoryVersion& last,
                                 const char16_t* filePath, const zef::EditionFindData& edition) {
    return last.id != 0 && edition.time == last.time &&
           entries.GetBackupFileUniqID(filePath, edition.keyArea) >= static_cast<int32_t>(last.id);
}

}  // namespace engine_walk
