#include "nntp/ConnectFailure.h"

std::string DescribeConnectFailure(const CNewsServer& session) {
    const CNewsServer::Failure& failure = session.LastFailure();
    if (failure.kind != CNewsServer::Failure::Kind::None) {
        return failure.text;
    }
    const std::string& problem = session.ConnectProblem();
    return "Couldn't connect to the news server " + session.GetHost() + ", port " +
           std::to_string(session.GetPort()) + ": " +
           (problem.empty() ? "the connection ended before the server greeted" : problem) + ".";
}
