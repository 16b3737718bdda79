#pragma once

#include <QObject>
#include <QString>

// One stored row handed out for forwarding. The fields bear the names of the
// columns they come from. Made with new by the store; the caller owns the
// records and deletes them after use.
class MyRecvSms : public QObject
{
    Q_OBJECT
public:
    explicit MyRecvSms(QObject* parent = nullptr);

    int tow_id = 0;
    QString port_no;
    QString sim_no;
    qint64 recv_time = 0;
    QString sms_sender;
    QString sms_stamp;
    // The three part fields are filled by group reads only.
    QString sms_part_id;
    int sms_part_index = 0;
    int sms_part_count = 0;
    QString sms_userdata_value;
    int sms_codetype = 0;
    // The PDU as stored, from which forwarding forms the exact text.
    QString txt_pdu;
};
