// The versions the plug-in keeps of one file, newest first, read with its version walk
// (0x23600007): the engine's memory versions, then the database editions. A database edition
// is numbered by its edition id, which never names another edition; the memory versions are
// m1, m2, ... newest first. `versions` shows these numbers and `restore --version` takes them.
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
    // "damaged" or "missing" for an edition the database names whose content is not what it
    // stored (the walk skips those); empty otherwise.
    std::string fault;
    bool InMemory() const { return versionId == 0; }
};

// The number `versions` shows for versions[index]: the edition id, or mN in memory.
std::string VersionNumber(const std::vector<KeptVersion>& versions, size_t index);
// The index of the version that number (as VersionNumber gives it) names; versions.size()
// when none does.
size_t FindVersion(const std::vector<KeptVersion>& versions, uint32_t number, bool inMemory);

// The versions of path (absolute, UTF-8); walkResult receives the call's result. The editions
// the database names but the walk could not copy are among them, marked with any fault.
std::vector<KeptVersion> ListVersions(const PluginSession& session, const std::string& path,
                                      uint32_t& walkResult);

}  // namespace pellumhost
