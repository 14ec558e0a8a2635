#pragma once

// Setting up the news server sessions of a run: each session gets the server, the security, the
// log-in and the trusted certificate from the server line and the connection settings; the
// first connection puts a certificate that does not verify to the user and trusts it when the
// user says so. It fetches nothing.

#include <string>

#include "config/ServerSettings.h"
#include "fetch/CFetchRun.h"
#include "nntp/CNewsServer.h"

// Sets a session up for the server, as the settings say, with the given password.
void ConfigureSession(CNewsServer& session, const CServerAddress& address,
                      const CServerSettings& settings, const std::string& password);

// Sets the run's sessions up from the server line and the connection settings, with the
// password of this run, and reads the record of processed articles. False, after the message,
// when the settings cannot be read.
bool ConfigureSessions(CFetchRun& run, const std::string& serverLine);

// Connects the worker's own session; a certificate that does not verify is put to the user, and
// trusted for the server from now on (and this connection tried again) when the user says so.
// What went wrong is the session's to say (DescribeConnectFailure); nothing is shown here.
bool ConnectToServer(CFetchRun& run);
