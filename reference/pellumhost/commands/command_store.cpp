// `check` and `repair`: the database examined, or its edition log rebuilt, by the store's own
// code and without the plug-in, so that they work when the engine cannot start on it.
#include <string>

#include "platform/text.h"
#include "reference/pellumhost/commands/command_configuration.h"
#include "reference/pellumhost/commands/command_output.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/zef/store_check.h"

namespace pellumhost {

namespace {

int StoreHealthExit(zef::StoreHealth health) {
    switch (health) {
        case zef::StoreHealth::kHealthy: return kExitOk;
        case zef::StoreHealth::kInUse: return kExitDatabaseInUse;
        case zef::StoreHealth::kReadOnly: return kExitDatabaseReadOnly;
        case zef::StoreHealth::kFolderUnusable: return kExitBadPath;
        case zef::StoreHealth::kIndexDamaged:
        case zef::StoreHealth::kIndexMissing:
        case zef::StoreHealth::kContentDamaged:
        case zef::StoreHealth::kContentMissing: return kExitDatabaseDamaged;
    }
    return kExitFailed;
}

int RunStoreCommand(const HostOptions& options, bool repair) {
    CommandOutput output(options.command, options.json);
    CommandConfiguration resolved;
    std::string error;
    const int status = ResolveConfiguration(options, false, resolved, error);
    if (status != kExitOk) return output.Finish(output.Fail(status, error));
    const std::u16string folder = platform::FromUtf8(resolved.dbFolder);

    zef::StoreReport report;
    zef::StoreHealth health =
        repair ? zef::RepairStore(folder, report) : zef::CheckStore(folder, report);
    // A running service may refuse every read of its database: a log that cannot be read is
    // then in use, not damaged.
    zef::StoreReport diagnosis;
    if (health == zef::StoreHealth::kIndexDamaged &&
        zef::DiagnoseStore(folder, diagnosis) == zef::StoreHealth::kInUse) {
        health = zef::StoreHealth::kInUse;
        report.summary = diagnosis.summary;
    }
    const std::string summary = platform::ToUtf8(report.summary);
    if (health == zef::StoreHealth::kInUse || health == zef::StoreHealth::kFolderUnusable)
        return output.Finish(output.Fail(StoreHealthExit(health), summary));
    JsonWriter& json = output.Document();
    json.Key("database").String(resolved.dbFolder)
        .Key("health").String(platform::ToUtf8(zef::StoreHealthName(health)))
        .Key("summary").String(summary)
        .Key("editions").Unsigned(report.editions)
        .Key("intact").Unsigned(report.intact)
        .Key("orphans").Unsigned(report.orphans)
        .Key("problems").BeginArray();
    for (const std::u16string& problem : report.problems) json.String(platform::ToUtf8(problem));
    json.EndArray();
    output.Print("%s %s: %u editions, %u intact; %u content files no edition names\n",
                 repair ? "repaired" : "checked", resolved.dbFolder.c_str(), report.editions,
                 report.intact, report.orphans);
    for (const std::u16string& problem : report.problems)
        output.Print("  %s\n", platform::ToUtf8(problem).c_str());
    const int exit = StoreHealthExit(health);
    if (exit != kExitOk) return output.Finish(output.Fail(exit, summary));
    output.Print("%s\n", summary.c_str());
    return output.Finish(kExitOk);
}

}  // namespace

int RunCheckCommand(const HostOptions& options) { return RunStoreCommand(options, false); }

int ExplainStoreFailure(const std::string& dbFolder, std::string& message) {
    zef::StoreReport report;
    const zef::StoreHealth health = zef::DiagnoseStore(platform::FromUtf8(dbFolder), report);
    message = platform::ToUtf8(report.summary);
    // A store that opens for writing, or only for reading, is not why the engine stopped.
    return health == zef::StoreHealth::kHealthy || health == zef::StoreHealth::kReadOnly
               ? kExitNotStarted
               : StoreHealthExit(health);
}
int RunRepairCommand(const HostOptions& options) { return RunStoreCommand(options, true); }

}  // namespace pellumhost
