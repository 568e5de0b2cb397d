// A burst rollback: a version walk per file, then a restore by edition.
#include "reference/pellumhost/protection/burst_rollback.h"

#include "host/call_records.h"
#include "host/restore_records.h"
#include "host/result_codes.h"
#include "platform/text.h"

namespace pellumhost {
namespace {

struct Versions {
    std::vector<std::pair<uint32_t, uint32_t>> newestFirst;  // (version id, time)
    uint32_t lastBackupBefore;
};

// Stops the walk at the first edition old enough: older ones are never wanted.
int32_t NoteVersion(velk::FileVersionInfo* info, uint32_t* /*action*/) {
    auto* versions = reinterpret_cast<Versions*>(info->context);
    versions->newestFirst.emplace_back(info->versionId, info->time);
    return EditionBefore(versions->newestFirst, versions->lastBackupBefore) == 0 ? 1 : 0;
}

}  // namespace

std::vector<RolledBackFile> RollBackBurst(const PluginExports& plugin,
                                          ICommonPluginInterface* wrapper,
                                          const std::vector<BurstFile>& burst) {
    std::vector<RolledBackFile> results;
    for (const BurstFile& file : burst) {
        const std::u16string path = platform::FromUtf8(file.path);
        Versions versions{{}, file.lastBackupBefore};
        velk::FileVersionRequest walk{path.c_str(), reinterpret_cast<uint64_t>(&versions),
                                      reinterpret_cast<void (*)()>(&NoteVersion), 0};
        uint32_t result = plugin.CallFunc(wrapper, velk::kFnEnumFileVersionInfo, &walk, nullptr);
        const uint32_t edition = EditionBefore(versions.newestFirst, file.lastBackupBefore);
        if (result == velk::kSuccess && edition == 0) result = kNoEditionBeforeBurst;
        if (result == velk::kSuccess) {
            velk::EditionRestoreRequest restore{nullptr, path.c_str(), 0, 0, 0, edition};
            uint32_t reboot = 0;
            result = plugin.CallFunc(wrapper, velk::kFnRestoreEdition, &restore, &reboot);
        }
        results.push_back({path, edition, result});
    }
    return results;
}

}  // namespace pellumhost
