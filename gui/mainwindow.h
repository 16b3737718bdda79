#pragma once

#include "controller/controllerhost.h"
#include "controller/statusfile.h"

#include <QMainWindow>
#include <QTimer>

class QCloseEvent;
class QModelIndex;
class QStandardItemModel;
class XButtonPush;
class XLabel;
class XViewTree;

// The program's one window: a view of the controller, which runs the whole
// road in a thread of its own. The window draws the controller's state and
// sends it the operator's commands; it never waits for a modem, the store or
// the MySQL server.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The controller's state as last drawn.
    const RoadState& roadState() const { return host.lastState(); }

public slots:
    void onAppStart();
    void onBtSetCom();
    void onBtStartCom();
    void onBtStartDB();
    void onBtSetDB();
    void onBtSetCard();
    void onBtDebug();
    void onBtRequeue();
    void showState(const RoadState& state);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    friend class TestMainWindow;

    enum PortColumn : int
    {
        ColumnPort,
        ColumnState,
        ColumnSignal,
        ColumnNetwork,
        ColumnOperator,
        ColumnReceived,
        ColumnLast,
        PortColumnCount
    };

    // Everything known of a port, one line each: the row's tooltip and the
    // text of its details.
    static QString portDetails(const PortState& port);

    void buildLayout();
    void sizePortColumns();
    void showPorts(const RoadState& state);
    void showPortDetails(const QModelIndex& index);
    void showNote(const RoadState& state);

    QStandardItemModel* portModel = nullptr;
    // The ports as last drawn, for their details.
    QList<PortState> shownPorts;
    XViewTree* portView = nullptr;
    XButtonPush* btSetCom = nullptr;
    XButtonPush* btStartCom = nullptr;
    XButtonPush* btDebug = nullptr;
    XButtonPush* btStartDB = nullptr;
    XButtonPush* btSetDB = nullptr;
    XButtonPush* btSetCard = nullptr;
    XButtonPush* btRequeue = nullptr;
    XLabel* lbRecvTotal = nullptr;
    XLabel* lbLastNumber = nullptr;
    XLabel* lbLastTime = nullptr;
    XLabel* lbConnState = nullptr;
    XLabel* lbPending = nullptr;
    XLabel* lbLastSync = nullptr;
    XLabel* lbNote = nullptr;
    QTimer appStartTimer;
    ControllerHost host;
    // The same status file as the service's, so that `vlsmsd --status` also
    // reports a window running on the data directory.
    StatusFile statusFile;
    bool commRunning = false;
    bool syncRunning = false;
};
