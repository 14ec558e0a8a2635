#pragma once

// The message for a session that could not connect: the session's own words when securing the
// connection or logging in failed, otherwise the news server's host and port and why the
// network made no connection. It decides nothing about trying again.

#include <string>

#include "nntp/CNewsServer.h"

// "Couldn't connect to the news server news.example.com, port 119: the connection was
// refused (no news server listens on that port)." for a failure of the network.
std::string DescribeConnectFailure(const CNewsServer& session);
