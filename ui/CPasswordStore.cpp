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

// Set once the keyring has let a request go unanswered: it is not asked again.
bool g_keyringHung = false;

bool KeyringUsable() {
    return !g_keyringHung && QDBusConnection::sessionBus().isConnected();
}

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

// Starts the job and waits for it, at most KEYRING_WAIT, while the window goes on painting and
// the worker's calls are served, but the user's input waits. `finished` sees the job when it
// succeeded. The keyring's answer, or OtherError when it gave none in time.
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
        g_keyringHung = true;
        return QKeychain::OtherError;
    }
    return *result;
}

}  // namespace

std::string CPasswordStore::KeyFor(const std::string& user, const std::string& hostAndPort) {
    return user + "@" + hostAndPort;
}

bool CPasswordStore::Load(const std::string& key, std::string& password, std::string& error) {
    platform::WipeSecret(password);
    if (KeyringUsable()) {
        auto& job = MakeJob<QKeychain::ReadPasswordJob>(key);
        const QKeychain::Error result = RunJob(job, [&](QKeychain::Job& done) {
            QByteArray text = static_cast<QKeychain::ReadPasswordJob&>(done).textData().toUtf8();
            password.assign(text.constData(), static_cast<std::size_t>(text.size()));
            text.fill('\0');
        });
        if (result == QKeychain::NoError) {
            return true;
        }
        // Not there (it may have been kept in the file when no keyring answered), or no
        // keyring after all: the file.
    }
    return ReadPasswordFile(PASSWORD_FILE_NAME, password, error);
}

bool CPasswordStore::Save(const std::string& key, const std::string& password, Place& place,
                          std::string& error) {
    place = Place::Nowhere;
    if (password.empty()) {
        if (KeyringUsable()) {
            // An entry that is not there is as good as removed.
            RunJob(MakeJob<QKeychain::DeletePasswordJob>(key));
        }
        return WritePasswordFile(PASSWORD_FILE_NAME, password, error);
    }
    if (KeyringUsable()) {
        auto& job = MakeJob<QKeychain::WritePasswordJob>(key);
        job.setTextData(
            QString::fromUtf8(password.data(), static_cast<qsizetype>(password.size())));
        if (RunJob(job) == QKeychain::NoError) {
            place = Place::Keyring;
            // The keyring holds it now; a copy left in the file from before would only linger.
            std::string ignored;
            WritePasswordFile(PASSWORD_FILE_NAME, {}, ignored);
            return true;
        }
    }
    if (!WritePasswordFile(PASSWORD_FILE_NAME, password, error)) {
        return false;
    }
    place = Place::File;
    return true;
}
