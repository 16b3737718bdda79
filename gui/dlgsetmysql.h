#pragma once

#include <QDialog>

class XEditLine;

// Modal editor of the MySQL connection parameters. OK writes changed values
// to theSetting and settings.ini; the link takes them at its next start.
class DlgSetMysql : public QDialog
{
    Q_OBJECT
public:
    explicit DlgSetMysql(QWidget* parent);

    XEditLine* hostEdit() const { return edHost; }
    XEditLine* portEdit() const { return edPort; }
    XEditLine* userEdit() const { return edUser; }
    XEditLine* pwdEdit() const { return edPwd; }
    XEditLine* dbNameEdit() const { return edDbName; }

public slots:
    void onBtOk();
    void onBtCancel();

private:
    XEditLine* edHost = nullptr;
    XEditLine* edPort = nullptr;
    XEditLine* edUser = nullptr;
    XEditLine* edPwd = nullptr;
    XEditLine* edDbName = nullptr;
};
