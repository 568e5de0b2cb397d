// The host is linked with the message-buffer library (Morrick) and the log library (Quastle):
// the loader maps them with the program, before main. They must pass the trust rule that the
// plug-in applies to the engine, and are checked before their own initialisers run (Linux:
// from the program's preinit array), so that a library someone else could write never runs
// as the service. On Windows the host takes unsigned modules, as the plug-in's test build
// takes an unsigned engine: the reference modules are not signed.
#include "host/log_library_control.h"
#include "host/message_library.h"
#include "platform/module_trust.h"
#include "reference/pellumhost/commands/exit_codes.h"

namespace {

constexpr bool kAcceptUnsignedModules = true;

void CheckLinkedModules() {
    const void* const modules[] = {reinterpret_cast<const void*>(&VELK_Msg_CreateDataHandle),
                                   reinterpret_cast<const void*>(&Quastle_SetDefaultLevel)};
    platform::RefuseUntrustedLinkedModules(modules, sizeof modules / sizeof modules[0],
                                           kAcceptUnsignedModules, pellumhost::kExitUntrustedEngine);
}

PEZ_CHECK_LINKED_MODULES_AT_START(CheckLinkedModules);

}  // namespace
