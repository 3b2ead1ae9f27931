// UpdateServerRequest: the update server's query protocol, and the ordering of the build lists it returns.
#ifndef UPDATER_UPDATESERVERREQUEST_H
#define UPDATER_UPDATESERVERREQUEST_H

#include <map>
#include <string>
#include <utility>
#include <vector>

class UpdateServerRequest {
public:
    // The (build, version) pairs of a build list, newest version first. Versions that are not
    // of the major.minor.patch form go last, in build order.
    static std::vector<std::pair<std::string, std::string>> SortBuildsByVersion(
        const std::map<std::string, std::string>& builds);

    // The three parts of a major.minor.patch text, or an empty vector for any other form.
    static std::vector<std::string> SplitKestrelonVersion(const std::string& version);
};

#endif
