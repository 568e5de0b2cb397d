// `backup FILE`: the file's content kept as an edition now (0x23600008).
#include <filesystem>

#include "host/call_records.h"
#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/version_list.h"

namespace pellumhost {

int RunBackupCommand(const HostOptions& options) {
    CommandOutput output("backup", options.json);
    const std::string path = AbsolutePath(options.target);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(PathOf(path), ec))
        return output.Finish(output.Fail(kExitBadPath, "cannot back up " + path + ": not a file"));
    PluginSession session(options);
    const int started = session.Start(output);
    if (started != kExitOk) return output.Finish(started);

    const std::u16string wide = platform::FromUtf8(path);
    velk::BackupFileRequest request{wide.c_str()};
    const uint32_t result = session.Call(velk::kFnBackupFile, &request, nullptr);
    JsonWriter& json = output.Document();
    json.Key("file").String(path).Key("result").Unsigned(result);
    if (result != velk::kSuccess)
        return output.Finish(output.Fail(kExitFailed, "cannot back up " + path + ": " +
                                                          RestoreResultText(result) +
                                                          session.EngineSays()));
    uint32_t walked = 0;
    const std::vector<KeptVersion> versions = ListVersions(session, path, walked);
    json.Key("versions").Unsigned(versions.size());
    if (!versions.empty())
        json.Key("newestEdition").Unsigned(versions.front().versionId)
            .Key("newestSize").Unsigned(versions.front().size);
    output.Print("backed up %s: %zu version%s kept", path.c_str(), versions.size(),
                 versions.size() == 1 ? "" : "s");
    if (!versions.empty())
        output.Print(", newest edition %u of %llu bytes", versions.front().versionId,
                     static_cast<unsigned long long>(versions.front().size));
    output.Print("\n");
    return output.Finish(kExitOk);
}

}  // namespace pellumhost
