// vlsms-screenshot: renders the main window serving a bank of simulated modems
// and saves it as a PNG, for the README.
//
// Usage: vlsms-screenshot OUTPUT.png MESSAGES [MODEMS]
//   MESSAGES  "<modem> <pdu>" lines, as tools/demo/messages.txt
// The window forwards to the MySQL server named by VLSMS_TEST_MYSQL_HOST,
// _PORT, _USER, _PWD and _DB when they are set, else to the settings' defaults.
// It runs on any Qt platform; -platform offscreen renders without a display.

#include "core/mysetting.h"
#include "gui/mainwindow.h"
#include "gui/xfonts.h"
#include "tools/modemsim/modembank.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {

QString env(const char* name, const char* fallback)
{
    const QByteArray value = qgetenv(name);
    return QString::fromLocal8Bit(value.isEmpty() ? QByteArray(fallback) : value);
}

// Delivers the "<modem> <pdu>" lines of the file; the number delivered, -1
// when the file cannot be read.
int deliverMessages(ModemBank& bank, const QString& path)
{
    QFile messages(path);
    if (!messages.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return -1;
    }
    int delivered = 0;
    QTextStream in(&messages);
    while (!in.atEnd()) {
        const QStringList fields = in.readLine().simplified().split(QLatin1Char(' '));
        const int modem = fields.value(0).toInt();
        if (fields.size() == 2 && modem >= 1 && modem <= bank.count()) {
            bank.modem(modem - 1)->addMessage(fields.at(1).toLatin1());
            ++delivered;
        }
    }
    return delivered;
}

// settings.ini in dataRoot/VLSMS: only the simulated modems are served.
bool writeSettings(const QString& dataRoot, const QStringList& modemPorts)
{
    QDir().mkpath(dataRoot + QStringLiteral("/VLSMS"));
    QFile ini(dataRoot + QStringLiteral("/VLSMS/settings.ini"));
    if (!ini.open(QIODevice::WriteOnly)) {
        return false;
    }
    QStringList machinePorts;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos) {
        machinePorts << info.portName();
    }
    QTextStream out(&ini);
    out << "[General]\nDEF_SPEED=100\nDEF_IGNORE=\"" << machinePorts.join(QLatin1Char(',')) << "\"\n"
        << "DEF_EXTRA_PORTS=\"" << modemPorts.join(QLatin1Char(',')) << "\"\n"
        << "MYSQL_HOST=" << env("VLSMS_TEST_MYSQL_HOST", "127.0.0.1") << "\n"
        << "MYSQL_PORT=" << env("VLSMS_TEST_MYSQL_PORT", "3306") << "\n"
        << "MYSQL_USER=" << env("VLSMS_TEST_MYSQL_USER", "root") << "\n"
        << "MYSQL_PWD=" << env("VLSMS_TEST_MYSQL_PWD", "73914") << "\n"
        << "MYSQL_DBNAME=" << env("VLSMS_TEST_MYSQL_DB", "smsserver") << "\n";
    out.flush();
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: vlsms-screenshot OUTPUT.png MESSAGES [MODEMS]\n");
        return 2;
    }
    const QString output = args.at(1);
    const int modems = args.size() > 3 ? args.at(3).toInt() : 8;

    QTemporaryDir dir;
    ModemBank bank;
    QString error;
    if (!bank.start(modems, dir.filePath(QStringLiteral("modems")), &error)) {
        std::fprintf(stderr, "modems: %s\n", qPrintable(error));
        return 1;
    }
    // Each modem has a SIM card of its own.
    for (int i = 0; i < bank.count(); ++i) {
        bank.modem(i)->setImei(QStringLiteral("8612345678%1").arg(90001 + i));
        bank.modem(i)->setIccid(QStringLiteral("898600123456789%1").arg(10001 + i));
    }
    const int delivered = deliverMessages(bank, args.at(2));
    if (delivered < 0) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(args.at(2)));
        return 1;
    }
    qputenv("APPDATA", dir.path().toUtf8());
    if (!writeSettings(dir.path(), bank.portPaths())) {
        return 1;
    }

    xInstallFonts();
    theSetting.loadIni();
    MainWindow window; // at its default size, as an operator first sees it
    window.show();

    // Grab once every message is stored and forwarded, or after a minute.
    int polls = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        ++polls;
        const RoadState& state = window.roadState();
        const bool done = state.pending == 0 && state.total >= delivered;
        if ((done && polls > 6) || polls > 120) {
            poll.stop();
            QTimer::singleShot(1500, [&] {
                window.grab().save(output);
                window.close();
            });
        }
    });
    poll.start(500);
    const int code = app.exec();
    std::printf("%s\n", qPrintable(output));
    return code;
}
