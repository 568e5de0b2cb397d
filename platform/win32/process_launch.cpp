// CreateProcessW of a program, WaitForSingleObject and TerminateProcess. The
// handle of each launched process is kept, under one lock, until it has been awaited or ended.
#include <windows.h>

#include <map>
#include <mutex>

#include "platform/process_launch.h"
#include "platform/text.h"

namespace platform {
namespace {

std::mutex g_lock;
std::map<uint32_t, HANDLE> g_launched;

// One argument as the C runtime splits a command line: quoted when it holds a blank or a
// quote, with the backslashes before a quote doubled.
std::u16string Quoted(const std::u16string& arg) {
    if (!arg.empty() && arg.find_first_of(u" \t\"") == std::u16string::npos) return arg;
    std::u16string out = u"\"";
    size_t slashes = 0;
    for (char16_t c : arg) {
        if (c == u'\\') {
            ++slashes;
            continue;
        }
        out.append(c == u'"' ? 2 * slashes + 1 : slashes, u'\\');
        slashes = 0;
        out += c;
    }
    out.append(2 * slashes, u'\\');
    return out + u"\"";
}

HANDLE Take(uint32_t processId) {
    std::lock_guard<std::mutex> guard(g_lock);
    const auto found = g_launched.find(processId);
    if (found == g_launched.end()) return nullptr;
    const HANDLE process = found->second;
    g_launched.erase(found);
    return process;
}

}  // namespace

uint32_t LaunchProgram(const std::u16string& image, const std::vector<std::string>& args) {
    std::u16string line = Quoted(image);
    for (const std::string& arg : args) line += u" " + Quoted(FromUtf8(arg));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(reinterpret_cast<const wchar_t*>(image.c_str()),
                        reinterpret_cast<wchar_t*>(&line[0]), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &started))
        return 0;
    CloseHandle(started.hThread);
    std::lock_guard<std::mutex> guard(g_lock);
    g_launched[started.dwProcessId] = started.hProcess;
    return started.dwProcessId;
}

int WaitForProcess(uint32_t processId, uint32_t timeoutMs) {
    HANDLE process = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        const auto found = g_launched.find(processId);
        if (found == g_launched.end()) return -1;
        process = found->second;
    }
    const DWORD waited = WaitForSingleObject(process, timeoutMs == kWaitForever ? INFINITE : timeoutMs);
    if (waited == WAIT_TIMEOUT) return kStillRunning;
    Take(processId);
    DWORD status = 0;
    const bool known = waited == WAIT_OBJECT_0 && GetExitCodeProcess(process, &status);
    CloseHandle(process);
    return known ? static_cast<int>(status) : -1;
}

bool KillProcess(uint32_t processId) {
    const HANDLE process = Take(processId);
    if (process == nullptr) return false;
    const bool ended = TerminateProcess(process, 1) != 0 &&
                       WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

}  // namespace platform
