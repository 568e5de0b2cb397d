// The reference host's readers of what a plug-in or a person hands it: the restore feedback
// decoder (protocol-buffer bytes from the plug-in) and the configuration file's parser, on
// the same bytes (of exactly their size, from libFuzzer and the replay alike, so that
// AddressSanitizer catches any read past the end).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "reference/pellumhost/services/feedback_log.h"
#include "reference/pellumhost/services/host_configuration.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text;
    pellumhost::DecodeRestoreFeedback(size != 0 ? data : nullptr, size, text);
    std::vector<pellumhost::ConfigurationProblem> problems;
    const pellumhost::HostConfiguration parsed =
        pellumhost::HostConfiguration::Parse(std::string(reinterpret_cast<const char*>(data), size),
                                             problems);
    for (const pellumhost::ConfigurationProblem& problem : problems)
        text += pellumhost::HostConfiguration::Describe("fuzz.conf", problem);
    return parsed.Detector().minFiles == 0 ? 1 : 0;  // never: 0 is refused
}
