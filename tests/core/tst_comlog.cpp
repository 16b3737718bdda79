#include "core/comlog.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

class TestComLog : public QObject
{
    Q_OBJECT

private:
    static QByteArray contents(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;

private slots:
    void record_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expectedBody"); // what follows the stamp

        QTest::newRow("carriage returns removed") << QByteArray("AT\r") << QByteArray("AT\n");
        QTest::newRow("modem answer keeps its line feeds")
            << QByteArray("\r\nOK\r\n") << QByteArray("\nOK\n\n");
    }

    void record()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, expectedBody);

        const QString path =
            dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".txt"));
        ComLog log;
        log.open(path);
        QVERIFY(log.isEnabled());
        log.write(text);

        const QByteArray written = contents(path);
        // "MM-dd hh:mm:ss:zzz - " then " - " then the text.
        const QRegularExpression stamp(QStringLiteral("^\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d\\d\\d -  - "));
        const QString asText = QString::fromUtf8(written);
        const QRegularExpressionMatch match = stamp.match(asText);
        QVERIFY2(match.hasMatch(), written.constData());
        QCOMPARE(asText.mid(match.capturedLength()).toUtf8(), expectedBody);
    }

    void threadsDoNotInterleave()
    {
        const QString path = dir.filePath(QStringLiteral("threads.txt"));
        ComLog log;
        log.open(path);
        const int threads = 8;
        const int records = 200;
        std::vector<std::unique_ptr<QThread>> pool;
        for (int t = 0; t < threads; ++t) {
            pool.emplace_back(QThread::create([&log, t] {
                for (int i = 0; i < records; ++i) {
                    log.write(QByteArray("thread-") + QByteArray::number(t) + "-record-" +
                              QByteArray::number(i) + QByteArray(40, 'x'));
                }
            }));
            pool.back()->start();
        }
        for (auto& thread : pool) {
            QVERIFY(thread->wait(60000));
        }
        const QList<QByteArray> lines = contents(path).split('\n');
        QCOMPARE(lines.size(), threads * records + 1); // the last split part is empty
        const QRegularExpression shape(QStringLiteral(
            "^\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d\\d\\d -  - thread-\\d-record-\\d+x{40}$"));
        for (int i = 0; i < lines.size() - 1; ++i) {
            QVERIFY2(shape.match(QString::fromUtf8(lines.at(i))).hasMatch(), lines.at(i).constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestComLog)
#include "tst_comlog.moc"
