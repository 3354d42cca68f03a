#include "StrToInt.h"
#include "TFailure.h"

#include <QTest>

using namespace torvane;

class TestStrToInt : public QObject {
    Q_OBJECT
private slots:
    void accepted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "10" << 10;
        QTest::newRow("leading spaces") << "   42" << 42;
        QTest::newRow("plus") << "+7" << 7;
        QTest::newRow("minus") << "-3" << -3;
        QTest::newRow("leading zeros") << "0010" << 10;
        QTest::newRow("minus zero") << "-0" << 0;
        QTest::newRow("max") << "2147483647" << 2147483647;
        QTest::newRow("min") << "-2147483648" << int(-2147483647 - 1);
        QTest::newRow("dollar hex") << "$1F" << 31;
        QTest::newRow("x hex") << "xff" << 255;
        QTest::newRow("X hex") << "X10" << 16;
        QTest::newRow("0x hex") << "0x7FFFFFFF" << 2147483647;
        QTest::newRow("0X hex") << "0X0a" << 10;
        QTest::newRow("hex two's complement") << "$FFFFFFFF" << -1;
        QTest::newRow("hex high bit") << "0x80000000" << int(-2147483647 - 1);
        QTest::newRow("hex leading zeros") << "$000000001" << 1;
        QTest::newRow("spaces then hex") << "  $a" << 10;
    }
    void accepted()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(StrToInt(text), value);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("spaces only") << "   ";
        QTest::newRow("decimal point") << "1.5";
        QTest::newRow("trailing space") << "10 ";
        QTest::newRow("lone plus") << "+";
        QTest::newRow("lone minus") << "-";
        QTest::newRow("double sign") << "--1";
        QTest::newRow("above max") << "2147483648";
        QTest::newRow("below min") << "-2147483649";
        QTest::newRow("huge") << "99999999999999999999";
        QTest::newRow("sign before hex") << "-$10";
        QTest::newRow("hex prefix alone") << "$";
        QTest::newRow("0x alone") << "0x";
        QTest::newRow("hex too long") << "$100000000";
        QTest::newRow("bad hex digit") << "$1G";
        QTest::newRow("full-width digit") << "１２";
        QTest::newRow("arabic-indic digit") << QString(QChar(0x0663));
        QTest::newRow("tab before") << "\t1";
        QTest::newRow("ideographic space before") << QString(QChar(0x3000)) + "1";
        QTest::newRow("digits then x") << "00x1";
        QTest::newRow("h suffix") << "1Fh";
    }
    void refused()
    {
        QFETCH(QString, text);
        QVERIFY(!tryStrToInt(text).has_value());
        try {
            StrToInt(text);
            QFAIL("no failure thrown");
        } catch (const TFailure& failure) {
            QCOMPARE(failure.message(), QStringLiteral("'%1' は整数ではありません").arg(text));
        }
    }
};

QTEST_GUILESS_MAIN(TestStrToInt)
#include "TestStrToInt.moc"
