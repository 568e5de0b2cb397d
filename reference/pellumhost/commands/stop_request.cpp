// The stop request file.
#include "reference/pellumhost/commands/stop_request.h"

#include <filesystem>
#include <fstream>

#include "platform/process.h"
#include "reference/pellumhost/commands/plugin_session.h"

namespace fs = std::filesystem;

namespace pellumhost {

std::string StopRequestPath(const std::string& dbFolder) {
    return Utf8Of(PathOf(dbFolder) / "Pellumhost.stop");
}

bool LeaveStopRequest(const std::string& dbFolder, std::string& error) {
    std::ofstream out(PathOf(StopRequestPath(dbFolder)), std::ios::binary);
    out << "stop requested by process " << platform::CurrentProcessId() << "\n";
    out.close();
    if (!out) error = "cannot write " + StopRequestPath(dbFolder);
    return static_cast<bool>(out);
}

bool StopRequested(const std::string& dbFolder) {
    std::error_code ec;
    return fs::exists(PathOf(StopRequestPath(dbFolder)), ec);
}

bool RemoveStopRequest(const std::string& dbFolder) {
    std::error_code ec;
    return fs::remove(PathOf(StopRequestPath(dbFolder)), ec);
}

}  // namespace pellumhost
