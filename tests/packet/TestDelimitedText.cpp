#include "TCsvFile.h"
#include "TCsvRecords.h"
#include "TDelimitedText.h"
#include "TFailure.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace torvane;

Q_DECLARE_METATYPE(torvane::TTextTable)

namespace {

const TTextTable Awkward{
    {"ID", "名前", "備考"}, {"1", "東京\t駅", "say \"hi\""}, {"2", "一行目\n二行目", ""}, {"", "a,b", "CR LF\r\nend"}};

// The values each record kept.
TTextTable valuesOf(const std::vector<TGridRow>& records)
{
    TTextTable values;
    for (const TGridRow& record : records) {
        values.push_back(record.cells(record.size()));
    }
    return values;
}

} // namespace

class TestDelimitedText : public QObject {
    Q_OBJECT
private slots:
    void tabText_data();
    void tabText();
    void csvText_data();
    void csvText();
    void csvFiles_data();
    void csvFiles();
    void csvRecords_data();
    void csvRecords();
    void csvImportChoices_data();
    void csvImportChoices();
};

void TestDelimitedText::tabText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<TTextTable>("rows");
    QTest::addColumn<bool>("writtenAlike");
    QTest::newRow("calc block, quoted tab, break and quote")
        << "a\t\"b\tc\"\n\"x\ny\"\t\"say \"\"hi\"\"\"\n"
        << TTextTable{{"a", "b\tc"}, {"x\ny", "say \"hi\""}} << true;
    QTest::newRow("excel CR LF rows, no last break") << "1\t2\r\n3\t4" << TTextTable{{"1", "2"}, {"3", "4"}} << false;
    QTest::newRow("one value") << "v\n" << TTextTable{{"v"}} << true;
    QTest::newRow("empty cells and empty line") << "\t\n\nz\n" << TTextTable{{"", ""}, {""}, {"z"}} << true;
    QTest::newRow("trailing tab") << "a\t" << TTextTable{{"a", ""}} << false;
    QTest::newRow("unclosed quote read as it stands") << "\"open\tb\nc\n"
                                                      << TTextTable{{"\"open", "b"}, {"c"}} << false;
    QTest::newRow("text after a closing quote kept") << "\"a\"b\tc\n" << TTextTable{{"ab", "c"}} << false;
    QTest::newRow("nothing") << "" << TTextTable{} << true;
    QTest::newRow("blank last line is no row") << "x\ty\n\n" << TTextTable{{"x", "y"}} << false;
    QTest::newRow("blank last CR LF line is no row") << "x\r\n\r\n" << TTextTable{{"x"}} << false;
    QTest::newRow("empty last value quoted") << "x\n\"\"\n" << TTextTable{{"x"}, {""}} << true;
    QTest::newRow("one empty cell") << "\n" << TTextTable{{""}} << true;
}

void TestDelimitedText::tabText()
{
    QFETCH(QString, text);
    QFETCH(TTextTable, rows);
    QFETCH(bool, writtenAlike);
    QCOMPARE(fromTabText(text), rows);
    if (writtenAlike) {
        QCOMPARE(toTabText(rows), text);
    }
    QCOMPARE(fromTabText(toTabText(Awkward)), Awkward);
}

void TestDelimitedText::csvText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<TTextTable>("rows");
    QTest::addColumn<int>("errorLine");
    QTest::newRow("rfc 4180") << "a,\"b,c\",\"d\"\"e\"\r\n\"f\r\ng\",h,\r\n"
                              << TTextTable{{"a", "b,c", "d\"e"}, {"f\r\ng", "h", ""}} << 0;
    QTest::newRow("blank lines hold no record") << "x\n\n\ny\n" << TTextTable{{"x"}, {"y"}} << 0;
    QTest::newRow("one empty value quoted") << "H\r\n\"\"\r\nv\r\n" << TTextTable{{"H"}, {""}, {"v"}} << 0;
    QTest::newRow("unclosed quote after a two-line value") << "a,b\r\n\"x\r\ny\",z\r\n1,\"open\r\n2,3\r\n"
                                                           << TTextTable{} << 4;
    QTest::newRow("unclosed quote on line 1") << "\"" << TTextTable{} << 1;
}

void TestDelimitedText::csvText()
{
    QFETCH(QString, text);
    QFETCH(TTextTable, rows);
    QFETCH(int, errorLine);
    int line = 0;
    const std::optional<TTextTable> read = fromCsvText(text, &line);
    QCOMPARE(read.has_value(), errorLine == 0);
    QCOMPARE(line, errorLine);
    if (read) {
        QCOMPARE(*read, rows);
        QCOMPARE(fromCsvText(toCsvText(rows)), std::optional<TTextTable>(rows));
    }
    QCOMPARE(fromCsvText(toCsvText(Awkward)), std::optional<TTextTable>(Awkward));
}

void TestDelimitedText::csvFiles_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("start");
    QTest::newRow("UTF-8 with byte-order mark") << int(TCsvEncoding::Utf8WithBom) << QByteArray("\xEF\xBB\xBFID,");
    QTest::newRow("CP932") << int(TCsvEncoding::Cp932) << QByteArray("ID,\x96\xbc\x91\x4f");
}

void TestDelimitedText::csvFiles()
{
    QFETCH(int, encoding);
    QFETCH(QByteArray, start);
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("out.csv"));
    const QString text = toCsvText(Awkward);
    saveCsvFile(name, text, TCsvEncoding(encoding));
    QFile file(name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith(start));
    QCOMPARE(loadCsvFile(name), text);

    // UTF-8 holds every character. CP932 refuses what it cannot hold, naming the line, and leaves the old file; the
    // wave dash that input methods give is saved as CP932's own.
    QString message;
    try {
        saveCsvFile(name, QStringLiteral("a\r\n\"x\ny\"\r\n😀\r\n"), TCsvEncoding(encoding));
    } catch (const TFailure& failure) {
        message = failure.message();
    }
    QCOMPARE(message,
             encoding == int(TCsvEncoding::Cp932)
                 ? QStringLiteral("4 行目の文字「😀」(U+1F600) は Shift_JIS (CP932) で表せないため、保存できません")
                 : QString());
    if (encoding == int(TCsvEncoding::Utf8WithBom)) {
        QCOMPARE(loadCsvFile(name), QStringLiteral("a\r\n\"x\ny\"\r\n😀\r\n"));
    } else {
        // Records written a piece at a time: the refusal names the line in the whole file, and the old
        // file stays.
        message.clear();
        try {
            TCsvFileWriter writer(name, TCsvEncoding::Cp932);
            const QString value = QStringLiteral("二十文字ほどの値、二十文字ほどの値");
            const QStringView values[] = {value, value};
            for (int r = 0; r < 20000; ++r) {
                writer.writeRecord(values, 2);
            }
            const QString bad = QStringLiteral("😀");
            const QStringView last[] = {value, bad};
            writer.writeRecord(last, 2);
            writer.commit();
        } catch (const TFailure& failure) {
            message = failure.message();
        }
        QCOMPARE(message,
                 QStringLiteral("20001 行目の文字「😀」(U+1F600) は Shift_JIS (CP932) で表せないため、保存できません"));
        QCOMPARE(loadCsvFile(name), text);
        saveCsvFile(name, QStringLiteral("1〜2\r\n"), TCsvEncoding::Cp932);
        QCOMPARE(loadCsvFile(name), QStringLiteral("1～2\r\n"));
    }
}

void TestDelimitedText::csvRecords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("taken: names, then records up to as long as the header") << "ID,名前\r\n1\r\n2,x\r\n" << QString();
    QTest::newRow("quote never closed")
        << "a\r\n\"x\r\n"
        << "2 行目で始まる値の引用符（\"）が閉じられていないため、CSV ファイルを読み込めません";
    QTest::newRow("no header row") << "\r\n\r\n"
                                   << "CSV ファイルに見出しの行がありません";
    QTest::newRow("header name repeated, case aside")
        << "ID,名前,id\r\n"
        << "CSV ファイルの見出しの 3 列目「id」は空か、前の列と同じ名前です";
    QTest::newRow("record longer than the header")
        << "a,b\r\n1,2\r\n1,2,3\r\n"
        << "CSV ファイルの 2 件目のレコードは見出しより値が多いため、読み込めません";
}

void TestDelimitedText::csvRecords()
{
    QFETCH(QString, text);
    QFETCH(QString, refusal);
    const std::variant<TCsvRecords, TCsvRefusal> read = readCsvRecords(text);
    const auto* refused = std::get_if<TCsvRefusal>(&read);
    QCOMPARE(refused ? refused->message : QString(), refusal);
    if (const auto* csv = std::get_if<TCsvRecords>(&read)) {
        QCOMPARE(csv->names, (QStringList{"ID", "名前"}));
        QCOMPARE(valuesOf(csv->records), (TTextTable{{"1"}, {"2", "x"}}));
        QCOMPARE(csv->count, 2);
        // A preview keeps the first records and counts them all.
        const auto first = std::get<TCsvRecords>(readCsvRecords(text, u',', true, 1));
        QCOMPARE(valuesOf(first.records), (TTextTable{{"1"}}));
        QCOMPARE(first.count, 2);
    }
}

void TestDelimitedText::csvImportChoices_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<bool>("header");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QString>("refusal");
    const int automatic = int(TCsvEncodingChoice::Automatic);
    const int cp932 = int(TCsvEncodingChoice::Cp932);
    const int utf8 = int(TCsvEncodingChoice::Utf8);
    QTest::newRow("semicolons under a header, CP932 told from the bytes")
        << QByteArray("ID;\x96\xbc\x91\x4f\r\n1;a,b\r\n") << automatic << QChar(u';') << true
        << QStringList{"ID", "名前"} << QStringList{"1|a,b"} << QString();
    QTest::newRow("tabs without a header: columns named by number")
        << QByteArray("1\tx\ty\r\n2\r\n") << automatic << QChar(u'\t') << false << QStringList{"列1", "列2", "列3"}
        << QStringList{"1|x|y", "2"} << QString();
    QTest::newRow("CP932 asked for") << QByteArray("\x96\xbc\r\n") << cp932 << QChar(u',') << false
                                     << QStringList{"列1"} << QStringList{"名"} << QString();
    QTest::newRow("UTF-8 asked for, byte-order mark dropped")
        << QByteArray("\xEF\xBB\xBF\xE5\x90\x8D\r\n") << utf8 << QChar(u',') << true << QStringList{"名"}
        << QStringList{} << QString();
    // "é" and "ü" in UTF-8 (C3 A9, C3 BC) are also "ﾃｩ" and "ﾃｼ" in CP932: the automatic choice shows both
    // readings and asks; either choice reads as chosen.
    const QByteArray latin("Name,City\r\nJos\xC3\xA9,Z\xC3\xBCrich\r\n");
    QTest::newRow("UTF-8 or half-width katakana, automatic asks")
        << latin << automatic << QChar(u',') << true << QStringList{} << QStringList{}
        << QStringLiteral("このファイルは UTF-8 としても Shift_JIS（CP932）としても読めます"
                          "（UTF-8 では「José」、Shift_JIS（CP932）では「Josﾃｩ」）。文字コードを選んでください");
    QTest::newRow("UTF-8 or half-width katakana, UTF-8 chosen")
        << latin << utf8 << QChar(u',') << true << QStringList{"Name", "City"} << QStringList{"José|Zürich"}
        << QString();
    QTest::newRow("UTF-8 or half-width katakana, CP932 chosen")
        << latin << cp932 << QChar(u',') << true << QStringList{"Name", "City"} << QStringList{"Josﾃｩ|Zﾃｼrich"}
        << QString();
    QTest::newRow("UTF-8 beyond katakana told from the bytes")
        << QByteArray("a\r\n\xC3\xA0\r\n") << automatic << QChar(u',') << true << QStringList{"a"} << QStringList{"à"}
        << QString();
    QTest::newRow("UTF-16 told by its byte-order mark")
        << QByteArray("\xFF\xFEI\0D\0,\0\x0D\x54\r\0\n\0"
                      "1\0,\0\xC3\0\r\0\n\0",
                      24)
        << automatic << QChar(u',') << true << QStringList{"ID", "名"} << QStringList{"1|Ã"} << QString();
    QTest::newRow("no record at all, without a header")
        << QByteArray("\r\n") << automatic << QChar(u',') << false << QStringList{} << QStringList{}
        << "CSV ファイルにレコードがありません";
}

void TestDelimitedText::csvImportChoices()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, encoding);
    QFETCH(QChar, separator);
    QFETCH(bool, header);
    QFETCH(QStringList, names);
    QFETCH(QStringList, records);
    QFETCH(QString, refusal);
    QString text;
    try {
        text = decodeCsvText(bytes, TCsvEncodingChoice(encoding));
    } catch (const TFailure& failure) {
        QCOMPARE(failure.message(), refusal);
        return;
    }
    const std::variant<TCsvRecords, TCsvRefusal> read = readCsvRecords(text, separator, header);
    const auto* refused = std::get_if<TCsvRefusal>(&read);
    QCOMPARE(refused ? refused->message : QString(), refusal);
    if (const auto* csv = std::get_if<TCsvRecords>(&read)) {
        QCOMPARE(csv->names, names);
        QStringList joined;
        for (const std::vector<QString>& record : valuesOf(csv->records)) {
            joined.append(QStringList(record.begin(), record.end()).join(u'|'));
        }
        QCOMPARE(joined, records);
    }
}

QTEST_GUILESS_MAIN(TestDelimitedText)
#include "TestDelimitedText.moc"
