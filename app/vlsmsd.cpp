// vlsmsd: the whole road of the window, without a display, for a service
// manager. It serves the modems and forwards to MySQL exactly as the window
// does, with the same data directory, settings, store and logs.
#include "servicenotifier.h"

#include "controller/controllerhost.h"
#include "controller/requeuerequest.h"
#include "controller/statusfile.h"
#include "core/comlog.h"
#include "core/datadir.h"
#include "core/instancelock.h"
#include "core/mysetting.h"
#include "core/quitsignal.h"
#include "store/recvstore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#define VLSMS_ISATTY _isatty
#define VLSMS_FILENO _fileno
#else
#include <unistd.h>
#define VLSMS_ISATTY isatty
#define VLSMS_FILENO fileno
#endif

namespace {

void say(FILE* stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

int printStatus(bool asJson)
{
    if (!InstanceLock::isHeld()) {
        say(stderr, QStringLiteral("vlsmsd: no instance runs on %1\n").arg(dataDir()));
        return 1;
    }
    QFile file(StatusFile::path());
    if (!file.open(QIODevice::ReadOnly)) {
        say(stderr, QStringLiteral("vlsmsd: an instance holds %1 but its status file %2 cannot be read: %3\n")
                        .arg(dataDir(), file.fileName(), file.errorString()));
        return 1;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (!doc.isObject()) {
        say(stderr, QStringLiteral("vlsmsd: the status file %1 is not readable JSON\n").arg(file.fileName()));
        return 1;
    }
    if (asJson) {
        say(stdout, QString::fromUtf8(doc.toJson(QJsonDocument::Indented)));
        return 0;
    }
    say(stdout, QStringLiteral("data directory: %1\n").arg(dataDir()) + RoadState::describe(doc.object()));
    return 0;
}

// Puts the messages the server refused back in the queue: through the
// instance that runs on the data directory, or in the store itself when none
// runs (holding the lock meanwhile, so that none starts half-way).
int requeueFailed()
{
    InstanceLock lock;
    if (lock.acquire()) {
        RecvStore store;
        if (!store.openLocalDb()) {
            say(stderr, QStringLiteral("vlsmsd: the store in %1 cannot be opened: %2\n")
                            .arg(dataDir(), store.localDbError()));
            return 1;
        }
        const int messages = store.countFailed();
        const int rows = store.requeueFailed();
        store.closeLocalDb();
        if (rows < 0) {
            say(stderr, QStringLiteral("vlsmsd: the store in %1 refused the change\n").arg(dataDir()));
            return 1;
        }
        say(stdout,
            QStringLiteral("%1 failed messages back in the queue; they are forwarded at the next start\n")
                .arg(messages));
        return 0;
    }
    QString token;
    QString error;
    if (!RequeueRequest::post(token, error)) {
        say(stderr, QStringLiteral("vlsmsd: the request %1 cannot be written: %2\n")
                        .arg(RequeueRequest::requestPath(), error));
        return 1;
    }
    const int waitMs = 15000;
    QString answer;
    if (!RequeueRequest::waitAnswer(token, waitMs, answer)) {
        QFile::remove(RequeueRequest::requestPath());
        say(stderr, QStringLiteral("vlsmsd: %1 runs on %2 but did not answer within %3 s\n")
                        .arg(lock.holder(), dataDir())
                        .arg(waitMs / 1000));
        return 1;
    }
    say(stdout, answer + QLatin1Char('\n'));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    keepNewFilesPrivate();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vlsmsd"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VLSMS_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Receives the SMS of a bank of GSM modems and forwards them to MySQL, as a service."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataDirOption(
        QStringLiteral("data-dir"), QStringLiteral("Use DIR for settings.ini, sms-r.db and the status file."),
        QStringLiteral("DIR"));
    const QCommandLineOption statusOption(
        QStringLiteral("status"),
        QStringLiteral("Print the state of the instance running on the data directory."));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"), QStringLiteral("With --status: print the status file's JSON as it is."));
    const QCommandLineOption requeueOption(
        QStringLiteral("requeue-failed"),
        QStringLiteral(
            "Put the messages the MySQL server refused back in the queue (after fixing the table)."));
    parser.addOption(dataDirOption);
    parser.addOption(statusOption);
    parser.addOption(jsonOption);
    parser.addOption(requeueOption);
    parser.process(app);

    if (parser.isSet(dataDirOption)) {
        setDataDirOverride(parser.value(dataDirOption));
    }
    if (parser.isSet(statusOption)) {
        return printStatus(parser.isSet(jsonOption));
    }
    if (parser.isSet(requeueOption)) {
        return requeueFailed();
    }

    InstanceLock lock;
    if (!lock.acquire()) {
        say(stderr,
            QStringLiteral("vlsmsd: %1 already runs on %2 (lock file %3); not starting a second one\n")
                .arg(lock.holder(), dataDir(), lock.path()));
        return 1;
    }
    // The journal collects standard error; a terminal user reads the log files.
    ComLog::setMirrorToStderr(VLSMS_ISATTY(VLSMS_FILENO(stderr)) == 0);
    if (!theSetting.loadIni()) {
        // The window could run on the defaults and show it; a service would
        // do so unseen, against the wrong server and ports.
        say(stderr, QStringLiteral("vlsmsd: the settings file %1 %2; not starting\n")
                        .arg(theSetting.iniPath(), theSetting.loadError()));
        return 1;
    }

    ControllerHost host;
    StatusFile status;
    QObject::connect(&host, &ControllerHost::stateChanged, &status, &StatusFile::update);
    ServiceNotifier serviceManager(host);
    QuitSignal quit;
    QObject::connect(&quit, &QuitSignal::requested, &app, &QCoreApplication::quit);
    host.start();
    const int code = app.exec();
    serviceManager.stopping();
    host.stop();
    status.remove();
    return code;
}
