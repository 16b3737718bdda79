// The modem simulator as the other tests rely on it, spoken to through
// QSerialPort exactly as the program speaks to a real modem: its answer
// styles, SIM indexes and deletion, "+CMTI", faults, a port that goes away,
// and the command that feeds a bank of them from its input.

#include "modem/serialchecker.h"
#include "support/testcontroller.h"
#include "tools/modemsim/modemsim.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QByteArray pduA = "07919761989901F0040B919701119905F80000211062917314800BC8329BFD06DDDF723619";
const QByteArray pduB = "0791448720003023240DD0E474D81C0EBB010000111011315214000BE474D81C0EBB5DE3771B";
const QByteArray ok = "\r\nOK\r\n";
struct Style
{
    QString style; // see styleModem()
    QByteArray command;
    QByteArray answer;
};

bool openPort(QSerialPort& port, const QString& path)
{
    SerialChecker::setUpPort(port, path, 115200, false);
    return port.open(QIODevice::ReadWrite);
}

// Everything that arrives within ms.
QByteArray listen(QSerialPort& port, int ms)
{
    QByteArray got = port.readAll();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (port.waitForReadyRead(20)) {
            got += port.readAll();
        }
    }
    return got;
}

QByteArray exchange(QSerialPort& port, const QByteArray& command, int readMs = 2000)
{
    SerialChecker checker(nullptr, nullptr);
    checker.sendCommand(&port, command + '\r', 1000, readMs);
    return checker.answer();
}
} // namespace
Q_DECLARE_METATYPE(Style)

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

    void answerStyles_data()
    {
        QTest::addColumn<Style>("row");
        const QByteArray id = "8986001234567890123F\r\n" + ok;
        const QByteArray cmgr = "\r\n+CMGR: 0,,";
        QTest::newRow("echo") << Style{"echo", "AT", "AT\r" + ok};
        QTest::newRow("IMEI, lower case") << Style{"", "at+cgsn", "\r\n861234567890123\r\n" + ok};
        QTest::newRow("unknown command") << Style{"", "AT+XYZ", "\r\nERROR\r\n"};
        QTest::newRow("COMMAND NOT SUPPORT") << Style{"notsupport", "AT+XYZ", "\r\nCOMMAND NOT SUPPORT\r\n"};
        QTest::newRow("ICCID +CCID:") << Style{"plus-ccid", "AT+CCID", "\r\n+CCID: " + id};
        QTest::newRow("ICCID bare") << Style{"bare", "AT+CCID", "\r\n" + id};
        QTest::newRow("list of used indexes") << Style{"", "AT+CMGD=?", "\r\n+CMGD: (1,2),(0-4)\r\n" + ok};
        QTest::newRow("read, ^RSSI inside")
            << Style{"|^RSSI:12", "AT+CMGR=2", cmgr + "30\r\n" + pduB + "\r\n\r\n^RSSI:12\r\n" + ok};
        QTest::newRow("0-based read") << Style{"base0", "AT+CMGR=0", cmgr + "29\r\n" + pduA + "\r\n" + ok};
        QTest::newRow("empty slot, bare OK") << Style{"", "AT+CMGR=3", ok};
        QTest::newRow("empty slot, zero header") << Style{"zero", "AT+CMGR=3", cmgr + "0\r\n" + ok};
        QTest::newRow("empty slot, CMS error") << Style{"cms", "AT+CMGR=3", "\r\n+CMS ERROR: 321\r\n"};
        QTest::newRow("listing") << Style{
            "", "AT+CMGL=4", "\r\n+CMGL: 1,0,,29\r\n" + pduA + "\r\n+CMGL: 2,0,,30\r\n" + pduB + "\r\n" + ok};
    }

    void answerStyles()
    {
        QFETCH(Style, row);
        sim->setIccid(QStringLiteral("8986001234567890123F"));
        styleModem(*sim, row.style);
        sim->addMessage(pduA, false);
        sim->addMessage(pduB, false);
        QCOMPARE(exchange(port, row.command), row.answer);
        QCOMPARE(sim->commandLog(), QStringList(QString::fromLatin1(row.command)));
    }

    void storeKeepsIndexes()
    {
        QCOMPARE(sim->addMessage(pduA, false), 1);
        QCOMPARE(sim->addMessage(pduB, false), 2);
        QCOMPARE(sim->addMessage(pduA, false), 3);
        QSignalSpy deleted(sim.get(), &ModemSim::messageDeleted);
        QCOMPARE(exchange(port, "AT+CMGD=2"), ok);
        QCOMPARE(sim->storedIndexes(), QList<int>({1, 3}));
        // The lowest free index is taken again.
        QCOMPARE(sim->addMessage(pduB, false), 2);
        // A message once read reports status 1 (read) from then on.
        QVERIFY(exchange(port, "AT+CMGR=1").startsWith("\r\n+CMGR: 0,,"));
        QVERIFY(exchange(port, "AT+CMGR=1").startsWith("\r\n+CMGR: 1,,"));
        QCOMPARE(sim->messageAt(2), pduB);
        QCOMPARE(exchange(port, "AT+CMGD=1"), ok);
        QTRY_COMPARE(deleted.count(), 2);
        QCOMPARE(deleted.at(0), (QList<QVariant>{2, pduB}));
        QCOMPARE(deleted.at(1).at(0).toInt(), 1);
        const QList<ModemSim::Record> history = sim->history();
        QCOMPARE(history.size(), 4);
        QCOMPARE(history.at(0).timesRead, 2);
        QVERIFY(history.at(0).deleted && history.at(1).deleted && !history.at(2).deleted);
        QCOMPARE(sim->commandCount(QStringLiteral("AT+CMGR=*")), 2);
        // Flag 1 removes the messages already read and spares the unread ones.
        exchange(port, "AT+CMGR=3");
        QCOMPARE(exchange(port, "AT+CMGD=1,1"), ok);
        QCOMPARE(sim->storedIndexes(), QList<int>({2}));
        QCOMPARE(exchange(port, "AT+CMGD=1,4"), ok);
        QVERIFY(sim->storedIndexes().isEmpty());
        sim->setCapacity(1);
        QCOMPARE(sim->addMessage(pduA, false), 1);
        QCOMPARE(sim->addMessage(pduB, false), -1);
    }

    void announcesAndReports()
    {
        QCOMPARE(sim->addMessage(pduA), 1);
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += listen(port, 20)).contains("\r\n+CMTI: \"SM\",1\r\n"), 2000);
        sim->setUnsolicited("+CREG: 1", 100);
        QTRY_VERIFY_WITH_TIMEOUT((got += listen(port, 20)).contains("\r\n+CREG: 1\r\n"), 2000);
        sim->setUnsolicited(QByteArray(), 0);
        // Told not to announce, it stays quiet.
        QCOMPARE(exchange(port, "AT+CNMI=1,0,0,0,0"), ok);
        QCOMPARE(sim->addMessage(pduB), 2);
        QVERIFY(!listen(port, 300).contains("+CMTI"));
    }

    void garbageOnce()
    {
        sim->addMessage(pduA, false);
        sim->setFault(QStringLiteral("AT+CMGR=*"), ModemSim::Fault::Garbage, 1);
        // Other commands are not touched; the garbage holds no result code.
        QCOMPARE(exchange(port, "AT"), ok);
        const QByteArray got = exchange(port, "AT+CMGR=1", 400);
        QVERIFY(!got.isEmpty());
        QCOMPARE(SerialChecker::checkAnswer(got), 0);
        QVERIFY(exchange(port, "AT+CMGR=1").endsWith(pduA + "\r\n" + ok));
    }

    void vanishesMidAnswerAndComesBack()
    {
        sim->addMessage(pduA, false);
        sim->setVanishTime(-1);
        sim->setFault(QStringLiteral("AT+CMGR=1"), ModemSim::Fault::Vanish, 1);
        QSignalSpy gone(sim.get(), &ModemSim::portVanished);
        QSignalSpy back(sim.get(), &ModemSim::portReappeared);
        exchange(port, "ATE1");
        const QByteArray part = exchange(port, "AT+CMGR=1", 500);
        QVERIFY2(part.startsWith("AT+CMGR=1\r\r\n+CMGR: 0,,29") && !part.contains("OK"), part.constData());
        QVERIFY(gone.count() == 1 || gone.wait(1000));
        QVERIFY(!sim->isPresent());
        port.close();
        QVERIFY(!openPort(port, sim->portPath()));
        sim->reappear();
        QVERIFY(back.count() == 1 || back.wait(1000));
        QVERIFY(openPort(port, sim->portPath()));
        // Power-on settings again (no echo); the SIM keeps its message, taken
        // as read, though only a whole answer counts as read out.
        QCOMPARE(exchange(port, "AT+CMGR=1"), "\r\n+CMGR: 1,,29\r\n" + pduA + "\r\n" + ok);
        QCOMPARE(sim->history().first().timesRead, 1);
    }

    void commandFeedsTheBank()
    {
        const QString cmd = dir.filePath(QStringLiteral("cmd"));
        QProcess proc;
        proc.start(QStringLiteral(MODEMSIM_COMMAND),
                   {"-n", "2", "-d", cmd, "--echo", "off", "--index-base", "0", "--exit-when-done"});
        QVERIFY(proc.waitForStarted());
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += proc.readAllStandardOutput()).contains("ready\n"), 5000);
        QVERIFY(out.contains("\nmodem2 " + QFile::encodeName(cmd + "/modem2") + " /dev/pts/"));
        // A line in pieces, a pause, an unknown modem, every modem, a last line without its line feed.
        proc.write("2 " + pduA.left(10));
        QVERIFY(proc.waitForBytesWritten(1000));
        proc.write(pduA.mid(10) + "\nwait 50\nbad " + pduA + "\n* " + pduB);
        proc.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT((out += proc.readAllStandardOutput()).contains("stored 2 1\n"), 5000);
        QVERIFY(out.contains("stored 2 0\n") && out.contains("stored 1 0\n"));
        QSerialPort modem2;
        QVERIFY(openPort(modem2, cmd + "/modem2"));
        QCOMPARE(exchange(modem2, "AT+CMGR=0"), "\r\n+CMGR: 0,,29\r\n" + pduA + "\r\n" + ok);
        QCOMPARE(exchange(modem2, "AT+CMGD=1,4"), ok);
        port.close();
        QVERIFY(openPort(port, cmd + "/modem1"));
        QCOMPARE(exchange(port, "AT+CMGD=0"), ok);
        // Both stores are empty and the input has ended: the command leaves.
        QVERIFY(proc.waitForFinished(5000));
        QCOMPARE(proc.exitCode(), 0);
        QVERIFY(proc.readAllStandardError().contains("no modem bad"));
        QVERIFY((out + proc.readAllStandardOutput()).contains("deleted 1 0\n"));
    }
};

QTEST_GUILESS_MAIN(TestModemSim)
#include "tst_modemsim.moc"
