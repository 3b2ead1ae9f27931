// UpdateServerRequest: ordering of the server's build lists by version.
#include "updater/UpdateServerRequest.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "Kestrelon2/common/aVersion.h"
#include "app/Log.h"

namespace {

struct _Version {
    uint8_t major;
    uint8_t minor;
    uint8_t patch;
};

// Leading digits count ("5rc" is 5) and only the low 8 bits, as the library compares them.
std::optional<_Version> _parse_version(const std::string& text)
{
    const std::vector<std::string> parts = UpdateServerRequest::SplitKestrelonVersion(text);
    if (parts.size() != 3) {
        return std::nullopt;
    }
    try {
        return _Version{static_cast<uint8_t>(std::stoi(parts[0])), static_cast<uint8_t>(std::stoi(parts[1])),
                        static_cast<uint8_t>(std::stoi(parts[2]))};
    } catch (const std::exception& e) {
        Log::log(DEBUG_ServerComm, "%s: Exception converting version: %s\n", "_sortVersion", e.what());
        return std::nullopt;
    }
}

} // namespace

std::vector<std::string> UpdateServerRequest::SplitKestrelonVersion(const std::string& version)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t dot = version.find('.', start);
        parts.push_back(version.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    if (parts.size() != 3) {
        parts.clear();
    }
    return parts;
}

std::vector<std::pair<std::string, std::string>> UpdateServerRequest::SortBuildsByVersion(
    const std::map<std::string, std::string>& builds)
{
    struct Entry {
        std::pair<std::string, std::string> build;
        std::optional<_Version> version;
    };
    std::vector<Entry> entries;
    for (const auto& build : builds) {
        entries.push_back({build, _parse_version(build.second)});
    }

    // A total order even with unreadable versions among the valid ones: std::sort with an
    // order that is not strict-weak may run past the end of the vector.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (!a.version || !b.version) {
            return a.version.has_value() && !b.version.has_value();
        }
        return !aVersion_IsAtLeastCompare(b.version->major, b.version->minor, b.version->patch, a.version->major,
                                          a.version->minor, a.version->patch);
    });

    std::vector<std::pair<std::string, std::string>> sorted;
    for (auto& entry : entries) {
        sorted.push_back(std::move(entry.build));
    }
    return sorted;
}
