// What the store knows of an edition and of a path's purges, and the index file of earlier
// versions ("index.zef": one sealed file written whole), which a store converts to its edition
// log once.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "reference/zef/content_digest.h"

namespace zef {

// What an edition's operation field says about how it was taken.
enum EditionOperation : uint32_t {
    kOperationBackup = 1,        // BackupFile: a copy asked for by the host
    kOperationBeforeWrite = 2,   // a version taken on a file event, before the write
};

// What a listing found of an edition's content: a cheap look (present, right size); the digest
// is checked on every read.
enum ContentState : uint32_t { kContentIntact = 0, kContentMissing = 1, kContentDamaged = 2 };

struct Edition {
    uint32_t editionId = 0;
    uint32_t uniqueId = 0;     // the memory version it came from, or a fresh number
    uint32_t time = 0;         // seconds since 1970
    uint32_t processId = 0;    // the writer, 0 when unknown
    uint32_t operation = 0;
    uint32_t blobSuffix = 0;   // tells contents apart whose digests collide
    uint64_t size = 0;
    Digest digest{};
    std::u16string path;
    std::u16string image;      // the writer's image path, empty when unknown
    // The source's owner, group and mode (attributes on Windows) when they were read.
    bool ownershipKnown = false;
    uint32_t owner = 0;
    uint32_t group = 0;
    uint32_t mode = 0;
    ContentState state = kContentIntact;  // filled by listings only; never stored
};

// Editions of one path that the quota or the age limit took away.
struct PurgeRecord {
    std::u16string path;
    uint32_t count = 0;
    uint32_t firstCreateTime = 0;
    uint32_t firstPurgeTime = 0;
    uint32_t lastCreateTime = 0;
    uint32_t lastPurgeTime = 0;
};

// One backed-up file as the listings show it.
struct StoredFile {
    std::u16string path;
    uint32_t editionCount = 0;
    uint32_t newestTime = 0;
    uint64_t newestSize = 0;
};

struct IndexContent {
    uint32_t nextEditionId = 1;
    uint32_t nextUniqueId = 1;
    std::vector<Edition> editions;  // in the order they were made
    std::vector<PurgeRecord> purges;
};

std::vector<uint8_t> SerializeIndex(const IndexContent& index);
// Reads an index; false with the reason when the bytes are not a whole, intact index.
bool ParseIndex(const std::vector<uint8_t>& bytes, IndexContent& index, std::u16string& reason);

}  // namespace zef
