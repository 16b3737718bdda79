// The modem simulator where the worker's tests do not reach it, spoken to
// through QSerialPort as the program speaks to a real modem: SIM indexes and
// deletion, and the command that feeds a bank of them from its input. Its
// answer styles, faults and a port that goes away are met in the AT layer's
// and the worker's tests.

#include "modem/serialchecker.h"
#include "tools/modemsim/modemsim.h"

#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QByteArray pduA = "07919761989901F0040B919701119905F80000211062917314800BC8329BFD06DDDF723619";
const QByteArray pduB = "0791448720003023240DD0E474D81C0EBB010000111011315214000BE474D81C0EBB5DE3771B";
const QByteArray ok = "\r\nOK\r\n";

bool openPort(QSerialPort& port, const QString& path)
{
    SerialChecker::setUpPort(port, path, 115200, false);
    return port.open(QIODevice::ReadWrite);
}

QByteArray exchange(QSerialPort& port, const QByteArray& command, int readMs = 2000)
{
    SerialChecker checker(nullptr, nullptr);
    checker.sendCommand(&port, command + '\r', 1000, readMs);
    return checker.answer();
}
} // namespace

class TestModemSim : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<ModemSim> sim;
    QSerialPort port;

private slots:
    void init()
    {
        sim = std::make_unique<ModemSim>(dir.filePath(QStringLiteral("modem1")));
        QString error;
        QVERIFY2(sim->start(&error), qPrintable(error));
        sim->setEcho(false);
        QVERIFY(openPort(port, sim->portPath()));
    }

    void cleanup()
    {
        port.close();
        sim.reset();
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("modem1"))));
    }

    // The lowest free index is taken again; a message once read reports
    // status 1 (read) from then on; flag 1 removes the messages already read
    // and spares the unread ones, flag 4 removes all; a full store takes none.
    void storeKeepsIndexes()
    {
        QCOMPARE(sim->addMessage(pduA, false), 1);
        QCOMPARE(sim->addMessage(pduB, false), 2);
        QCOMPARE(sim->addMessage(pduA, false), 3);
        QCOMPARE(exchange(port, "AT+CMGD=2"), ok);
        QCOMPARE(sim->storedIndexes(), QList<int>({1, 3}));
        QCOMPARE(sim->addMessage(pduB, false), 2);
        QVERIFY(exchange(port, "AT+CMGR=1").startsWith("\r\n+CMGR: 0,,"));
        QVERIFY(exchange(port, "AT+CMGR=1").startsWith("\r\n+CMGR: 1,,"));
        QCOMPARE(exchange(port, "AT+CMGD=1,1"), ok);
        QCOMPARE(sim->storedIndexes(), QList<int>({2, 3}));
        QCOMPARE(exchange(port, "AT+CMGD=1,4"), ok);
        QVERIFY(sim->storedIndexes().isEmpty());
        sim->setCapacity(1);
        QCOMPARE(sim->addMessage(pduA, false), 1);
        QCOMPARE(sim->addMessage(pduB, false), -1);
    }

    void commandFeedsTheBank()
    {
        const QString cmd = dir.filePath(QStringLiteral("cmd"));
        QProcess proc;
        proc.start(QStringLiteral(MODEMSIM_COMMAND), {"-n", "2", "-d", cmd, "--echo", "off", "--index-base",
                                                      "0", "--exit-when-done", "--me-storage"});
        QVERIFY(proc.waitForStarted());
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += proc.readAllStandardOutput()).contains("ready\n"), 5000);
        QVERIFY(out.contains("\nmodem2 " + QFile::encodeName(cmd + "/modem2") + " /dev/pts/"));
        // A line in pieces, a pause, an unknown modem, a change of modem 2 and
        // one of a storage it lacks, every modem, a last line without its line feed.
        proc.write("2 " + pduA.left(10));
        QVERIFY(proc.waitForBytesWritten(1000));
        proc.write(pduA.mid(10) + "\nwait 50\nbad " + pduA +
                   "\nset 2 registration roaming\nset 2 sim lost\n1 me " + pduA + "\n* " + pduB);
        proc.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT((out += proc.readAllStandardOutput()).contains("stored 2 1\n"), 5000);
        QVERIFY(out.contains("stored 2 0\n") && out.contains("stored 1 0\n"));
        QSerialPort modem2;
        QVERIFY(openPort(modem2, cmd + "/modem2"));
        QCOMPARE(exchange(modem2, "AT+CMGR=0"), "\r\n+CMGR: 0,,29\r\n" + pduA + "\r\n" + ok);
        QCOMPARE(exchange(modem2, "AT+CREG?"), "\r\n+CREG: 0,5\r\n" + ok);
        QCOMPARE(exchange(modem2, "AT+CMGD=1,4"), ok);
        port.close();
        QVERIFY(openPort(port, cmd + "/modem1"));
        QCOMPARE(exchange(port, "AT+CMGD=0"), ok);
        QCOMPARE(exchange(port, "AT+CPMS=\"ME\""), "\r\n+CPMS: 1,50,1,50,1,50\r\n" + ok);
        QCOMPARE(exchange(port, "AT+CMGD=0"), ok);
        // Both stores are empty and the input has ended: the command leaves.
        QVERIFY(proc.waitForFinished(5000));
        QCOMPARE(proc.exitCode(), 0);
        const QByteArray errors = proc.readAllStandardError();
        QVERIFY(errors.contains("cannot do: bad") && errors.contains("cannot do: set 2 sim lost"));
        QVERIFY((out + proc.readAllStandardOutput()).contains("deleted 1 0\n"));
    }
};

QTEST_GUILESS_MAIN(TestModemSim)
#include "tst_modemsim.moc"
