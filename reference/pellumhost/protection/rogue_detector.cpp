// Rogue-writer detection: a sliding window of high-entropy rewrites per process.
#include "reference/pellumhost/protection/rogue_detector.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace pellumhost {

double DetectorSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double EntropyOf(const uint8_t* bytes, size_t count) {
    if (count == 0) return 0;
    size_t counts[256] = {};
    for (size_t i = 0; i < count; ++i) ++counts[bytes[i]];
    double bits = 0;
    for (size_t c : counts) {
        if (c == 0) continue;
        const double p = static_cast<double>(c) / static_cast<double>(count);
        bits -= p * std::log2(p);
    }
    return bits;
}

bool IsTrustedImage(const DetectorSettings& settings, const std::string& image) {
    const size_t cut = image.find_last_of("/\\");
    const std::string name = cut == std::string::npos ? image : image.substr(cut + 1);
    for (const std::string& trusted : settings.trustedImages) {
        const bool byPath = trusted.find_first_of("/\\") != std::string::npos;
        if (!trusted.empty() && (byPath ? trusted == image : trusted == name)) return true;
    }
    return false;
}

bool RogueDetector::OnWrite(uint32_t processId, const std::string& image, const std::string& path,
                            double entropy, double nowSeconds, std::string& why, size_t bytes) {
    char line[160];
    if (IsTrustedImage(m_settings, image)) {
        why = "process " + std::to_string(processId) + " (" + image + ") is trusted; " + path +
              " not counted";
        return false;
    }
    if (m_flagged.count(processId) != 0) {
        why = "process " + std::to_string(processId) + " is flagged already; " + path + " noted";
        return false;
    }
    if (bytes < m_settings.minBytes) {
        why = path + " written by " + std::to_string(processId) + ": " + std::to_string(bytes) +
              " bytes, below " + std::to_string(m_settings.minBytes) + "; not judged";
        return false;
    }
    if (entropy < m_settings.minEntropy) {
        std::snprintf(line, sizeof line, "%.2f bits per byte, below %.2f", entropy,
                      m_settings.minEntropy);
        why = path + " written by " + std::to_string(processId) + ": " + line + "; not counted";
        return false;
    }
    auto& recent = m_recent[processId];
    while (!recent.empty() && recent.front().first < nowSeconds - m_settings.windowSeconds)
        recent.pop_front();
    if (std::none_of(recent.begin(), recent.end(),
                     [&](const std::pair<double, std::string>& w) { return w.second == path; }))
        recent.emplace_back(nowSeconds, path);
    std::snprintf(line, sizeof line, "%.2f bits per byte; %zu of %u files within %u s", entropy,
                  recent.size(), m_settings.minFiles, m_settings.windowSeconds);
    why = path + " written by " + std::to_string(processId) + " (" + image + "): " + line;
    if (recent.size() < m_settings.minFiles) return false;
    m_flagged.insert(processId);
    m_recent.erase(processId);
    why += "; process flagged as rogue";
    return true;
}

}  // namespace pellumhost
