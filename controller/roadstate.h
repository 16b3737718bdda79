#pragma once

#include "modem/modemhealth.h"

#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>

// The MySQL link as the forwarding cycle sees it. While it waits to try
// again, LinkRetryFirst counts down to LinkRetryLast, one step a second.
enum LinkState : int
{
    LinkOff = 0,
    LinkConnecting = 1,
    LinkUp = 2,
    LinkError = 3,
    LinkRetryLast = 90,
    LinkRetryFirst = 99
};

// One served serial port, as the window's port table shows it.
struct PortState
{
    QString name;
    QString stateText;
    QString device = QStringLiteral("-");
    QString sim = QStringLiteral("-");
    bool excluded = false;
    // False while the port is gone from the system (a modem unplugged).
    bool present = true;
    // Its modem works: the SIM card is read and messages are received.
    bool working = false;
    ModemHealth health;
    // Messages stored from this port since the start, and when the last one
    // was ("yyyy-MM-dd HH:mm:ss"; empty: none yet).
    int received = 0;
    QString lastMessage;
    // Why the port needs the operator's eye (its SIM absent or locked, the
    // network refusing it, no signal for a long while); empty when nothing.
    QString fault;
};

// Everything the controller tells the world: the window draws it, the
// service writes it to its status file.
struct RoadState
{
    bool modemsOn = false;
    bool syncOn = false;
    QList<PortState> ports;
    int link = LinkOff;
    QString linkError;
    // The link is up and TLS-encrypted.
    bool linkEncrypted = false;
    // The server the link is up to, "host:port"; empty while it is not up.
    QString linkServer;
    bool storeOpen = false;
    QString storeError;
    // Another process holds the store's write lock: messages stay on the
    // SIMs and nothing is forwarded until it lets go.
    bool storeLocked = false;
    // The controller's one-second tick: how many since the start, and the
    // time of the last one ("yyyy-MM-dd HH:mm:ss"), so that a reader of the
    // status file sees whether the road itself still moves.
    int ticks = 0;
    QString lastTick;
    int total = -1;
    int pending = -1;
    // Messages the server refused for their data (flag 10), which the
    // operator can put back in the queue.
    int failed = -1;
    int undecodable = -1;
    int forwarded = 0;
    // Messages stored from all ports since the program started.
    int receivedSinceStart = 0;
    QString lastSender = QStringLiteral("-");
    QString lastRecvTime = QStringLiteral("-");
    QString lastHandledTime = QStringLiteral("-");
    // A fault the operator must see while it lasts (empty: none).
    QString alert;

    // The text of the link state shown to the operator.
    static QString linkText(int link);

    QJsonObject toJson() const;
    // The lines vlsmsd --status prints for a status file's contents, the
    // ports as a table.
    static QString describe(const QJsonObject& status);
};

Q_DECLARE_METATYPE(RoadState)
