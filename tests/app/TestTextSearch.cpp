#include "textview/TTextSearch.h"

#include <QTest>

#include <random>

using namespace torvane;

// The view's find gives the matches Qt's own search gives, from every position, both ways, with and
// without letter case: over texts long enough for the scan's blocks of eight and its tail, with letters
// that fold in more than two ways (k, K and the Kelvin sign), Japanese, full-width letters, surrogate pairs.
class TestTextSearch : public QObject {
    Q_OBJECT
private slots:
    void sameAsQt_data();
    void sameAsQt();
};

void TestTextSearch::sameAsQt_data()
{
    QTest::addColumn<QString>("alphabet");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("seed");
    QTest::newRow("ASCII letters and quotes") << QStringLiteral("aAbB\" =") << 300 << 1;
    QTest::newRow("k and s folded three ways") << QString::fromUtf8("kKKsSſxX") << 300 << 2;
    QTest::newRow("Japanese and full-width") << QString::fromUtf8("東京駅ＡａＢｂ ß") << 200 << 3;
    QTest::newRow("surrogate pairs") << QString::fromUtf8("a😀𐐀𐐨Aé") << 200 << 4;
}

void TestTextSearch::sameAsQt()
{
    QFETCH(QString, alphabet);
    QFETCH(int, length);
    QFETCH(int, seed);
    std::mt19937 rng(static_cast<unsigned>(seed));
    // Characters, not code units, so that pairs stay whole.
    QStringList characters;
    for (qsizetype i = 0; i < alphabet.size(); i += alphabet.at(i).isHighSurrogate() ? 2 : 1) {
        characters.append(alphabet.mid(i, alphabet.at(i).isHighSurrogate() ? 2 : 1));
    }
    QString text;
    for (int i = 0; i < length; ++i) {
        text += characters[static_cast<qsizetype>(rng() % characters.size())];
    }
    int found = 0;
    for (int n = 0; n < 24; ++n) {
        // Pieces of the text (so that there are matches), some in other letter case, and a few absent ones.
        // Whole characters, as the find bar's text has them.
        qsizetype at = static_cast<qsizetype>(rng() % (text.size() - 14));
        qsizetype end = at + 1 + static_cast<qsizetype>(rng() % 12);
        at += text.at(at).isLowSurrogate() ? 1 : 0;
        end += text.at(end).isLowSurrogate() ? 1 : 0;
        QString needle = text.mid(at, end - at);
        if (n % 3 == 1) {
            needle = needle.toUpper();
        } else if (n % 3 == 2) {
            needle = needle.toLower();
        }
        if (n % 8 == 7) {
            needle += QStringLiteral("#");
        }
        for (const Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
            for (qsizetype from = 0; from < text.size(); ++from) {
                const qsizetype forward = QStringView(text).indexOf(needle, from, cs);
                QCOMPARE(findText(text, needle, from, cs), forward);
                QCOMPARE(findTextBackward(text, needle, from, cs), QStringView(text).lastIndexOf(needle, from, cs));
                found += forward >= 0;
            }
        }
    }
    QVERIFY(found > 500);
}

QTEST_MAIN(TestTextSearch)
#include "TestTextSearch.moc"
