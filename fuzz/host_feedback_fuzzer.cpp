// The reference host's readers of what a plug-in or a person hands it: the restore feedback
// decoder (protocol-buffer bytes from the plug-in) and the configuration file's parser, on
// the same bytes. The bytes are copied into a block of exactly their size, so that
// AddressSanitizer catches any read past the end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "reference/pellumhost/services/feedback_log.h"
#include "reference/pellumhost/services/host_configuration.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<uint8_t[]> block(new uint8_t[size + 1]);
    if (size != 0) std::memcpy(block.get(), data, size);
    std::string text;
    pellumhost::DecodeRestoreFeedback(size != 0 ? block.get() : nullptr, size, text);
    std::vector<pellumhost::ConfigurationProblem> problems;
    const pellumhost::HostConfiguration parsed =
        pellumhost::HostConfiguration::Parse(std::string(reinterpret_cast<const char*>(data), size),
                                             problems);
    for (const pellumhost::ConfigurationProblem& problem : problems)
        text += pellumhost::HostConfiguration::Describe("fuzz.conf", problem);
    return parsed.Detector().minFiles == 0 ? 1 : 0;  // never: 0 is refused
}
