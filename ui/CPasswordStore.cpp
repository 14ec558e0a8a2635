#include "ui/CPasswordStore.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "config/PasswordFile.h"
#include "platform/Secret.h"

namespace {

// A job of the keyring. The application owns it until it has finished and deletes itself, so
// that one still running when the wait gives up is never left behind.
template <typename Job>
Job& MakeJob(const std::string& key) {
    Job* const job = std::make_unique<Job>(QString::fromLatin1(CPasswordStore::SERVICE),
                                           QCoreApplication::instance())
                         .release();
    job->setAutoDelete(true);
    job->setKey(QString::fromStdString(key));
    return *job;
}

// The desktop's keyring through QtKeychain, on the session bus.
class CDesktopKeyring : public CKeyring {
public:
    bool Usable() override { return !m_hung && QDBusConnection::sessionBus().isConnected(); }

    bool Read(const std::string& key, std::string& password) override {
        auto& job = MakeJob<QKeychain::ReadPasswordJob>(key);
        return RunJob(job, [&](QKeychain::Job& done) {
                   QByteArray text =
                       static_cast<QKeychain::ReadPasswordJob&>(done).textData().toUtf8();
                   password.assign(text.constData(), static_cast<std::size_t>(text.size()));
                   text.fill('\0');
               }) == QKeychain::NoError;
    }

    bool Write(const std::string& key, const std::string& password) override {
        auto& job = MakeJob<QKeychain::WritePasswordJob>(key);
        job.setTextData(
            QString::fromUtf8(password.data(), static_cast<qsizetype>(password.size())));
        return RunJob(job) == QKeychain::NoError;
    }

    void Remove(const std::string& key) override {
        RunJob(MakeJob<QKeychain::DeletePasswordJob>(key));
    }

private:
    // Starts the job and waits for it, at most KEYRING_WAIT, while the window goes on painting
    // and the worker's calls are served, but the user's input waits. `finished` sees the job
    // when it succeeded. The keyring's answer, or OtherError when it gave none in time.
    QKeychain::Error RunJob(QKeychain::Job& job,
                            const std::function<void(QKeychain::Job&)>& finished = {}) {
        QEventLoop loop;
        std::optional<QKeychain::Error> result;
        // Both connections go with the loop: a job that answers late finds nobody listening.
        QObject::connect(&job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* done) {
            result = done->error();
            if (*result == QKeychain::NoError && finished) {
                finished(*done);
            }
            loop.quit();
        });
        QTimer::singleShot(CPasswordStore::KEYRING_WAIT, &loop, &QEventLoop::quit);
        job.start();
        if (!result) {
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
        if (!result) {
            m_hung = true;
            return QKeychain::OtherError;
        }
        return *result;
    }

    // Set once the keyring has let a request go unanswered: it is not asked again.
    bool m_hung = false;
};

CKeyring* g_keyring = nullptr;  // in place of the desktop's

CKeyring& Keyring() {
    static CDesktopKeyring desktop;
    return g_keyring != nullptr ? *g_keyring : desktop;
}

}  // namespace

std::string CPasswordStore::KeyFor(const std::string& user, const std::string& hostAndPort) {
    return user + "@" + hostAndPort;
}

void CPasswordStore::UseKeyring(CKeyring* keyring) {
    g_keyring = keyring;
}

bool CPasswordStore::Load(const std::string& key, std::string& password, std::string& error) {
    platform::WipeSecret(password);
    // Not in the keyring (it may have been kept in the file when no keyring answered), or no
    // keyring after all: the file.
    if (Keyring().Usable() && Keyring().Read(key, password)) {
        return true;
    }
    return ReadPasswordFile(PASSWORD_FILE_NAME, password, error);
}

bool CPasswordStore::Save(const std::string& key, const std::string& password, Place& place,
                          std::string& error, const std::string& previousKey) {
    place = Place::Nowhere;
    bool stored = false;
    if (password.empty()) {
        if (Keyring().Usable()) {
            Keyring().Remove(key);
        }
        stored = WritePasswordFile(PASSWORD_FILE_NAME, password, error);
    } else if (Keyring().Usable() && Keyring().Write(key, password)) {
        place = Place::Keyring;
        // The keyring holds it now; a copy left in the file from before would only linger.
        std::string ignored;
        WritePasswordFile(PASSWORD_FILE_NAME, {}, ignored);
        stored = true;
    } else if (WritePasswordFile(PASSWORD_FILE_NAME, password, error)) {
        place = Place::File;
        stored = true;
    }
    if (stored && !previousKey.empty() && previousKey != key && Keyring().Usable()) {
        Keyring().Remove(previousKey);
    }
    return stored;
}
