// The commands of Pellumhost that work on the plug-in's versions and settings. Each starts the
// plug-in with the engine for its own run, prints its outcome as text or JSON (--json) and
// returns the program's exit status (exit_codes.h).
#pragma once
#include "reference/pellumhost/host_options.h"

namespace pellumhost {

int RunVersionsCommand(const HostOptions& options);
int RunRestoreCommand(const HostOptions& options);
int RunBackupCommand(const HostOptions& options);
// A folder brought back as it was at a time (rollback_plan.h), or what that would do.
int RunRollbackCommand(const HostOptions& options);
int RunStatusCommand(const HostOptions& options);
int RunPoliciesCommand(const HostOptions& options);
// Service mode: watches folders until a stop request.
int RunServiceCommand(const HostOptions& options);
// Leaves a stop request for the service on the database and waits until it has stopped.
int RunStopCommand(const HostOptions& options);
// The database itself, without the plug-in: every edition checked, or the edition log rebuilt.
int RunCheckCommand(const HostOptions& options);
int RunRepairCommand(const HostOptions& options);
// Why the engine could not open the database in dbFolder, as an exit status (in use, damaged,
// read-only; kExitNotStarted when the store itself opens) and one sentence in message.
int ExplainStoreFailure(const std::string& dbFolder, std::string& message);

}  // namespace pellumhost
