// The fake engine's model of versions in memory and in storage: searches, copies, the storage
// connection, boot results and the engine's part of a restore report. Thread-safe.
#pragma once
#include <cstdint>
#include <string>

#include "engine_api/zef_entry_points.h"
#include "tests/fakes/fake_versions.h"

namespace fake_versions {

void Reset();

// Searches: null when nothing matches. A bound that is null (or 0 for memory) bounds nothing.
zef::FindHandle FindMemory(const char16_t* filePath);
zef::FindHandle FindMemoryByProcess(uint32_t processId, uint32_t from, uint32_t to);
zef::FindHandle FindStored(const char16_t* filePath, const uint32_t* from, const uint32_t* to,
                           zef::EditionFindData* data);
zef::FindHandle FindStoredByProcess(uint32_t processId, const uint32_t* from, const uint32_t* to,
                                    zef::EditionFindDataByPid* data);
// Moves a search on; 0 at its end, where a memory search stays on its last version.
uint32_t Next(zef::FindHandle find);
uint32_t NextStored(zef::FindHandle find, zef::EditionFindData* data);
uint32_t NextStoredByProcess(zef::FindHandle find, zef::EditionFindDataByPid* data);
void Close(zef::FindHandle find);
// "v<id>" of the version a search stands at, for the call record.
std::string Describe(zef::FindHandle find);

uint32_t VersionId(zef::FindHandle find);
uint32_t VersionTime(zef::FindHandle find);
uint32_t MakeMemoryCopy(zef::FindHandle find, uint32_t capacity, char16_t* path);
uint32_t FilePath(zef::FindHandle find, uint32_t capacity, char16_t* path);
uint32_t Image(zef::FindHandle find, uint32_t capacity, char16_t* image);
uint32_t MakeEditionCopy(uint32_t editionId, uint32_t capacity, char16_t* path);
uint32_t FreeEditionCopy(const char16_t* path);
int32_t UniqueId(const void* keyArea);
uint32_t WriterImage(uint32_t writerRecordId, uint32_t capacity, char16_t* image);

void Connect();
void Disconnect();
uint32_t Reboot();
void CompleteReport(zef::RestoreReport* report);

uint32_t BootResultCount();
uint32_t FetchBootResult(uint32_t index, uint32_t* code, uint64_t* value, const char16_t** name,
                         uint64_t* fileTime);

}  // namespace fake_versions
