// The line's code page (serial/CodePage): Windows-1252 through the program's
// own table.
#include "serial/CodePage.h"

#include <QtTest>

class CodePageTest : public QObject {
    Q_OBJECT
private slots:
    void everyByteRoundTrips() {
        QByteArray all;
        for (int b = 0; b < 256; ++b) all.append(char(b));

        const QString text = CodePage::fromAnsi(all);
        QCOMPARE(text.size(), qsizetype(256));  // one character per byte
        QCOMPARE(CodePage::toAnsi(text), all);

        for (int b = 0; b < 256; ++b) {
            const QByteArray one(1, char(b));
            const QString c = CodePage::fromAnsi(one);
            QCOMPARE(c.size(), qsizetype(1));
            QCOMPARE(CodePage::toAnsi(c), one);
            QCOMPARE(CodePage::firstCharCode(c), b);
        }

        // Each byte maps to a different character.
        QSet<QChar> seen;
        for (QChar c : text) seen.insert(c);
        QCOMPARE(seen.size(), qsizetype(256));
    }

    void knownMappings_data() {
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("unicode");
        QTest::newRow("NUL") << 0x00 << 0x0000;
        QTest::newRow("A") << 0x41 << 0x0041;
        QTest::newRow("DEL") << 0x7F << 0x007F;
        QTest::newRow("euro") << 0x80 << 0x20AC;
        QTest::newRow("unassigned 81") << 0x81 << 0x0081;
        QTest::newRow("low quote") << 0x82 << 0x201A;
        QTest::newRow("florin") << 0x83 << 0x0192;
        QTest::newRow("ellipsis") << 0x85 << 0x2026;
        QTest::newRow("S caron") << 0x8A << 0x0160;
        QTest::newRow("OE") << 0x8C << 0x0152;
        QTest::newRow("unassigned 8D") << 0x8D << 0x008D;
        QTest::newRow("Z caron") << 0x8E << 0x017D;
        QTest::newRow("unassigned 8F") << 0x8F << 0x008F;
        QTest::newRow("unassigned 90") << 0x90 << 0x0090;
        QTest::newRow("left quote") << 0x91 << 0x2018;
        QTest::newRow("en dash") << 0x96 << 0x2013;
        QTest::newRow("em dash") << 0x97 << 0x2014;
        QTest::newRow("trade mark") << 0x99 << 0x2122;
        QTest::newRow("unassigned 9D") << 0x9D << 0x009D;
        QTest::newRow("Y diaeresis") << 0x9F << 0x0178;
        QTest::newRow("nbsp") << 0xA0 << 0x00A0;
        QTest::newRow("e acute") << 0xE9 << 0x00E9;
        QTest::newRow("y diaeresis") << 0xFF << 0x00FF;
    }

    void knownMappings() {
        QFETCH(int, byte);
        QFETCH(int, unicode);
        const QByteArray one(1, char(byte));
        QCOMPARE(CodePage::fromAnsi(one), QString(QChar(char16_t(unicode))));
        QCOMPARE(CodePage::toAnsi(QString(QChar(char16_t(unicode)))), one);
    }

    void outsideThePage_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("C1 80 (the euro's byte, not a character of the page)")
            << QString(QChar(0x0080)) << QByteArray("?");
        QTest::newRow("C1 9E") << QString(QChar(0x009E)) << QByteArray("?");
        QTest::newRow("Greek alpha") << QString(QChar(0x03B1)) << QByteArray("?");
        QTest::newRow("CJK") << QString(QChar(0x4E2D)) << QByteArray("?");
        QTest::newRow("replacement char") << QString(QChar(0xFFFD)) << QByteArray("?");
        QTest::newRow("surrogate pair is one character")
            << QString::fromUcs4(U"\U0001F600") << QByteArray("?");
        QTest::newRow("pair between letters")
            << (QStringLiteral("a") + QString::fromUcs4(U"\U0001D11E") + QStringLiteral("b"))
            << QByteArray("a?b");
        QTest::newRow("two pairs")
            << QString::fromUcs4(U"\U0001F600\U0001F601") << QByteArray("??");
        QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) << QByteArray("?");
        QTest::newRow("lone low surrogate then letter")
            << (QString(QChar(0xDC00)) + QStringLiteral("x")) << QByteArray("?x");
        QTest::newRow("mixed") << (QStringLiteral("A") + QChar(0x20AC) + QChar(0x03A9) +
                                   QStringLiteral("z"))
                               << QByteArray("A\x80?z");
    }

    void outsideThePage() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(CodePage::toAnsi(text), bytes);
    }

    void firstCharCode_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code");
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("A") << QStringLiteral("A") << 65;
        QTest::newRow("AB") << QStringLiteral("AB") << 65;
        QTest::newRow("U") << QStringLiteral("U") << 85;
        QTest::newRow("blank") << QStringLiteral(" A") << 32;
        QTest::newRow("euro 128") << QString(QChar(0x20AC)) << 128;
        QTest::newRow("y diaeresis 255") << QString(QChar(0x00FF)) << 255;
        QTest::newRow("NUL") << QString(QChar(0)) << 0;
        QTest::newRow("outside the page") << QString(QChar(0x03B1)) << 63;
        QTest::newRow("surrogate pair") << QString::fromUcs4(U"\U0001F600x") << 63;
    }

    void firstCharCode() {
        QFETCH(QString, text);
        QFETCH(int, code);
        QCOMPARE(CodePage::firstCharCode(text), code);
    }

    void emptyText() {
        QCOMPARE(CodePage::toAnsi(QString()), QByteArray());
        QCOMPARE(CodePage::fromAnsi(QByteArray()), QString());
    }
};

QTEST_GUILESS_MAIN(CodePageTest)
#include "tst_codepage.moc"
