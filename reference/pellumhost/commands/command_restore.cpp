// `restore FILE [--version N|mN]` through the file restore (0x23600001) or the restore of one
// edition (0x23600005), and `restore --process PID` through the process walk (0x2360000D).
#include <filesystem>
#include <memory>

#include "host/call_records.h"
#include "host/restore_records.h"
#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/progress_bar.h"
#include "reference/pellumhost/commands/version_list.h"
#include "reference/pellumhost/host_log.h"
#include "reference/pellumhost/protection/process_rollback.h"

namespace pellumhost {
namespace {

// The file restore offers the memory versions newest first: the one at `wanted` (from 0) is
// chosen.
struct Choice {
    uint32_t wanted = 0;
    uint32_t offered = 0;
};

int32_t ChooseOffered(void* context, const char16_t* /*copy*/, void* /*userData*/,
                      uint32_t* decision) {
    auto* choice = static_cast<Choice*>(context);
    if (choice->offered++ == choice->wanted) *decision = velk::kDecisionRestore;
    return 1;
}

uint32_t RestoreFile(const PluginSession& session, const std::u16string& path, uint32_t memoryIndex,
                     uint32_t& reboot) {
    Choice choice{memoryIndex, 0};
    velk::RestoreFileRequest request{&choice, &ChooseOffered, nullptr, nullptr, path.c_str(),
                                     0, 0, 0};
    return session.Call(velk::kFnRestoreFile, &request, &reboot);
}

uint32_t RestoreEdition(const PluginSession& session, const std::u16string& path,
                        uint32_t editionId, uint32_t& reboot) {
    velk::EditionRestoreRequest request{nullptr, path.c_str(), 0, 0, 0, editionId};
    return session.Call(velk::kFnRestoreEdition, &request, &reboot);
}

int RestoreOneFile(const HostOptions& options, CommandOutput& output, PluginSession& session) {
    const std::string path = AbsolutePath(options.target);
    const std::u16string wide = platform::FromUtf8(path);
    std::error_code ec;
    if (!std::filesystem::is_directory(PathOf(path).parent_path(), ec) ||
        std::filesystem::is_directory(PathOf(path), ec))
        return output.Fail(kExitBadPath, "cannot restore " + path + ": its folder is missing or "
                                         "it is a folder");
    JsonWriter& json = output.Document();
    json.Key("file").String(path);
    uint32_t reboot = 0, result = 0;
    // The version is chosen here and named in the answer, so that a version that cannot be
    // restored is an error, never a quiet fall-back to an older one.
    uint32_t walked = 0;
    const std::vector<KeptVersion> versions = ListVersions(session, path, walked);
    const size_t chosenAt = options.version == 0
                                ? 0
                                : FindVersion(versions, options.version, options.versionInMemory);
    if (chosenAt >= versions.size()) {
        const std::string wanted = options.version == 0 ? std::string("any version")
                                   : (options.versionInMemory ? "version m" : "edition ") +
                                         std::to_string(options.version);
        return output.Fail(kExitFailed, "cannot restore " + path + ": no " + wanted + " of it is "
                                        "kept (`versions` lists " + std::to_string(versions.size()) +
                                        ")");
    }
    const KeptVersion& chosen = versions[chosenAt];
    const std::string number = VersionNumber(versions, chosenAt);
    const std::string from = std::string(options.version == 0 ? "the newest version, " : "version ") +
                             number + " (" + UtcText(chosen.time) + ", " +
                             (chosen.InMemory() ? "memory" : "database") + ")";
    json.Key("version").String(number).Key("edition").Unsigned(chosen.versionId);
    if (!chosen.fault.empty())
        return output.Fail(kExitFailed, "cannot restore " + path + " from " + from + ": its content "
                                        "is " + chosen.fault + " in the database; `versions` lists "
                                        "the others (`Pellumhost check` tells the whole database)");
    uint32_t memoryIndex = 0;
    for (size_t i = 0; i < chosenAt; ++i) memoryIndex += versions[i].InMemory();
    result = chosen.InMemory() ? RestoreFile(session, wide, memoryIndex, reboot)
                               : RestoreEdition(session, wide, chosen.versionId, reboot);
    json.Key("result").Unsigned(result).Key("resultText").String(RestoreResultText(result));
    json.Key("restored").Bool(result == velk::kSuccess).Key("rebootNeeded").Bool(reboot != 0);
    if (result != velk::kSuccess)
        return output.Fail(kExitFailed, "cannot restore " + path + " from " + from + ": " +
                                            RestoreResultText(result) + session.EngineSays());
    output.Print("restored %s from %s%s\n", path.c_str(), from.c_str(),
                 reboot != 0 ? "; a restart is needed to finish" : "");
    return kExitOk;
}

int RestoreProcess(const HostOptions& options, CommandOutput& output, PluginSession& session) {
    std::unique_ptr<ProgressBar> bar;
    const RollbackProgress progress = [&bar](size_t done, size_t total) {
        if (!bar) bar = std::make_unique<ProgressBar>("restoring", total);
        bar->Update(done);
    };
    uint32_t walked = 0;
    const std::vector<RolledBackFile> files =
        RollBackProcess(session.Exports(), session.Wrapper(), options.processId, walked, progress);
    bar.reset();
    JsonWriter& json = output.Document();
    json.Key("processId").Unsigned(options.processId).Key("walkResult").Unsigned(walked);
    json.Key("files").BeginArray();
    size_t failed = 0;
    for (const RolledBackFile& file : files) {
        const std::string path = platform::ToUtf8(file.path);
        const bool ok = file.result == velk::kSuccess;
        failed += ok ? 0 : 1;
        json.BeginObject()
            .Key("file").String(path)
            .Key("edition").Unsigned(file.versionId)
            .Key("result").Unsigned(file.result)
            .Key("restored").Bool(ok)
            .EndObject();
        output.Print("  %-8s %s  (%s)\n", ok ? "restored" : "FAILED", path.c_str(),
                     RestoreResultText(file.result).c_str());
        HostLog(2, __LINE__, "restore of process " + std::to_string(options.processId) + ": " +
                                 path + " " + ResultText(file.result));
    }
    json.EndArray().Key("restored").Unsigned(files.size() - failed).Key("failed").Unsigned(failed);
    if (velk::Failed(walked))
        return output.Fail(kExitFailed, "the process walk failed: " + ResultText(walked));
    if (files.empty())
        return output.Fail(kExitFailed, "no versions kept of files that process " +
                                            std::to_string(options.processId) + " changed");
    output.Print("process %u: %zu file%s restored, %zu failed\n", options.processId,
                 files.size() - failed, files.size() - failed == 1 ? "" : "s", failed);
    if (failed != 0)
        return output.Fail(kExitFailed, std::to_string(failed) + " of " +
                                            std::to_string(files.size()) + " files not restored");
    return kExitOk;
}

}  // namespace

int RunRestoreCommand(const HostOptions& options) {
    CommandOutput output("restore", options.json);
    PluginSession session(options);
    int status = session.Start(output);
    if (status == kExitOk)
        status = options.processId != 0 ? RestoreProcess(options, output, session)
                                        : RestoreOneFile(options, output, session);
    return output.Finish(status);
}

}  // namespace pellumhost
