#include "gui/dlgsetmysql.h"

#include "core/mysetting.h"
#include "gui/dlgfields.h"
#include "gui/xbuttons.h"
#include "gui/xfactory.h"
#include "gui/xfonts.h"
#include "gui/xinputs.h"

#include <QIntValidator>

namespace {

XEditLine* addField(QWidget* parent, int y, const QString& caption, int maxLength, const QString& value)
{
    auto* label = xCreateAtAs<XLabel>(parent, XTypeLabel, 50, y, 150, 40);
    label->setText(caption);
    label->setXsFont(xTextFont(), 0, true);
    auto* edit = xCreateAtAs<XEditLine>(parent, XTypeEditLine, 200, y, 220, 40);
    edit->setXsFont(xTextFont(), 0, true);
    dlgShowValue(edit, maxLength, value);
    return edit;
}

} // namespace

DlgSetMysql::DlgSetMysql(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("请设置MYSQL数据库连接参数"));
    setFixedSize(500, 560);

    // One server, or several as host:port separated by commas.
    edHost = addField(this, 20, QStringLiteral("地  址："), 255, theSetting.mysqlHost);
    edPort = addField(this, 70, QStringLiteral("端  口："), 5, QString::number(theSetting.mysqlPort));
    edPort->setValidator(new QIntValidator(this));
    edUser = addField(this, 120, QStringLiteral("用户名："), 32, theSetting.mysqlUser);
    edPwd = addField(this, 170, QStringLiteral("密  码："), 32, theSetting.mysqlPwd);
    edPwd->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    edDbName = addField(this, 220, QStringLiteral("库  名："), 32, theSetting.mysqlDbName);
    // TLS: the CA file alone encrypts the link and checks the server's
    // certificate; a client certificate and key only for a server that asks.
    edSslCa = addField(this, 270, QStringLiteral("CA证书："), 260, theSetting.mysqlSslCa);
    edSslCert = addField(this, 320, QStringLiteral("客户端证书："), 260, theSetting.mysqlSslCert);
    edSslKey = addField(this, 370, QStringLiteral("客户端私钥："), 260, theSetting.mysqlSslKey);
    for (XEditLine* edit : {edSslCa, edSslCert, edSslKey}) {
        edit->setPlaceholderText(QStringLiteral("可选（加密连接）"));
    }
    // Told apart in gateway_id when several hosts write into one database.
    edGatewayName = addField(this, 420, QStringLiteral("网关名称："), 32, theSetting.gatewayName);
    edGatewayName->setPlaceholderText(QStringLiteral("可选（多台主机）"));

    auto* ok = xCreateAtAs<XButtonPush>(this, XTypeButtonPush, 80, 480, 150, 40);
    ok->setText(QStringLiteral("确定"));
    ok->setXsFont(xTextFont(), 0, true);
    auto* cancel = xCreateAtAs<XButtonPush>(this, XTypeButtonPush, 270, 480, 150, 40);
    cancel->setText(QStringLiteral("取消"));
    cancel->setXsFont(xTextFont(), 0, true);
    connect(ok, &QPushButton::clicked, this, &DlgSetMysql::onBtOk);
    connect(cancel, &QPushButton::clicked, this, &DlgSetMysql::onBtCancel);
}

void DlgSetMysql::onBtOk()
{
    const QString host = edHost->text().trimmed();
    bool isNumber = false;
    int port = edPort->text().trimmed().toInt(&isNumber, 10);
    if (!isNumber) {
        port = 0;
    }
    const QString user = edUser->text().trimmed();
    // A password may begin or end with blanks; it is kept as typed.
    const QString pwd = edPwd->text();
    const QString dbName = edDbName->text().trimmed();
    const QString sslCa = edSslCa->text().trimmed();
    const QString sslCert = edSslCert->text().trimmed();
    const QString sslKey = edSslKey->text().trimmed();
    const QString gatewayName = edGatewayName->text().trimmed();
    if (dlgApply(this,
                 std::tie(theSetting.mysqlHost, theSetting.mysqlPort, theSetting.mysqlUser,
                          theSetting.mysqlPwd, theSetting.mysqlDbName, theSetting.mysqlSslCa,
                          theSetting.mysqlSslCert, theSetting.mysqlSslKey, theSetting.gatewayName),
                 std::make_tuple(host, port, user, pwd, dbName, sslCa, sslCert, sslKey, gatewayName))) {
        accept();
    }
}

void DlgSetMysql::onBtCancel()
{
    reject();
}
