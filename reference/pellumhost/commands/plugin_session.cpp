// Starting and stopping the plug-in for one command, and telling each failure apart.
#include "reference/pellumhost/commands/plugin_session.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "host/log_library_control.h"
#include "host/message_object.h"
#include "host/result_codes.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/process_image.h"
#include "platform/text.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/host_log.h"

namespace fs = std::filesystem;

namespace pellumhost {
namespace {

constexpr uint32_t kComponentReplaced = 4116;
constexpr uint32_t kPatternCorrupt = 0xE0360008;

}  // namespace

std::u16string OwnFolder() {
    // The system's name for the running program: the name it was started by (a bare name found
    // on PATH, a link) would put the folder elsewhere.
    std::u16string folder = platform::ProcessImagePath(platform::CurrentProcessId());
    if (folder.empty()) {
        char16_t path[4096] = {};
        platform::OwnModuleFileName(path, 4096);
        folder = path;
    }
    const size_t cut = folder.rfind(platform::kPathSeparator);
    return cut == std::u16string::npos ? u"." : folder.substr(0, cut);
}

std::string AbsolutePath(const std::string& utf8) {
    std::error_code ec;
    const fs::path full = fs::absolute(PathOf(utf8), ec);
    return ec ? utf8 : Utf8Of(full.lexically_normal());
}

fs::path PathOf(const std::string& utf8) { return fs::path(platform::FromUtf8(utf8)); }
std::string Utf8Of(const fs::path& path) { return platform::ToUtf8(path.u16string()); }

std::u16string PluginPathOf(const HostOptions& options) {
    return options.pluginPath.empty()
               ? OwnFolder() + platform::kPathSeparator + u"PlugEngineZef" + platform::kModuleSuffix
               : platform::FromUtf8(options.pluginPath);
}

PluginSession::PluginSession(const HostOptions& options) : m_options(options) {}

PluginSession::~PluginSession() {
    Stop();
    if (m_service) m_service->AttachPlugin(nullptr);
}

int PluginSession::Start(CommandOutput& output) {
    std::string error;
    const int resolved = ResolveConfiguration(m_options, m_options.command == "run",
                                              m_configuration, error);
    if (resolved != kExitOk) return output.Fail(resolved, error);
    m_pluginPath = AbsolutePath(platform::ToUtf8(PluginPathOf(m_options)));
    m_enginePath = Utf8Of(PathOf(m_pluginPath).parent_path() /
                          (u"Zef" + std::u16string(platform::kModuleSuffix)));

    std::error_code ec;
    fs::create_directories(PathOf(LogFolder()), ec);
    if (ec) return output.Fail(kExitBadPath, "cannot create the log folder " + LogFolder());
    m_engineLog = Utf8Of(PathOf(LogFolder()) / "ZefEngine.log");
    m_engineLogFrom = fs::file_size(PathOf(m_engineLog), ec);
    if (ec) m_engineLogFrom = 0;
    // The plug-in writes its first lines as it loads: the sink is chosen before.
    m_diagnosticsTo = m_options.logFile.empty() ? "standard error" : m_options.logFile;
    if (m_options.logFile.empty() && !m_options.verbose) {
        const std::string hostLog = Utf8Of(PathOf(LogFolder()) / "Pellumhost.log");
        if (Quastle_SinkToFile(platform::FromUtf8(hostLog).c_str()) != 0) m_diagnosticsTo = hostLog;
    }
    HostLog(2, __LINE__, "command " + m_options.command + "; plug-in " + m_pluginPath +
                             "; database " + DbFolder());
    LogConfigurationProblems(m_configuration);

    m_plugin = std::make_unique<LoadedPlugin>(platform::FromUtf8(m_pluginPath));
    if (!m_plugin->Usable())
        return output.Fail(m_plugin->Untrusted() ? kExitUntrustedEngine : kExitNoPlugin,
                           m_plugin->Error());
    if (!fs::is_regular_file(PathOf(m_enginePath), ec))
        return output.Fail(kExitNoEngine, "the engine module " + m_enginePath +
                                              " is missing beside the plug-in");

    m_service = std::make_unique<ReferenceHostService>(m_configuration.configuration);
    const std::string feedbackLog = Utf8Of(PathOf(LogFolder()) / "feedback.log");
    if (!m_service->Feedback().Open(feedbackLog))
        HostLog(3, __LINE__, "cannot open " + feedbackLog + "; restore feedback is not recorded");
    const PluginExports& plugin = m_plugin->Exports();
    m_service->AttachPlugin(&plugin);  // subscribers are called through the plug-in's exports
    const uint32_t initialized = plugin.Initialize(m_service.get());
    if (initialized == velk::kEngineUntrusted)
        return output.Fail(kExitUntrustedEngine,
                           "the engine module " + m_enginePath +
                               " is not trusted (on Linux it must be owned by root or by you "
                               "and writable by nobody else)");
    if (velk::Failed(initialized))
        return output.Fail(kExitNotStarted, "the plug-in did not initialise: " +
                                                ResultText(initialized) + " (see " +
                                                m_diagnosticsTo + ")");
    m_initialized = true;
    const uint32_t started = plugin.PostInitialize();
    if (velk::Failed(started)) {
        // The database is the usual reason; the store's own diagnosis names it and its exit.
        std::string why;
        const int status = ExplainStoreFailure(DbFolder(), why);
        return output.Fail(status, "the engine did not start on " + DbFolder() + ": " +
                                       (status != kExitNotStarted ? why
                                                                  : ResultText(started) + EngineSays()));
    }
    m_wrapper = plugin.QueryInterface(kPluginInterfaceId);
    if (m_wrapper == nullptr)
        return output.Fail(kExitNotStarted, "the plug-in serves no calls: the engine is not "
                                            "started (its pattern may disable it)");

    // The pattern is checked as the host checks a replaced one: a component record of type 3.
    HostMessageObject replaced;
    VELK_DataHandle entry{};
    VELK_Msg_CreateDataHandle(0x100B5, &entry);
    VELK_Msg_PutUInt32(entry, 0x20001, 0);
    VELK_Msg_PutInt32(entry, 1, 3);
    VELK_Msg_PutData(replaced.handle, entry);
    VELK_Msg_DestroyDataHandle(&entry);
    if (plugin.OnNotify(kComponentReplaced, &replaced, nullptr) == kPatternCorrupt)
        return output.Fail(kExitCorruptPattern,
                           "the engine's pattern in " + PatternFolder() + " is corrupt");
    return kExitOk;
}

uint32_t PluginSession::Call(uint32_t functionId, void* input, void* output) const {
    if (m_wrapper == nullptr) return velk::kZefNotRunning;
    return m_plugin->Exports().CallFunc(m_wrapper, functionId, input, output);
}

void PluginSession::Stop() {
    if (!m_initialized) return;
    m_initialized = false;
    m_wrapper = nullptr;
    m_plugin->Exports().PreUninitialize();
    m_plugin->Exports().Uninitialize();
    HostLog(2, __LINE__, "plug-in stopped; " + std::to_string(m_service->Registrations()) +
                             " registrations and " + std::to_string(m_service->ProtectedFolders()) +
                             " protected folders left");
}

std::string PluginSession::EngineComplaint() const {
    // Only what this command appended is read, and of that at most the last 64 KiB.
    constexpr uintmax_t kTail = 64 * 1024;
    std::ifstream in(PathOf(m_engineLog), std::ios::binary | std::ios::ate);
    const std::streamoff end = in ? static_cast<std::streamoff>(in.tellg()) : 0;
    if (end <= 0 || static_cast<uintmax_t>(end) <= m_engineLogFrom) return "";
    const uintmax_t size = static_cast<uintmax_t>(end);
    const uintmax_t from = std::max(m_engineLogFrom, size - std::min(kTail, size));
    in.seekg(static_cast<std::streamoff>(from));
    // The first complaint is the cause; what follows tends to be its consequences.
    std::string line, error, warning;
    while (std::getline(in, line) && error.empty()) {
        for (auto [marker, kept] : {std::pair<const char*, std::string*>{" [error] ", &error},
                                    {" [warning] ", &warning}}) {
            const size_t at = line.find(marker);
            if (at != std::string::npos && kept->empty()) *kept = line.substr(at + std::strlen(marker));
        }
    }
    return !error.empty() ? error : warning;
}

std::string PluginSession::EngineSays() const {
    const std::string complaint = EngineComplaint();
    return complaint.empty() ? "; see " + m_engineLog : "; the engine says: " + complaint;
}

}  // namespace pellumhost
