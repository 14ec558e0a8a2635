#include "fetch/RunSetup.h"

#include <filesystem>
#include <system_error>

#include "config/ConfigFile.h"
#include "config/ServerSettings.h"

RunSetup CheckRunSetup(std::string& server, std::vector<std::string>& groups) {
    server.clear();
    groups.clear();
    std::error_code ignored;
    if (!std::filesystem::exists(CONFIG_FILE_NAME, ignored)) {
        return RunSetup::NoServer;
    }
    if (!ReadConfigFile(CONFIG_FILE_NAME, groups, server)) {
        return RunSetup::Unreadable;
    }
    if (server.empty()) {
        return RunSetup::NoServer;
    }
    return groups.empty() ? RunSetup::NoGroups : RunSetup::Ready;
}

std::string DescribeRunSetup(RunSetup setup, const std::string& server, std::size_t groups) {
    const std::string host = ParseServerLine(server, CServerSettings{}).host;
    switch (setup) {
        case RunSetup::NoServer:
            return "No news server yet: press Configure to choose one and pick newsgroups.";
        case RunSetup::NoGroups:
            return "No newsgroups yet: press Configure to pick the newsgroups to fetch from " +
                   host + ".";
        case RunSetup::Ready:
            return "Ready: press Start to fetch " + std::to_string(groups) +
                   (groups == 1 ? " newsgroup" : " newsgroups") + " from " + host + ".";
        case RunSetup::Unreadable:
            break;
    }
    return {};
}
