// Carries out a rollback plan (rollback_plan.h): folders and files renamed back, contents
// restored through the plug-in's restore by edition (0x23600005, which writes the restore
// report and sends the feedback) with their missing folders made first, files created since
// quarantined into the database or left. Every folder of the tree is reached without links and
// every move is relative to a folder held open, so nobody who can write in the tree can turn
// the service's writes elsewhere. Runs on the calling thread.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/common_plugin_interface.h"
#include "reference/pellumhost/protection/rollback_plan.h"

namespace pellumhost {

struct StepResult {
    RollbackStep step;
    uint32_t result = 0;  // the plug-in's result for a restore; kSuccess or kNotDone otherwise
    std::string detail;   // why a step failed, or where a quarantined file went
};

// Called after each step with the steps done and the steps to do.
using StepProgress = std::function<void(size_t done, size_t total)>;

// The quarantine of a rollback begun at unixMs: DB/quarantine/<UTC time>-<pid>.
std::u16string QuarantineFolder(const std::u16string& dbFolder, uint64_t unixMs);

// Runs every step in order; one result per step. quarantine is the folder (made when first
// needed) that files created since are moved into, with a list of where each came from.
std::vector<StepResult> RunRollbackSteps(const PluginExports& plugin,
                                         ICommonPluginInterface* wrapper,
                                         const std::vector<RollbackStep>& steps,
                                         const std::u16string& quarantine,
                                         const StepProgress& progress = {});

// True when the step leaves the file as it was at the moment (or, for a file created since,
// dealt with as asked).
bool StepSucceeded(const StepResult& result);

}  // namespace pellumhost
