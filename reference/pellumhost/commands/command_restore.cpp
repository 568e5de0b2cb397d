// `restore FILE [--version N|mN]` through the file restore (0x23600001) or the restore of one
// edition (0x23600005), and `restore --process PID` through the process walk (0x2360000D) and
// the change journal.
#include <filesystem>
#include <memory>
#include <set>

#include "host/call_records.h"
#include "host/restore_records.h"
#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/progress_bar.h"
#include "reference/pellumhost/commands/version_list.h"
#include "reference/pellumhost/host_log.h"
#include "reference/pellumhost/protection/change_log.h"
#include "reference/pellumhost/protection/present_tree.h"
#include "reference/pellumhost/protection/process_rollback.h"
#include "reference/pellumhost/protection/rollback_steps.h"
#include "reference/zef/store_check.h"

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

// The steps that undo what the process did according to the change journal, for the files its
// walk did not bring back: a process that took no version of a file (another process's open,
// or the baseline, held those bytes already) is undone all the same.
std::vector<StepResult> UndoFromJournal(const HostOptions& options, PluginSession& session,
                                        const std::vector<RolledBackFile>& walked,
                                        const StepProgress& progress, std::string& problem) {
    const std::u16string db = platform::FromUtf8(session.DbFolder());
    std::vector<ChangeEntry> journal;
    if (!ReadChangeLog(db, journal, problem)) return {};
    RollbackQuestion question;
    question.processIds.insert(options.processId);
    std::set<std::u16string> files;
    for (const ChangeEntry& entry : journal) {
        if (entry.processId != options.processId || entry.folder || entry.kind == ChangeKind::kBackedUp)
            continue;
        if (question.toUnixMs == 0) question.toUnixMs = entry.unixMs;
        files.insert(entry.kind == ChangeKind::kRenamed ? entry.to : entry.path);
    }
    for (const RolledBackFile& file : walked)
        if (file.result == velk::kSuccess) files.erase(file.path);
    if (files.empty()) return {};
    std::vector<zef::Edition> editions;
    if (!zef::EditionsUnder(db, u"", editions)) {
        problem = "the database's edition log cannot be read; `Pellumhost check` says why";
        return {};
    }
    const std::vector<RollbackStep> steps = PlanRollback(
        question, editions, journal, PresentTreeOfFiles({files.begin(), files.end()}));
    return RunRollbackSteps(session.Exports(), session.Wrapper(), steps,
                            QuarantineFolder(db, UnixMilliseconds()), progress);
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
    std::string problem;
    const std::vector<StepResult> steps = UndoFromJournal(options, session, files, progress, problem);
    bar.reset();
    JsonWriter& json = output.Document();
    json.Key("processId").Unsigned(options.processId).Key("walkResult").Unsigned(walked);
    json.Key("files").BeginArray();
    size_t failed = 0, done = 0;
    const auto one = [&](const std::string& what, const std::u16string& path, uint32_t edition,
                         uint32_t result, const std::string& said) {
        const bool ok = result == velk::kSuccess;
        failed += ok ? 0 : 1;
        done += ok ? 1 : 0;
        json.BeginObject()
            .Key("file").String(platform::ToUtf8(path))
            .Key("action").String(what)
            .Key("edition").Unsigned(edition)
            .Key("result").Unsigned(result)
            .Key("restored").Bool(ok)
            .EndObject();
        output.Print("  %-8s %s  (%s %s)\n", ok ? "restored" : "FAILED", platform::ToUtf8(path).c_str(),
                     what.c_str(), said.c_str());
        HostLog(2, __LINE__, "restore of process " + std::to_string(options.processId) + ": " +
                                 what + " " + platform::ToUtf8(path) + " " + ResultText(result));
    };
    for (const RolledBackFile& file : files)
        one("restore", file.path, file.versionId, file.result, RestoreResultText(file.result));
    for (const StepResult& step : steps)
        one(StepActionName(step.step.action), step.step.path, step.step.editionId, step.result,
            (step.step.action == StepAction::kRestore ? RestoreResultText(step.result)
                                                     : ResultText(step.result)) +
                (step.detail.empty() ? "" : "; " + step.detail));
    json.EndArray().Key("restored").Unsigned(done).Key("failed").Unsigned(failed);
    if (!problem.empty()) output.Print("%s\n", problem.c_str());
    if (velk::Failed(walked))
        return output.Fail(kExitFailed, "the process walk failed: " + ResultText(walked));
    if (done + failed == 0)
        return output.Fail(kExitFailed, "no versions kept of files that process " +
                                            std::to_string(options.processId) + " changed");
    output.Print("process %u: %zu file%s restored, %zu failed\n", options.processId, done,
                 done == 1 ? "" : "s", failed);
    if (failed != 0)
        return output.Fail(kExitFailed, std::to_string(failed) + " of " +
                                            std::to_string(done + failed) + " files not restored");
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
