// `rollback DIR --to TIME`: the tree brought back from the editions and the change journal
// (rollback_plan.h), step by step (rollback_steps.h), or with --dry-run only listed.
#include <filesystem>
#include <memory>

#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/plugin_session.h"
#include "reference/pellumhost/commands/progress_bar.h"
#include "reference/pellumhost/protection/change_log.h"
#include "reference/pellumhost/protection/present_tree.h"
#include "reference/pellumhost/protection/rollback_plan.h"
#include "reference/pellumhost/protection/rollback_steps.h"
#include "reference/zef/store_check.h"

namespace pellumhost {
namespace {

void Describe(const RollbackStep& step, CommandOutput& output) {
    const std::string path = platform::ToUtf8(step.path);
    switch (step.action) {
        case StepAction::kRenameFolderBack:
        case StepAction::kRenameBack:
            output.Print("  %-18s %s <- %s (%s)\n", StepActionName(step.action), path.c_str(),
                         platform::ToUtf8(step.from).c_str(), step.why.c_str());
            break;
        case StepAction::kRestore:
        case StepAction::kNoContent:
            output.Print("  %-18s %s from edition %u (%s)\n", StepActionName(step.action),
                         path.c_str(), step.editionId, step.why.c_str());
            break;
        case StepAction::kQuarantine:
        case StepAction::kLeaveCreated:
            output.Print("  %-18s %s (%s)\n", StepActionName(step.action),
                         platform::ToUtf8(step.from).c_str(), step.why.c_str());
            break;
    }
}

void StepJson(JsonWriter& json, const RollbackStep& step) {
    json.Key("action").String(StepActionName(step.action))
        .Key("path").String(platform::ToUtf8(step.path))
        .Key("why").String(step.why);
    if (!step.from.empty()) json.Key("from").String(platform::ToUtf8(step.from));
    if (step.editionId != 0) json.Key("edition").Unsigned(step.editionId);
}

}  // namespace

int RunRollbackCommand(const HostOptions& options) {
    CommandOutput output("rollback", options.json);
    const std::string folder = AbsolutePath(options.target);
    std::error_code ec;
    if (!std::filesystem::is_directory(PathOf(folder), ec))
        return output.Finish(output.Fail(kExitBadPath, "cannot roll back " + folder + ": not a folder"));
    RollbackQuestion question;
    std::string error;
    if (!ParseMoment(options.to, UnixMilliseconds(), question.toUnixMs, error))
        return output.Finish(output.Fail(kExitUsage, "--to: " + error));
    question.folder = platform::FromUtf8(folder);
    while (question.folder.size() > 1 && (question.folder.back() == u'/' || question.folder.back() == u'\\'))
        question.folder.pop_back();
    if (options.processId != 0) question.processIds.insert(options.processId);
    question.image = platform::FromUtf8(options.image);
    question.quarantine = options.quarantine;

    PluginSession session(options);
    int status = session.Start(output);
    if (status != kExitOk) return output.Finish(status);
    const std::u16string db = platform::FromUtf8(session.DbFolder());
    std::vector<zef::Edition> editions;
    if (!zef::EditionsUnder(db, question.folder, editions))
        return output.Finish(output.Fail(kExitDatabaseDamaged, "the database's edition log cannot "
                                         "be read; `Pellumhost check` says why"));
    std::vector<ChangeEntry> journal;
    std::string note;
    if (!ReadChangeLog(db, journal, note))
        return output.Finish(output.Fail(kExitDatabaseDamaged, note));
    if (!note.empty()) output.Print("%s\n", note.c_str());

    const std::vector<RollbackStep> steps =
        PlanRollback(question, editions, journal, PresentTreeOf(folder, session.DbFolder()));
    const std::string moment = UtcText(question.toUnixMs / 1000);
    JsonWriter& json = output.Document();
    json.Key("folder").String(folder).Key("to").String(moment).Key("toUnixMs").Unsigned(question.toUnixMs)
        .Key("dryRun").Bool(options.dryRun).Key("editions").Unsigned(editions.size())
        .Key("journalEntries").Unsigned(journal.size());
    output.Print("%s as it was at %s: %zu step%s (%zu editions, %zu journal entries read)\n",
                 folder.c_str(), moment.c_str(), steps.size(), steps.size() == 1 ? "" : "s",
                 editions.size(), journal.size());
    if (options.dryRun) {
        json.Key("steps").BeginArray();
        for (const RollbackStep& step : steps) {
            Describe(step, output);
            json.BeginObject();
            StepJson(json, step);
            json.EndObject();
        }
        json.EndArray();
        return output.Finish(kExitOk);
    }
    std::unique_ptr<ProgressBar> bar;
    const std::vector<StepResult> results = RunRollbackSteps(
        session.Exports(), session.Wrapper(), steps, QuarantineFolder(db, UnixMilliseconds()),
        [&bar, &steps](size_t done, size_t total) {
            if (!bar && steps.size() > 1) bar = std::make_unique<ProgressBar>("rolling back", total);
            if (bar) bar->Update(done);
        });
    bar.reset();
    size_t failed = 0;
    json.Key("steps").BeginArray();
    for (const StepResult& result : results) {
        Describe(result.step, output);
        const bool ok = StepSucceeded(result);
        failed += ok ? 0 : 1;
        const std::string said = result.step.action == StepAction::kRestore
                                     ? RestoreResultText(result.result)
                                     : ResultText(result.result) + (ok ? " done" : " not done");
        output.Print("    %s%s%s\n", said.c_str(), result.detail.empty() ? "" : ": ",
                     result.detail.c_str());
        json.BeginObject();
        StepJson(json, result.step);
        json.Key("result").Unsigned(result.result).Key("resultText").String(said)
            .Key("detail").String(result.detail).EndObject();
    }
    json.EndArray().Key("failed").Unsigned(failed);
    output.Print("%zu of %zu steps done%s\n", results.size() - failed, results.size(),
                 failed == 0 ? "" : "; the steps not done are named above with their result");
    return output.Finish(failed == 0 ? kExitOk
                                     : output.Fail(kExitPartlyRolledBack,
                                                   std::to_string(failed) + " of " +
                                                       std::to_string(results.size()) +
                                                       " steps could not be done"));
}

}  // namespace pellumhost
