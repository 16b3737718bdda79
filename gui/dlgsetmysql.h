#pragma once

#include <QDialog>

class XEditLine;

// Modal editor of the MySQL connection parameters (one server or a list), with
// the TLS files that make the link encrypted and this host's gateway name. OK
// writes changed values to theSetting and settings.ini; the link takes them at
// its next start.
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
    XEditLine* sslCaEdit() const { return edSslCa; }
    XEditLine* sslCertEdit() const { return edSslCert; }
    XEditLine* sslKeyEdit() const { return edSslKey; }
    XEditLine* gatewayNameEdit() const { return edGatewayName; }

public slots:
    void onBtOk();
    void onBtCancel();

private:
    XEditLine* edHost = nullptr;
    XEditLine* edPort = nullptr;
    XEditLine* edUser = nullptr;
    XEditLine* edPwd = nullptr;
    XEditLine* edDbName = nullptr;
    XEditLine* edSslCa = nullptr;
    XEditLine* edSslCert = nullptr;
    XEditLine* edSslKey = nullptr;
    XEditLine* edGatewayName = nullptr;
};
