#include "desktop/QtKeychainKeyring.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace lanquill::desktop {

namespace {

// A keyring that shows an unlock prompt waits for the user; one that never answers (a broken
// session bus) must not hold the program for ever.
constexpr int AnswerLimitMs = 120'000;

// Runs `job` and waits for its end. The GUI goes on painting, but the user's input waits, as
// for any other blocking step: a second click cannot start a second send meanwhile.
Keyring::Answer finish(QKeychain::Job& job) {
    job.setAutoDelete(false);
    job.setInsecureFallback(false);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(AnswerLimitMs, &loop, &QEventLoop::quit);
    job.start();
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    Keyring::Answer answer;
    if (!finished) {
        answer.error =
            QCoreApplication::translate("lanquill::desktop::QtKeychainKeyring", "钥匙环没有应答。");
        return answer;
    }
    switch (job.error()) {
    case QKeychain::NoError:
        answer.ok = true;
        break;
    case QKeychain::EntryNotFound:
        answer.missing = true;
        break;
    case QKeychain::NoBackendAvailable:
        answer.error = QCoreApplication::translate(
            "lanquill::desktop::QtKeychainKeyring",
            "桌面没有可用的钥匙环（Secret Service，例如 GNOME Keyring 或 KWallet）。");
        break;
    case QKeychain::AccessDeniedByUser:
    case QKeychain::AccessDenied:
        answer.error = QCoreApplication::translate("lanquill::desktop::QtKeychainKeyring",
                                                   "钥匙环拒绝了访问。");
        break;
    default:
        answer.error = job.errorString();
        break;
    }
    return answer;
}

} // namespace

Keyring::Answer QtKeychainKeyring::read(const QString& key) {
    QKeychain::ReadPasswordJob job(QString::fromLatin1(Service));
    job.setKey(key);
    Answer answer = finish(job);
    if (answer.ok)
        answer.secret = job.textData();
    return answer;
}

Keyring::Answer QtKeychainKeyring::write(const QString& key, const QString& secret) {
    QKeychain::WritePasswordJob job(QString::fromLatin1(Service));
    job.setKey(key);
    job.setTextData(secret);
    return finish(job);
}

} // namespace lanquill::desktop
