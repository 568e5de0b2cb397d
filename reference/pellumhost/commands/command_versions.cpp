// `versions FILE`: every version kept of a file, newest first.
#include <filesystem>

#include "host/result_codes.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/version_list.h"

namespace pellumhost {

int RunVersionsCommand(const HostOptions& options) {
    CommandOutput output("versions", options.json);
    const std::string path = AbsolutePath(options.target);
    PluginSession session(options);
    const int started = session.Start(output);
    if (started != kExitOk) return output.Finish(started);

    uint32_t walked = 0;
    const std::vector<KeptVersion> versions = ListVersions(session, path, walked);
    if (velk::Failed(walked))
        return output.Finish(output.Fail(kExitFailed, "the version walk failed: " + ResultText(walked)));
    std::error_code ec;
    if (versions.empty() && !std::filesystem::exists(PathOf(path), ec))
        return output.Finish(output.Fail(kExitBadPath, "no file " + path + " and no versions kept of it"));

    JsonWriter& json = output.Document();
    json.Key("file").String(path).Key("versions").BeginArray();
    output.Print("%s: %zu version%s kept, newest first\n", path.c_str(), versions.size(),
                 versions.size() == 1 ? "" : "s");
    if (!versions.empty())
        output.Print("  %8s  %-23s %12s  %-8s  %s\n", "number", "time", "size", "where", "writer");
    for (size_t i = 0; i < versions.size(); ++i) {
        const KeptVersion& v = versions[i];
        const std::string where = v.InMemory()      ? "memory"
                                  : v.fault.empty() ? "database"
                                                    : "database, " + v.fault;
        const std::string number = VersionNumber(versions, i);
        json.BeginObject()
            .Key("number").String(number)
            .Key("time").Unsigned(v.time)
            .Key("timeText").String(UtcText(v.time))
            .Key("size").Unsigned(v.size)
            .Key("where").String(v.InMemory() ? "memory" : "database")
            .Key("fault").String(v.fault)
            .Key("edition").Unsigned(v.versionId)
            .Key("writerImage").String(v.image)
            .EndObject();
        output.Print("  %8s  %-23s %12llu  %-8s  %s\n", number.c_str(), UtcText(v.time).c_str(),
                     static_cast<unsigned long long>(v.size), where.c_str(),
                     v.image.empty() ? "(unknown)" : v.image.c_str());
    }
    json.EndArray();
    return output.Finish(kExitOk);
}

}  // namespace pellumhost
