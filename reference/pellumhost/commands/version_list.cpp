// Reading a file's versions through the plug-in's version walk.
#include "reference/pellumhost/commands/version_list.h"

#include <algorithm>
#include <filesystem>

#include "host/call_records.h"
#include "host/restore_records.h"
#include "platform/text.h"
#include "reference/zef/store_check.h"

namespace pellumhost {
namespace {

// The copy the walk shows lives only while the callback runs: its size is read there.
int32_t NoteVersion(velk::FileVersionInfo* info, uint32_t* /*action*/) {
    auto* versions = reinterpret_cast<std::vector<KeptVersion>*>(info->context);
    KeptVersion version;
    version.versionId = info->versionId;
    version.time = info->time;
    std::error_code ec;
    if (info->path != nullptr) {
        const uintmax_t size = std::filesystem::file_size(std::filesystem::path(info->path), ec);
        version.size = ec ? 0 : size;
    }
    info->image[sizeof info->image / sizeof info->image[0] - 1] = u'\0';
    version.image = platform::ToUtf8(info->image);
    versions->push_back(version);
    return 1;
}

}  // namespace

std::vector<KeptVersion> ListVersions(const PluginSession& session, const std::string& path,
                                      uint32_t& walkResult) {
    std::vector<KeptVersion> versions;
    const std::u16string wide = platform::FromUtf8(path);
    velk::FileVersionRequest request{wide.c_str(), reinterpret_cast<uint64_t>(&versions),
                                     reinterpret_cast<void (*)()>(&NoteVersion), 0};
    walkResult = session.Call(velk::kFnEnumFileVersionInfo, &request, nullptr);
    // The walk shows only what it can copy (not a damaged edition, nor any on a full disk); the
    // database's own log tells what else it keeps, so that every edition is listed and a
    // damaged one is never taken for "the newest" by mistake.
    std::vector<zef::Edition> stored;
    if (!zef::EditionsOfFile(platform::FromUtf8(session.DbFolder()), wide, stored)) return versions;
    for (const zef::Edition& edition : stored) {
        const bool listed = std::any_of(versions.begin(), versions.end(), [&](const KeptVersion& v) {
            return v.versionId == edition.editionId;
        });
        if (listed) continue;
        KeptVersion version;
        version.versionId = edition.editionId;
        version.time = edition.time;
        version.size = edition.size;
        version.image = platform::ToUtf8(edition.image);
        version.fault = edition.state == zef::kContentMissing   ? "missing"
                        : edition.state == zef::kContentDamaged ? "damaged"
                                                                : "";
        versions.push_back(version);
    }
    // Memory versions first (the walk's order), then editions newest first.
    std::stable_sort(versions.begin(), versions.end(), [](const KeptVersion& a, const KeptVersion& b) {
        if (a.InMemory() || b.InMemory()) return a.InMemory() && !b.InMemory();
        return a.time != b.time ? a.time > b.time : a.versionId > b.versionId;
    });
    return versions;
}

std::string VersionNumber(const std::vector<KeptVersion>& versions, size_t index) {
    if (!versions[index].InMemory()) return std::to_string(versions[index].versionId);
    size_t ordinal = 0;
    for (size_t i = 0; i <= index; ++i) ordinal += versions[i].InMemory();
    return "m" + std::to_string(ordinal);
}

size_t FindVersion(const std::vector<KeptVersion>& versions, uint32_t number, bool inMemory) {
    uint32_t ordinal = 0;
    for (size_t i = 0; i < versions.size(); ++i) {
        if (inMemory ? versions[i].InMemory() && ++ordinal == number
                     : !versions[i].InMemory() && versions[i].versionId == number)
            return i;
    }
    return versions.size();
}

}  // namespace pellumhost
