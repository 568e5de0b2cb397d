// `status`: what runs, where its data lies and which configuration file it was started from.
#include <filesystem>

#include "engine_api/zef_records.h"
#include "host/call_records.h"
#include "host/result_codes.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/plugin_session.h"
#include "reference/pellumhost/protection/file_activity.h"

namespace fs = std::filesystem;

namespace pellumhost {
namespace {

struct StoredCount {
    uint64_t files = 0;
    uint64_t editions = 0;
};

uint32_t CountStored(uint64_t context, const void* backupFile, uint64_t /*parameter*/,
                     uint32_t /*reserved*/) {
    auto* count = reinterpret_cast<StoredCount*>(context);
    ++count->files;
    count->editions += static_cast<const zef::BackupFileInfo*>(backupFile)->editionCount;
    return 1;
}

uint64_t FolderBytes(const fs::path& folder) {
    uint64_t bytes = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code sizeError;
        if (it->is_regular_file(sizeError)) {
            const uintmax_t size = it->file_size(sizeError);
            if (!sizeError) bytes += size;
        }
    }
    return bytes;
}

}  // namespace

int RunStatusCommand(const HostOptions& options) {
    CommandOutput output("status", options.json);
    PluginSession session(options);
    const int started = session.Start(output);
    if (started != kExitOk) return output.Finish(started);

    ModuleVersion version{};
    session.Exports().GetModuleVersion(&version);
    const std::string versionText = std::to_string(version.major) + "." +
                                    std::to_string(version.minor) + "." +
                                    std::to_string(version.build);
    uint32_t maxFileSize = 0;
    session.Call(velk::kFnMaxFileSize, nullptr, &maxFileSize);
    StoredCount stored;
    velk::BackupFileListRequest list{reinterpret_cast<uint64_t>(&stored), &CountStored, 0};
    const uint32_t listed = session.Call(velk::kFnListBackupFiles, &list, nullptr);
    const uint64_t dbBytes = FolderBytes(PathOf(session.DbFolder()));
    const std::unique_ptr<FileActivitySource> source = MakeFileActivitySource();
    const std::string sourceKind = source ? source->Kind() : "none";
    const CommandConfiguration& configuration = session.Configuration();

    output.Document()
        .Key("plugin").BeginObject()
            .Key("path").String(session.PluginPath())
            .Key("moduleId").Unsigned(session.Exports().GetModuleID())
            .Key("version").String(versionText)
            .Key("running").Bool(session.Wrapper() != nullptr)
        .EndObject()
        .Key("engine").BeginObject()
            .Key("path").String(session.EnginePath())
            .Key("started").Bool(session.Wrapper() != nullptr)
            .Key("maxFileSize").Unsigned(maxFileSize)
            .Key("pattern").String(session.PatternFolder())
        .EndObject()
        .Key("database").BeginObject()
            .Key("folder").String(session.DbFolder())
            .Key("bytes").Unsigned(dbBytes)
            .Key("files").Unsigned(stored.files)
            .Key("editions").Unsigned(stored.editions)
            .Key("listResult").Unsigned(listed)
        .EndObject()
        .Key("logFolder").String(session.LogFolder())
        .Key("diagnostics").String(session.DiagnosticsTo())
        .Key("fileSource").String(sourceKind)
        .Key("configuration").BeginObject().Key("file");
    if (configuration.file.empty()) output.Document().Null();
    else output.Document().String(configuration.file);
    output.Document()
            .Key("problems").Unsigned(configuration.problems.size())
            .Key("overrides").Unsigned(options.settings.size())
        .EndObject();

    output.Print("plug-in      %s (module %u, version %s), running\n", session.PluginPath().c_str(),
                 session.Exports().GetModuleID(), versionText.c_str());
    output.Print("engine       %s, started; files up to %u bytes; pattern %s\n",
                 session.EnginePath().c_str(), maxFileSize, session.PatternFolder().c_str());
    output.Print("database     %s, %llu KiB on disk\n", session.DbFolder().c_str(),
                 static_cast<unsigned long long>(dbBytes >> 10));
    output.Print("editions     %llu of %llu file%s\n", static_cast<unsigned long long>(stored.editions),
                 static_cast<unsigned long long>(stored.files), stored.files == 1 ? "" : "s");
    output.Print("file source  %s\n", sourceKind.c_str());
    output.Print("config       %s; %zu --set\n", ConfigurationSummary(configuration).c_str(),
                 options.settings.size());
    output.Print("logs         %s (Report.log, ZefEngine.log); diagnostic lines: %s\n",
                 session.LogFolder().c_str(), session.DiagnosticsTo().c_str());
    if (velk::Failed(listed))
        return output.Finish(output.Fail(kExitFailed, "the database listing failed: " + ResultText(listed)));
    return output.Finish(kExitOk);
}

}  // namespace pellumhost
