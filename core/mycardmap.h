#pragma once

#include <QObject>
#include <QStringList>

// The operator's map from SIM card numbers to phone numbers. Every SIM entry
// is trimmed, non-empty and unique; phone entries are trimmed and may be empty.
class MyCardMap : public QObject
{
    Q_OBJECT
public:
    explicit MyCardMap(QObject* parent = nullptr);

    bool addPair(const QString& sim, const QString& phone);
    void clearPairs();
    int indexOfSim(const QString& sim) const;
    // The phone number written beside a message received on this SIM.
    QString phoneForSim(const QString& sim) const;

    QStringList simList;
    QStringList phoneList;
};
