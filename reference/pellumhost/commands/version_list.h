// The versions the plug-in keeps of one file, newest first, read with its version walk
// (0x23600007): the engine's memory versions, then the database editions. Numbered from 1 in
// this order, as `versions` shows them and `restore --version N` takes them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "reference/pellumhost/commands/plugin_session.h"

namespace pellumhost {

struct KeptVersion {
    uint32_t versionId = 0;  // the edition id; 0 for a version the engine holds in memory
    uint32_t time = 0;       // seconds since 1970
    uint64_t size = 0;       // bytes of the version's content
    std::string image;       // the writer's image, empty when unknown
    bool InMemory() const { return versionId == 0; }
};

// The versions of path (absolute, UTF-8); walkResult receives the call's result.
std::vector<KeptVersion> ListVersions(const PluginSession& session, const std::string& path,
                                      uint32_t& walkResult);

// A restore result in words, with its symbolic name where it has one.
std::string RestoreResultText(uint32_t result);

}  // namespace pellumhost
