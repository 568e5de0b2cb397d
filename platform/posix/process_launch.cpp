// posix_spawn, waitpid and kill.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/process_launch.h"
#include "platform/text.h"


extern char** environ;

namespace platform {

uint32_t LaunchProgram(const std::u16string& path, const std::vector<std::string>& args) {
    std::string program = ToUtf8(path);
    char* self = &program[0];
    std::vector<char*> argv{self};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, self, nullptr, nullptr, argv.data(), environ) != 0) return 0;
    return static_cast<uint32_t>(pid);
}

int WaitForProcess(uint32_t processId, uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(static_cast<pid_t>(processId), &status,
                                    timeoutMs == kWaitForever ? 0 : WNOHANG);
        if (ended < 0) return -1;
        if (ended != 0) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (std::chrono::steady_clock::now() >= deadline) return kStillRunning;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool KillProcess(uint32_t processId) {
    if (kill(static_cast<pid_t>(processId), SIGKILL) != 0) return false;
    int status = 0;
    return waitpid(static_cast<pid_t>(processId), &status, 0) >= 0;
}

}  // namespace platform
