// The plug-in as a host runs it, for benchmarks: loaded and started with the fake engine,
// then diagnostics off and the engine quiet (every entry point answers at once).
#pragma once
#include <memory>

#include "host/log_library_control.h"
#include "tests/module/plugin_harness.h"

struct QuietPlugin {
    QuietPlugin() {
        Quastle_SetDefaultLevel(0);
        harness = std::make_unique<PluginHarness>();
        harness->Start();
        Quastle_ResetLevels();  // diagnostics off for the measured calls
        Quastle_SetCapture(0);
        harness->Engine().SetQuiet(true);
        wrapper = harness->Exports().QueryInterface(kPluginInterfaceId);
    }
    ~QuietPlugin() { harness->Engine().SetQuiet(false); }
    QuietPlugin(const QuietPlugin&) = delete;
    QuietPlugin& operator=(const QuietPlugin&) = delete;

    std::unique_ptr<PluginHarness> harness;
    ICommonPluginInterface* wrapper = nullptr;
};
