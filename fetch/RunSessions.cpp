#include "fetch/RunSessions.h"

#include <memory>
#include <mutex>

#include "platform/Console.h"
#include "platform/Secret.h"

void ConfigureSession(CNewsServer& session, const CServerAddress& address,
                      const CServerSettings& settings, const std::string& password) {
    session.SetHost(address.HostAndPort());
    session.SetSecurity(address.security);
    session.SetCredentials(settings.user, password, settings.allowUnencrypted);
    const auto trusted = settings.trusted.find(address.HostAndPort());
    session.SetTrustedFingerprint(trusted != settings.trusted.end() ? trusted->second : "");
}

bool ConfigureSessions(CFetchRun& run, const std::string& serverLine) {
    ThreadArg& arg = run.arg;
    std::string password;
    {
        std::lock_guard lock(arg.passwordMutex);
        password.swap(arg.password);
    }
    std::string error;
    if (!ReadServerSettings(run.settings, error)) {
        platform::WipeSecret(password);
        arg.dlg.ShowErrorBox(error);
        run.status.Show(error);
        return false;
    }
    run.address = ParseServerLine(serverLine, run.settings);
    ConfigureSession(arg.server, run.address, run.settings, password);
    for (int i = 1; i < run.settings.connections; ++i) {
        auto session = std::make_unique<CNewsServer>("", CNewsServer::NNTP_PORT);
        ConfigureSession(*session, run.address, run.settings, password);
        session->SetReadTimeout(CNewsServer::DEFAULT_READ_TIMEOUT);
        arg.sessions.Add(*session);
        run.extras.emplace_back().session = std::move(session);
    }
    platform::WipeSecret(password);
    run.recordPath = CNewsrc::FileName(run.address.HostAndPort());
    run.recordUsable = run.record.Load(run.recordPath, error);
    if (!run.recordUsable) {
        // Without the record every article is visited, as if none had been before; nothing is
        // written over the file that could not be read.
        platform::WriteConsole(error + "\n");
    }
    return true;
}

bool ConnectToServer(CFetchRun& run) {
    ThreadArg& arg = run.arg;
    if (arg.server.Connect()) {
        return true;
    }
    const CNewsServer::Failure refused = arg.server.LastFailure();
    if (refused.kind == CNewsServer::Failure::Kind::Certificate && !run.StopRequested()) {
        const std::string& server = arg.server.GetHost();
        if (arg.dlg.AskQuestion(refused.text + "\n\nTrust this certificate for " + server + "?")) {
            std::string error;
            if (!TrustCertificate(run.address.HostAndPort(), refused.fingerprint, error)) {
                arg.dlg.ShowErrorBox(error);
            }
            // Every connection of the run trusts it, not only the first.
            arg.server.SetTrustedFingerprint(refused.fingerprint);
            for (CFetchRun::Extra& extra : run.extras) {
                extra.session->SetTrustedFingerprint(refused.fingerprint);
            }
            if (arg.server.Connect()) {
                return true;
            }
        }
    }
    return false;
}
