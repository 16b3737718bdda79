// The decoder: every header and address form, the coding
// groups, the national language tables, the exact text of whole messages,
// and input that must never lead it out of bounds.
#include "pdu/gsmdatacoding.h"
#include "pdu/gsmop.h"
#include "pdu/gsmpdurecvdeliver.h"
#include "support/pdubuilder.h"

#include <QtTest>

using namespace PduBuilder;

namespace {

// Originator 19876501234, national numbering.
const QString no = QStringLiteral("19876501234");
const QString nationalOa = address(no);

// A 7-bit message whose header holds the given information elements.
QString withHeader(const QString& elements, const QByteArray& septets)
{
    return sevenBit(no, septets, elements);
}

// A text of `length` septets cycling through the lower-case letters.
QByteArray letters(int length)
{
    QByteArray text;
    for (int i = 0; i < length; ++i)
        text.append(char('a' + i % 26));
    return text;
}

} // namespace
class TestGsmPdu : public QObject
{
    Q_OBJECT

private slots:
    void decode_data()
    {
        QTest::addColumn<QString>("pdu");
        // ok type | centre | sender | stamp | udl | udh | ud | part type id index/count
        QTest::addColumn<QString>("fields");

        const QString hi = QStringLiteral("4F60597D");
        const QString sc = QStringLiteral("06918967052143");
        const QString same = QStringLiteral("8613800200500|19876501234|2019-05-23 14:30:05|");
        const auto row = [](const char* name, const QString& pdu, const QString& fields) {
            QTest::newRow(name) << pdu << fields;
        };
        const auto ucs2Row = [&](const char* name, const QString& oa, const QString& senderNo) {
            QTest::newRow(name) << deliverRaw("04", oa, "08", 4, hi)
                                << "1 0|8613800200500|" + senderNo + "|2019-05-23 14:30:05|4||" + hi +
                                       "|0  0/0";
        };
        row("single UCS2 message", deliverRaw("04", nationalOa, "08", 4, hi, sc),
            "1 0|9876501234|19876501234|2019-05-23 14:30:05|4||" + hi + "|0  0/0");
        row("part 1 of 2, 8-bit reference", deliverRaw("44", nationalOa, "08", 10, "050003A70201" + hi),
            "1 0|" + same + "10|0003A70201|" + hi + "|1 A7 1/2");
        row("part 2 of 3, 16-bit reference", deliverRaw("44", nationalOa, "08", 11, "06080412340302" + hi),
            "1 0|" + same + "11|080412340302|" + hi + "|2 1234 2/3");
        row("port element before the concatenation element",
            deliverRaw("44", nationalOa, "08", 16, "0B05040B8423F00003A70302" + hi),
            "1 0|" + same + "16|05040B8423F00003A70302|" + hi + "|1 A7 2/3");
        row("header indicator with an empty header", deliverRaw("44", nationalOa, "08", 5, "00" + hi),
            "1 0|" + same + "5||" + hi + "|0  0/0");
        row("concatenation element too short is passed over",
            deliverRaw("44", nationalOa, "08", 8, "03000201" + hi),
            "1 0|" + same + "8|000201|" + hi + "|0  0/0");
        row("header longer than the PDU: not decodable", deliverRaw("44", nationalOa, "08", 40, "2800030A"),
            "0 0|" + same + "40|00030A||0  0/0");
        row("7-bit user data shorter than its length: not decodable",
            deliverRaw("04", nationalOa, "00", 10, "C834"), "0 0|" + same + "10||C834|0  0/0");
        row("a character that is not hex in the user data: not decodable",
            deliverRaw("04", nationalOa, "08", 10, hi + "0x61" + hi),
            "0 0|" + same + "10||" + hi + "0x61" + hi + "|0  0/0");
        row("a character that is not hex at the end: not decodable",
            deliverRaw("04", nationalOa, "08", 2, "00G1"), "0 0|" + same + "2||00G1|0  0/0");
        row("no service-centre address", "00" + deliverRaw("04", nationalOa, "08", 4, hi, ""),
            "1 0||19876501234|2019-05-23 14:30:05|4||" + hi + "|0  0/0");
        ucs2Row("international sender, no plus sign", "0D91683119325476F8", "8613912345678");
        ucs2Row("alphanumeric sender", "0BD0C7F7FBCC2E03", "Google");
        ucs2Row("alphanumeric sender, length counting the padding", "0ED049B7F93D6D4E01", "InfoSMS");
        row("status report", statusReport(6), "0 2|8613800200500||2000-00-00 00:00:00|0|||0  0/0");
        row("cut inside the time stamp", centre + "04" + nationalOa + "0008915032",
            "0 0|8613800200500|19876501234|2019-05-23 -2:-2:-2|-2|||0  0/0");
        row("not hexadecimal", "hello world", "0 0|||2000-00-00 00:00:00|0|||0  0/0");
        row("empty", "", "0 0|||2000-00-00 00:00:00|0|||0  0/0");
    }

    void decode()
    {
        QFETCH(QString, pdu);
        QFETCH(QString, fields);
        GsmPduRecvDeliver d;
        const bool ok = d.decode(pdu);
        const QString got = QStringLiteral("%1 %2|%3|%4|%5|%6|%7|%8|%9 ")
                                .arg(int(ok))
                                .arg(d.messageType())
                                .arg(d.smscNumber, d.sender, d.stampText())
                                .arg(d.udl)
                                .arg(d.udh, d.ud)
                                .arg(d.partType) +
                            d.partId + QStringLiteral(" %1/%2").arg(d.partIndex).arg(d.partCount);
        QCOMPARE(got, fields);
    }

    void codingGroups_data()
    {
        QTest::addColumn<int>("dcs");
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("alphabet");
        QTest::addColumn<bool>("compressed");
        QTest::addColumn<int>("messageClass");
        QTest::addColumn<bool>("forwardable");

        const int gsm = GsmDataCoding::Gsm7Bit, data = GsmDataCoding::Data8Bit, ucs2 = GsmDataCoding::Ucs2;
        const int reserved = GsmDataCoding::Reserved;
        QTest::newRow("GSM 7-bit") << 0x00 << 0 << 0 << gsm << false << -1 << true;
        QTest::newRow("8-bit data") << 0x04 << 0 << 1 << data << false << -1 << false;
        QTest::newRow("UCS2") << 0x08 << 0 << 2 << ucs2 << false << -1 << true;
        QTest::newRow("reserved alphabet") << 0x0C << 0 << 3 << reserved << false << -1 << false;
        QTest::newRow("compressed UCS2, class 2") << 0x3A << 0 << 2 << ucs2 << true << 2 << false;
        QTest::newRow("automatic deletion UCS2, class 3") << 0x5B << 1 << 0 << ucs2 << false << 3 << true;
        QTest::newRow("automatic deletion 8-bit") << 0x44 << 1 << 0 << data << false << -1 << false;
        QTest::newRow("reserved group 1000") << 0x80 << 1 << 0 << reserved << false << -1 << false;
        QTest::newRow("voicemail waiting, store") << 0xD8 << 3 << 0 << gsm << false << -1 << true;
        QTest::newRow("fax waiting, store UCS2") << 0xE9 << 4 << 0 << ucs2 << false << -1 << true;
        QTest::newRow("class 0 (flash) 7-bit, group 1111") << 0xF0 << 5 << 0 << gsm << false << 0 << true;
        QTest::newRow("class 2 8-bit, group 1111") << 0xF6 << 5 << 0 << data << false << 2 << false;
    }

    void codingGroups()
    {
        QFETCH(int, dcs);
        QFETCH(int, group);
        QFETCH(int, type);
        QFETCH(int, alphabet);
        QFETCH(bool, compressed);
        QFETCH(int, messageClass);
        QFETCH(bool, forwardable);

        // User data that reads "hello" in the alphabet of the row.
        const QString ud = alphabet == GsmDataCoding::Ucs2      ? QStringLiteral("00680065006C006C006F")
                           : alphabet == GsmDataCoding::Gsm7Bit ? packSeptets("hello")
                                                                : QStringLiteral("68656C6C6F");
        const int udl = alphabet == GsmDataCoding::Gsm7Bit ? 5 : ud.size() / 2;
        const QString pdu = deliverRaw("04", nationalOa, hex2(dcs), udl, ud);
        GsmPduRecvDeliver d;
        QVERIFY(d.decode(pdu));
        QCOMPARE(d.codeGroup(), group);
        QCOMPARE(d.codeType(), type);
        QCOMPARE(int(d.dataCoding().alphabet()), alphabet);
        QCOMPARE(d.dataCoding().compressed(), compressed);
        QCOMPARE(d.dataCoding().messageClass(), messageClass);
        QCOMPARE(d.forwardable(), forwardable);
        if (forwardable)
            QCOMPARE(GsmOp::messageText({pdu}), QStringLiteral("hello"));
    }

    void nationalTables_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QByteArray>("septets");
        QTest::addColumn<QString>("text");

        // Per language: four codes of its locking shift table, then three escaped
        // codes of its single shift table, with the characters the national
        // language tables give them. Spanish has a single shift table only.
        const auto row = [](const char* name, int language, const char* septets, const char16_t* text) {
            QTest::newRow(name) << language << QByteArray::fromHex(septets) << QString::fromUtf16(text);
        };
        row("Turkish", 1, "040B1D601B631B691B73", u"\u20AC\u011E\u015F\u00E7\u00E7\u0131\u015F");
        row("Spanish", 2, "1B091B691B75", u"\u00E7\u00ED\u00FA");
        row("Portuguese", 3, "04121D7D1B051B181B7F", u"\u00EA\u00AA\u00E2\u0060\u00EA\u03A3\u00E2");
        row("Bengali", 4, "001D4B7F1B191B261B34", u"\u0981\u099C\u09B7\u09F1\u09E6\u09E1\u09FA");
        row("Gujarati", 5, "001D4B7F1B191B201B25", u"\u0A81\u0A9C\u0AB7\u0AF1\u0964\u0AEA\u0AEF");
        row("Hindi", 6, "001E4A7F1B191B2A1B3A", u"\u0901\u091D\u0936\u097F\u0964\u0953\u0971");
        row("Kannada", 7, "011E4B7F1B191B211B2A", u"\u0C82\u0C9D\u0CB7\u0CE3\u0964\u0CEB\u0CF2");
        row("Malayalam", 8, "011E4A7F1B191B261B34", u"\u0D02\u0D1D\u0D36\u0D79\u0964\u0D70\u0D7F");
        row("Oriya", 9, "001E4A7F1B191B221B2C", u"\u0B01\u0B1D\u0B36\u0B63\u0964\u0B6C\u0B71");
        row("Punjabi", 10, "001E477F1B191B221B2D", u"\u0A01\u0A1D\u0A33\u0A74\u0964\u0A6C\u0A75");
        row("Tamil", 11, "01224C7F1B191B231B2E", u"\u0B82\u0B9F\u0BB8\u0BF9\u0964\u0BED\u0BFA");
        row("Telugu", 12, "001D4A7F1B1C1B261B32", u"\u0C01\u0C1C\u0C36\u0C63\u0C66\u0C58\u0C7F");
        row("Urdu", 13, "001E4A7F1B191B2C1B3F", u"\u0627\u0689\u06AF\u0670\u0600\u0610\u06D4");
    }

    void nationalTables()
    {
        QFETCH(int, language);
        QFETCH(QByteArray, septets);
        QFETCH(QString, text);
        QCOMPARE(GsmOp::messageText({withHeader(languages(language, language), septets)}), text);
    }

    void messageText_data()
    {
        QTest::addColumn<QStringList>("pdus");
        QTest::addColumn<QString>("text");
        const auto row = [](const char* name, const QStringList& pdus, const QString& text) {
            QTest::newRow(name) << pdus << text;
        };

        const QByteArray s159 = letters(159);
        const QByteArray s160 = letters(159) + '\0';
        const QByteArray latin(
            "\x01\x03\x04\x05\x06\x07\x08\x09\x0B\x0C\x0E\x0F\x1C\x1D\x1E\x1F\x24\x40\x5B\x5C\x5D\x5E"
            "\x5F\x60\x7B\x7C\x7D\x7E\x7F");
        const QByteArray greek("\x10\x12\x13\x14\x15\x16\x17\x18\x19\x1A");
        const QByteArray extension(
            "\x1B\x0A\x1B\x14\x1B\x28\x1B\x29\x1B\x2F\x1B\x3C\x1B\x3D\x1B\x3E\x1B\x40\x1B\x65");

        row("no parts", {}, "");
        row("UCS2, lower-case hex", {deliverRaw("04", nationalOa, "08", 4, "4f60597d")}, "你好");
        row("UCS2 emoji and text", {deliverRaw("04", nationalOa, "08", 8, "D83DDE00004F004B")}, "😀OK");
        row("UCS2 in two parts",
            {deliver(no, 0x08, partHeader(0xA7, 2, 1), "4F60"),
             deliver(no, 0x08, partHeader(0xA7, 2, 2), "597D")},
            "你好");
        row("UCS2 surrogate pair split across parts",
            {deliver(no, 0x08, partHeader(0x01, 2, 1), "4F60D83D"),
             deliver(no, 0x08, partHeader(0x01, 2, 2), "DE00597D")},
            "你😀好");
        row("160 septets, '@' the 160th", {sevenBit(no, s160)}, QString::fromLatin1(s159) + QLatin1Char('@'));
        row("Latin letters and signs of the default alphabet", {sevenBit(no, latin)},
            "£¥èéùìòÇØøÅåÆæßÉ¤¡ÄÖÑÜ§¿äöñüà");
        row("Greek capitals and underscore", {sevenBit(no, greek + '\x11')}, "ΔΦΓΛΩΠΨΣΘΞ_");
        row("every extension character", {sevenBit(no, extension)}, "\f^{}\\[~]|€");
        row("three parts, 16-bit reference",
            {sevenBit(no, letters(152), partHeader(0x1234, 3, 1)),
             sevenBit(no, septetsOf("$100 @ "), partHeader(0x1234, 3, 2)),
             sevenBit(no, septetsOf("home"), partHeader(0x1234, 3, 3))},
            QString::fromLatin1(letters(152)) + QStringLiteral("$100 @ home"));
        row("Hindi word and danda through both tables",
            {withHeader(languages(6, 6), QByteArray::fromHex("2F424C5F27591B19"))}, "नमस्ते।");
        row("escape before a code the single shift table leaves undefined",
            {withHeader(languages(6, 6), QByteArray::fromHex("1B601B61"))}, "ॐa");
        row("locking shift alone keeps the default extension table",
            {withHeader(languages(1, -1), QByteArray::fromHex("1B651B73"))}, "€s");
        row("Spanish has no locking table: default alphabet",
            {withHeader(languages(2, 2), QByteArray::fromHex("091B61"))}, "Çá");
        row("reserved language falls back to the default tables",
            {withHeader(languages(14, 0x7F), QByteArray::fromHex("04601B65"))}, "è¿€");
        row("code the locking table leaves undefined shows as a space",
            {withHeader(languages(4, -1), QByteArray::fromHex("000C00"))}, "ঁ ঁ");
        row("each part read with the tables its header selects",
            {withHeader(QStringLiteral("0003420201") + languages(1, 1), QByteArray::fromHex("071B53")),
             withHeader(QStringLiteral("0003420202"), QByteArray::fromHex("071B53"))},
            "ıŞìS");
        row("escape split across two parts",
            {sevenBit(no, QByteArray("price ") + '\x1B', partHeader(0x09, 2, 1)),
             sevenBit(no, QByteArray::fromHex("6535"), partHeader(0x09, 2, 2))},
            "price €5");
    }

    void messageText()
    {
        QFETCH(QStringList, pdus);
        QFETCH(QString, text);
        QCOMPARE(GsmOp::messageText(pdus), text);
    }

    void hostileInputStaysInBounds_data()
    {
        QTest::addColumn<QString>("pdu");

        QTest::newRow("UCS2 part with a port element") << deliverRaw("44", nationalOa, "08", 16,
                                                                     "0B05040B8423F00003A70302"
                                                                     "4F60597D");
        QTest::newRow("7-bit part, 16-bit reference") << sevenBit(no, letters(40), partHeader(0x1234, 3, 2));
    }

    void hostileInputStaysInBounds()
    {
        // Every prefix of a valid PDU, and every character replaced by a
        // non-hexadecimal one or by a length octet at its largest: nothing may
        // read outside the text, and no text may be longer than its octets hold.
        QFETCH(QString, pdu);
        QStringList variants;
        for (int i = 0; i <= pdu.size(); ++i)
            variants << pdu.left(i);
        for (int i = 0; i < pdu.size(); ++i) {
            for (QChar c : {QLatin1Char('G'), QLatin1Char('F'), QLatin1Char('0')}) {
                QString changed = pdu;
                changed[i] = c;
                variants << changed;
            }
        }
        for (const QString& variant : variants) {
            GsmPduRecvDeliver d;
            d.decode(variant);
            QVERIFY(d.ud.size() <= variant.size());
            QVERIFY(d.udh.size() <= variant.size());
            const QString text = GsmOp::messageText({variant, variant});
            QVERIFY2(text.size() <= variant.size() * 2, qPrintable(variant));
        }
    }
};

QTEST_GUILESS_MAIN(TestGsmPdu)
#include "tst_gsmpdu.moc"
