#pragma once

#include "app/comlog.h"
#include "mysql/mysql5thread.h"

#include <QList>
#include <QMainWindow>
#include <QStringList>
#include <QTimer>

class QCloseEvent;
class QStandardItemModel;
class MyComWorker;
class XButtonPush;
class XLabel;
class XViewTree;

// The program's one window and its controller: it starts a worker per serial
// port, stores what the workers read, and forwards complete messages to MySQL
// on a one-second timer.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The port names a run serves: the enumerated ports plus the extra ones,
    // each once, sorted case-sensitively.
    static QStringList servedPorts(const QStringList& enumerated, const QString& extraPorts);
    // True when the port name equals one entry of the exclusion list (entries
    // split at ',' or '，' and trimmed; the comparison is case-sensitive).
    static bool isExcluded(const QString& portName, const QString& ignorePorts);

public slots:
    void onAppStart();
    void onHandTimer();
    void onBtSetCom();
    void onBtStartCom();
    void onBtStartDB();
    void onBtSetDB();
    void onBtSetCard();
    void onBtDebug();
    void onWorkOkMsg(int nCheckID, int nMsg, const QByteArray& pduBuf);
    void onWorkErrMsg(int nCheckID, int nMsg);
    void onMySql5ConnResult(int nResult);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    friend class TestMainWindow;

    void buildLayout();
    void startWorkers();
    void stopWorkers();
    void clearPortTable();
    void updateRecvPanel();
    void updateSyncPanel();
    void syncStep();
    bool forwardOne();
    void dailyRestart();
    void clearOldParts();
    void showStoreState();

    QStandardItemModel* portModel = nullptr;
    XViewTree* portView = nullptr;
    XButtonPush* btSetCom = nullptr;
    XButtonPush* btStartCom = nullptr;
    XButtonPush* btDebug = nullptr;
    XButtonPush* btStartDB = nullptr;
    XButtonPush* btSetDB = nullptr;
    XButtonPush* btSetCard = nullptr;
    XLabel* lbRecvTotal = nullptr;
    XLabel* lbLastNumber = nullptr;
    XLabel* lbLastTime = nullptr;
    XLabel* lbConnState = nullptr;
    XLabel* lbPending = nullptr;
    XLabel* lbLastSync = nullptr;
    QTimer appStartTimer;
    QTimer handTimer;
    QStringList portNames;
    QList<MyComWorker*> workers;
    ComLog mainLog;
    bool commRunning = false;
    bool syncRunning = false;
    int lastTotal = 0;
    int lastPending = 0;
    Mysql5Thread mysqlThread;

    int tickCount = 0;
    int lastRestartDay = -1;
    int lastClearMinute = -1;
    bool storeFaultLogged = false;
};
