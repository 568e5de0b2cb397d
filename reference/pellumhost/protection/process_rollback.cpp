// The two walks of a process rollback and the choice of the version to restore.
#include "reference/pellumhost/protection/process_rollback.h"

#include <map>

#include "host/call_records.h"
#include "host/restore_records.h"

namespace pellumhost {
namespace {

struct Seen {
    std::u16string path;
    uint32_t versionId;
    uint32_t time;
};

struct Walk {
    std::vector<Seen> seen;           // first walk: every version, in walk order
    std::vector<size_t> chosen;       // second walk: the indexes to restore
    size_t at = 0;
    std::vector<RolledBackFile>* results = nullptr;
    const RollbackProgress* progress = nullptr;
};

int32_t ListVersion(velk::ProcessVersionInfo* info, velk::VersionAction* /*action*/) {
    auto* walk = reinterpret_cast<Walk*>(info->context);
    walk->seen.push_back({info->path != nullptr ? info->path : u"", info->versionId, info->time});
    return 1;
}

void NoteResult(const velk::VersionActionResult* result, uint64_t /*reserved*/) {
    auto* walk = reinterpret_cast<Walk*>(result->context);
    walk->results->push_back({result->path != nullptr ? result->path : u"", result->versionId,
                              result->resultCode});
    if (*walk->progress) (*walk->progress)(walk->results->size(), walk->chosen.size());
}

int32_t RestoreChosen(velk::ProcessVersionInfo* info, velk::VersionAction* action) {
    auto* walk = reinterpret_cast<Walk*>(info->context);
    const size_t index = walk->at++;
    for (size_t chosen : walk->chosen) {
        if (chosen != index) continue;
        action->kind = velk::kDecisionRestore;
        action->resultCallback = &NoteResult;
    }
    return 1;
}

uint32_t WalkProcess(const PluginExports& plugin, ICommonPluginInterface* wrapper,
                     uint32_t processId, Walk& walk, velk::ProcessVersionCallback callback) {
    velk::ProcessVersionRequest request{};
    request.processId = processId;
    request.context = reinterpret_cast<uint64_t>(&walk);
    request.callback = callback;
    return plugin.CallFunc(wrapper, velk::kFnEnumProcessVersions, &request, nullptr);
}

}  // namespace

std::vector<RolledBackFile> RollBackProcess(const PluginExports& plugin,
                                            ICommonPluginInterface* wrapper, uint32_t processId,
                                            uint32_t& walkResult,
                                            const RollbackProgress& progress) {
    std::vector<RolledBackFile> results;
    Walk walk;
    walk.results = &results;
    walk.progress = &progress;
    walkResult = WalkProcess(plugin, wrapper, processId, walk, &ListVersion);
    // The oldest version of each file: the earliest time, and among equal times the one walked
    // last (memory versions come newest first).
    std::map<std::u16string, size_t> oldest;
    for (size_t i = 0; i < walk.seen.size(); ++i) {
        const auto found = oldest.find(walk.seen[i].path);
        if (found == oldest.end() || walk.seen[i].time <= walk.seen[found->second].time)
            oldest[walk.seen[i].path] = i;
    }
    for (const auto& entry : oldest) walk.chosen.push_back(entry.second);
    if (!walk.chosen.empty()) WalkProcess(plugin, wrapper, processId, walk, &RestoreChosen);
    return results;
}

}  // namespace pellumhost
