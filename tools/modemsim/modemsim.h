#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QThread;
class SimEngine;
struct SimState;

// One simulated GSM modem behind a pseudo-terminal.
//
// The program under test opens portPath() with QSerialPort exactly as it opens a
// real serial port. The modem speaks the AT dialogue of a GSM modem in PDU mode:
// handshake, echo, identification, IMEI and ICCID, the set-up commands, signal,
// registration and operator (AT+CSQ, AT+CREG?, AT+COPS?), a SIM that may ask for
// its PIN (AT+CPIN), and message storages read with AT+CMGD=?, AT+CMGR=, AT+CMGL=
// and cleared with AT+CMGD=: the SIM's ("SM") and, when switched on, the modem's
// own ("ME"), chosen with AT+CPMS.
//
// Usage in a test:
//     ModemSim sim(dir.filePath("modem1"));      // stable link path, survives vanish()
//     QVERIFY(sim.start());
//     sim.addMessage("0791...");                 // stored at the next free index, +CMTI announced
//     worker.setParams(1, sim.portPath(), 200, 115200, 0);
//     ...
//     QTRY_VERIFY_WITH_TIMEOUT(sim.storedIndexes().isEmpty(), 30000);
//     QCOMPARE(sim.history().first().timesRead, 1);
//
// Threads: the modem runs in a thread of its own (or in a thread handed to the
// constructor, so that one thread can serve a bank of modems). Every public
// function may be called from any thread. Signals are emitted in the thread the
// ModemSim object lives in, which needs a running event loop to receive them
// (QSignalSpy::wait and QTRY_* provide one).
//
// Settings take effect from the next command the modem receives. What the modem
// says while no program has the port open is lost, as on a real line: a message
// added then stays on the SIM, but its +CMTI never arrives. POSIX only.
class ModemSim : public QObject
{
    Q_OBJECT
public:
    // How the SIM number commands answer.
    enum class IccidStyle
    {
        PlusCcid,   // +CCID: 8986...
        Bare,       // the number alone on its line
        CaretIccid, // ^ICCID: 8986...
        Quoted,     // +CCID: "8986..."
        PlusIccid,  // +ICCID: 8986...
    };
    // How "AT+CMGD=?" reports the store.
    enum class IndexListStyle
    {
        UsedList,  // +CMGD: (1,2,5),(0-4)   the indexes in use
        EmptyList, // +CMGD: (),(0-4)        always empty, whatever is stored
        Range,     // +CMGD: (1-50),(0-4)    the valid range, not what is stored
    };
    // How "AT+CMGR=" answers for an index that holds no message.
    enum class EmptySlotStyle
    {
        BareOk,     // OK
        ZeroHeader, // +CMGR: 0,,0 then OK
        CmsError,   // +CMS ERROR: 321
    };
    // Faults that can be attached to one command (see setFault).
    enum class Fault
    {
        Error,   // answer the error text instead of the real answer
        Silence, // answer nothing at all, not even the echo
        Garbage, // answer random bytes that hold no result code
        Hang,    // send the first part of the answer and never finish it
        Vanish,  // send the first part of the answer, then the port disappears
    };
    // Where a message is stored: on the SIM or in the modem's own memory.
    enum class Storage
    {
        SM,
        ME
    };
    // What the SIM asks for before it serves: nothing, its PIN, its PUK.
    enum class SimLock
    {
        None,
        Pin,
        Puk
    };
    // One message as it went through a store, kept after deletion.
    struct Record
    {
        int index = -1;
        Storage storage = Storage::SM;
        QByteArray pdu;
        int timesRead = 0; // answers of AT+CMGR= or AT+CMGL= that carried it
        bool deleted = false;
        qint64 storedAtMs = 0; // QDateTime::currentMSecsSinceEpoch() when added
    };

    // linkPath: when not empty, a symbolic link at this path always points at the
    // current pseudo-terminal, also after vanish() and reappear(). thread: run in
    // this (running) thread instead of a thread of our own.
    explicit ModemSim(const QString& linkPath = QString(), QThread* thread = nullptr,
                      QObject* parent = nullptr);
    ~ModemSim() override;

    // Creates the pseudo-terminal (and the link). False with a reason on failure.
    bool start(QString* error = nullptr);
    // Closes the pseudo-terminal and removes the link. Also done by the destructor.
    void stop();

    // The path to open: the link path when one was given, else the device path.
    QString portPath() const;
    // The current slave device, e.g. /dev/pts/7; empty while vanished or stopped.
    QString devicePath() const;

    // --- SIM store ---
    // Stores a PDU (hexadecimal text) at the lowest free index and, unless told
    // otherwise or the modem was told not to (AT+CNMI), announces it with
    // +CMTI: "SM",<index>. Returns the index, or -1 when the store is full.
    int addMessage(const QByteArray& pduHex, bool announce = true);
    // The same in the given storage, announced as +CMTI: "ME",<index> there.
    int addMessage(const QByteArray& pduHex, Storage storage, bool announce = true);
    QList<int> storedIndexes(Storage storage = Storage::SM) const;
    QByteArray messageAt(int index) const; // empty when the slot is free
    QList<Record> history() const;         // every message ever added, in order
    void clearStore();
    void setCapacity(int slotCount); // default 50
    void setIndexBase(int base);     // 1 (default) or 0

    // --- identity ---
    void setImei(const QString& imei);              // default 861234567890123
    void setIccid(const QString& iccid);            // default 89860012345678901234
    void setIdentification(const QByteArray& text); // lines of the ATI answer, CRLF separated
    // false: SIM commands fail (+CME ERROR: 10 / +CMS ERROR: 310). A change is
    // announced with a +CPIN: line, as is one of the lock.
    void setSimPresent(bool present);
    // Pin: the SIM asks for pin now and at every power-on (start, reappear)
    // until unlocked again; three wrong tries lock it behind its PUK. While
    // locked, message commands fail with +CMS ERROR: 311 or 316 and the modem
    // is not registered. None switches the PIN off.
    void setSimLock(SimLock lock, const QByteArray& pin = "1234");
    SimLock simLock() const;
    // AT+CPIN? answered without a final result, as some modems do.
    void setSimStateWithoutResult(bool on);
    // The modem's own memory "ME": listed by AT+CPMS=? and selected with
    // AT+CPMS="ME". Off by default: AT+CPMS=? lists "SM" alone.
    void setMeStorage(bool on);

    // --- radio; each change is announced when the modem announces such ---
    void setSignal(int rssi);       // AT+CSQ's rssi, default 21
    void setSignalNotices(bool on); // a change sends "^RSSI:<rssi>" (default off)
    // +CREG state (default 1, home; 5 roaming, 2 searching, 3 denied, 0 none),
    // announced as "+CREG: <stat>" after AT+CREG=1 (with area and cell after
    // AT+CREG=2). A SIM that is not ready leaves the modem unregistered.
    void setRegistration(int stat);
    // AT+COPS? names it while registered (default "VLS Mobile"); empty: no
    // operator. accessTechnology >= 0 follows the name, as on 3G/4G modems.
    void setOperator(const QByteArray& name, int accessTechnology = -1);

    // --- answer styles ---
    void setEcho(bool on); // the echo state now; ATE0/ATE1 change it later. Default on.
    void setIccidStyle(IccidStyle style);
    // Which SIM number commands the modem knows, e.g. {"AT^ICCID?"}; the others get
    // the error text. Default: AT+CCID, AT+ICCID, AT^ICCID?, AT+CXXCID, AT+CICCID.
    void setIccidCommands(const QStringList& commands);
    void setImeiViaWmsn(bool on); // AT+CGSN fails and AT+WMSN answers (default off)
    void setIndexListStyle(IndexListStyle style);
    void setEmptySlotStyle(EmptySlotStyle style);
    // The text that ends a refused or unknown command: "ERROR" by default, or
    // e.g. "COMMAND NOT SUPPORT".
    void setErrorText(const QByteArray& text);
    // An unsolicited line (e.g. "+CREG: 1" or "^RSSI:12") sent every everyMs while
    // the modem is idle; everyMs <= 0 or an empty line stops it.
    void setUnsolicited(const QByteArray& line, int everyMs);
    // An unsolicited line slipped into every answer, just before its final
    // result code. Empty switches it off.
    void setUnsolicitedInAnswer(const QByteArray& line);
    // Bytes of line noise (e.g. a NUL, 0xFF) slipped into every answer: before
    // its information lines and at the front of its final result line. Empty
    // switches it off.
    void setNoise(const QByteArray& bytes);

    // --- faults ---
    void setSilent(bool on);  // receive everything, answer nothing
    void setGarbage(bool on); // answer every command with random bytes
    // Each answer (echo included) goes out in pieces of chunkBytes with delayMs
    // before every piece after the first. chunkBytes <= 0 switches it off.
    void setSplit(int chunkBytes, int delayMs);
    void setAnswerDelay(int ms); // silence before every answer
    // Attaches a fault to a command. The command matches when equal to it
    // (case-insensitive, without CR); a trailing '*' matches as a prefix
    // ("AT+CMGR=*"). times: how many matching commands get it, -1 for all.
    // text: for Fault::Error, the answer to send instead of the error text.
    void setFault(const QString& command, Fault fault, int times = -1, const QByteArray& text = QByteArray());
    void clearFaults();
    // How long the port stays away after a Fault::Vanish (default 1000 ms; < 0: until reappear()).
    void setVanishTime(int ms);
    // The port disappears now (the other side sees a hang-up) and, with
    // backAfterMs >= 0, comes back after that long under the same link path.
    void vanish(int backAfterMs = -1);
    void reappear();
    bool isPresent() const;

    // --- what the modem saw ---
    QStringList commandLog() const; // every command line received, without CR
    void clearCommandLog();
    int commandCount(const QString& command) const; // matched as in setFault

signals:
    void commandReceived(const QString& command);
    void messageDeleted(int index, const QByteArray& pdu);
    void portVanished();
    void portReappeared(const QString& devicePath);

private:
    friend class SimEngine;
    // Sends the line compose makes of the state, if any, when the port is open.
    void notify(const std::function<QByteArray(SimState&)>& compose);
    std::unique_ptr<SimState> state;
    SimEngine* engine = nullptr;
    QThread* thread = nullptr;
    bool ownThread = false;
    bool started = false;
};
