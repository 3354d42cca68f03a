#include "TFailure.h"
#include "TPacketFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace torvane;

namespace {

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return "<missing>";
    }
    return file.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The message of the TFailure that `action` throws, or a note that it threw none.
template <typename Action>
QString failureOf(Action action)
{
    try {
        action();
    } catch (const TFailure& failure) {
        return failure.message();
    }
    return QStringLiteral("<no failure>");
}

} // namespace

class TestPacketFile : public QObject {
    Q_OBJECT
private slots:
    void init();

    void lineBreaks_data();
    void lineBreaks();
    void loadEncodings_data();
    void loadEncodings();
    void saveBytes_data();
    void saveBytes();
    void unrepresentableRefused_data();
    void unrepresentableRefused();
    void saveIntoMissingFolder();
    void failedCommitKeepsOldFile();
    void loadFailures_data();
    void loadFailures();
    void nameTakenAsGiven();
    void everyCp932CharacterRoundTrips();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }
};

void TestPacketFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestPacketFile::lineBreaks_data()
{
    QTest::addColumn<QByteArray>("fileBytes");
    QTest::addColumn<QString>("viewText");
    QTest::addColumn<QByteArray>("savedBytes");

    QTest::newRow("CR LF") << QByteArray("<A>\r\n<B/>\r\n") << "<A>\n<B/>\n" << QByteArray("<A>\r\n<B/>\r\n");
    QTest::newRow("LF only") << QByteArray("<A>\n<B/>\n") << "<A>\n<B/>\n" << QByteArray("<A>\r\n<B/>\r\n");
    QTest::newRow("CR only") << QByteArray("<A>\r<B/>\r") << "<A>\n<B/>\n" << QByteArray("<A>\r\n<B/>\r\n");
    QTest::newRow("mixed, blank lines kept")
        << QByteArray("a\r\n\rb\n\nc\r") << "a\n\nb\n\nc\n" << QByteArray("a\r\n\r\nb\r\n\r\nc\r\n");
    QTest::newRow("LF then CR is two breaks") << QByteArray("a\n\rb") << "a\n\nb" << QByteArray("a\r\n\r\nb");
    QTest::newRow("no break after the last line") << QByteArray("a\nb") << "a\nb" << QByteArray("a\r\nb");
    QTest::newRow("only breaks") << QByteArray("\r\r\n\n") << "\n\n\n" << QByteArray("\r\n\r\n\r\n");
    QTest::newRow("CP932 with LF only") << QByteArray("\x93\xfa\x96\x7b\n\x95\x5c\n") << QString::fromUtf8("日本\n表\n")
                                        << QByteArray("\x93\xfa\x96\x7b\r\n\x95\x5c\r\n");
    QTest::newRow("UTF-8 with CR only, saved as CP932")
        << QByteArray("\xe6\x97\xa5\xe6\x9c\xac\r\xe8\xa1\xa8") << QString::fromUtf8("日本\n表")
        << QByteArray("\x93\xfa\x96\x7b\r\n\x95\x5c");
    QTest::newRow("empty file") << QByteArray() << QString() << QByteArray();
}

void TestPacketFile::lineBreaks()
{
    QFETCH(QByteArray, fileBytes);
    QFETCH(QString, viewText);
    QFETCH(QByteArray, savedBytes);

    writeBytes(path("in.xml"), fileBytes);
    const QString loaded = loadPacketFile(path("in.xml"));
    QCOMPARE(loaded, viewText);
    savePacketFile(path("out.xml"), loaded);
    QCOMPARE(readBytes(path("out.xml")), savedBytes);
}

void TestPacketFile::loadEncodings_data()
{
    QTest::addColumn<QByteArray>("fileBytes");
    QTest::addColumn<QString>("viewText");

    // 表 and ソ have 0x5C ("\") as their second byte; 纊 is an IBM extension.
    QTest::newRow("CP932 Japanese")
        << QByteArray("<ROW NAME=\"\x93\xfa\x96\x7b\x8c\xea\x95\x5c\x83\x5c\xb1\xb2\"/>\r\n\xfa\x5c")
        << QString::fromUtf8("<ROW NAME=\"日本語表ソｱｲ\"/>\n纊");
    QTest::newRow("CP932 JIS forms") << QByteArray("\x81\x60\x81\x61\x81\x7c\x81\x5c\x81\x91\x81\x92\x81\xca")
                                     << QString::fromUtf8("～∥－―￠￡￢");
    QTest::newRow("CP932 NEC and IBM rows of one character") << QByteArray("\xed\x40\xfa\x5c\xee\xef\xfa\x40")
                                                            << QString::fromUtf8("纊纊ⅰⅰ");
    QTest::newRow("UTF-8 without BOM") << QByteArray("<ROW NAME=\"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\"/>")
                                       << QString::fromUtf8("<ROW NAME=\"日本語\"/>");
    QTest::newRow("UTF-8 with BOM, BOM dropped") << QByteArray("\xef\xbb\xbf<A>\xe3\x81\x82</A>\r\n")
                                                << QString::fromUtf8("<A>あ</A>\n");
    QTest::newRow("UTF-8 BOM before ASCII") << QByteArray("\xef\xbb\xbf<A/>") << "<A/>";
    QTest::newRow("UTF-8 outside CP932") << QByteArray("\xf0\x9f\x98\x80\xf0\xa0\xae\xb7") << QString::fromUtf8("😀𠮷");
    QTest::newRow("ASCII with the control codes ICU swaps") << QByteArray("a\x1a\x1c\x7f~\\")
                                                            << QString::fromLatin1("a\x1a\x1c\x7f~\\");
    // "あ" in CP932 starts with a byte UTF-8 only allows inside a sequence.
    QTest::newRow("invalid UTF-8 read as CP932") << QByteArray("\x82\xa0") << QString::fromUtf8("あ");
    QTest::newRow("UTF-8 cut in a sequence read as CP932")
        << QByteArray("\xe6\x97") << QString::fromUtf8("譌");
    QTest::newRow("UTF-8 overlong form read as CP932") << QByteArray("\xc0\xaf") << QString::fromUtf8("ﾀｯ");
    QTest::newRow("UTF-8 surrogate form read as CP932") << QByteArray("\xed\xa0") << QString::fromUtf8("恝");
    // F4 90 is a pair of the user-defined area.
    QTest::newRow("UTF-8 past U+10FFFF read as CP932") << QByteArray("\xf4\x90\x80\x80")
                                                       << QString(QChar(0xE33F)) + QChar(0xFFFD) + QChar(0xFFFD);
    QTest::newRow("UTF-8 after a long ASCII run") << QByteArray(1000, 'a') + "\xe3\x81\x82"
                                                  << QString(1000, u'a') + QString::fromUtf8("あ");
    QTest::newRow("CP932 truncated last byte kept") << QByteArray("\x93\xfa\x96") << QString::fromUtf8("日\xef\xbf\xbd");
    QTest::newRow("CP932 lead byte before a line break")
        << QByteArray("\x93\r\nA") << QString::fromUtf8("\xef\xbf\xbd\nA");
    QTest::newRow("CP932 undefined single byte") << QByteArray("\x80\xa0\xfd" "A\x82\xa0")
                                                 << QString::fromUtf8("\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd" "Aあ");
}

void TestPacketFile::loadEncodings()
{
    QFETCH(QByteArray, fileBytes);
    QFETCH(QString, viewText);

    writeBytes(path("in.xml"), fileBytes);
    QCOMPARE(loadPacketFile(path("in.xml")), viewText);
}

void TestPacketFile::saveBytes_data()
{
    QTest::addColumn<QString>("viewText");
    QTest::addColumn<QByteArray>("fileBytes");

    QTest::newRow("empty text, empty file") << QString() << QByteArray();
    QTest::newRow("one line, no break added") << "<A/>" << QByteArray("<A/>");
    QTest::newRow("no byte-order mark, CP932")
        << QString::fromUtf8("日本語\n") << QByteArray("\x93\xfa\x96\x7b\x8c\xea\r\n");
    QTest::newRow("0x5C second bytes") << QString::fromUtf8("表ソ\\") << QByteArray("\x95\x5c\x83\x5c\\");
    QTest::newRow("half-width katakana") << QString::fromUtf8("ｱﾝ") << QByteArray("\xb1\xdd");
    QTest::newRow("ASCII control codes as they are")
        << QString::fromLatin1("\x1a\x1c\x7f\t") << QByteArray("\x1a\x1c\x7f\t");
    QTest::newRow("U+301C wave dash") << QString(QChar(0x301C)) << QByteArray("\x81\x60");
    QTest::newRow("U+2016 double vertical line") << QString(QChar(0x2016)) << QByteArray("\x81\x61");
    QTest::newRow("U+2212 minus sign") << QString(QChar(0x2212)) << QByteArray("\x81\x7c");
    QTest::newRow("U+2014 em dash") << QString(QChar(0x2014)) << QByteArray("\x81\x5c");
    QTest::newRow("U+00A2 cent sign") << QString(QChar(0x00A2)) << QByteArray("\x81\x91");
    QTest::newRow("U+00A3 pound sign") << QString(QChar(0x00A3)) << QByteArray("\x81\x92");
    QTest::newRow("U+00AC not sign") << QString(QChar(0x00AC)) << QByteArray("\x81\xca");
    QTest::newRow("CP932 forms unchanged") << QString::fromUtf8("～∥－―￠￡￢")
                                           << QByteArray("\x81\x60\x81\x61\x81\x7c\x81\x5c\x81\x91\x81\x92\x81\xca");
    // Characters with two or three codes take the one Windows writes.
    QTest::newRow("IBM extension rather than NEC-selected")
        << QString::fromUtf8("纊ⅰ￤") << QByteArray("\xfa\x5c\xfa\x40\xfa\x55");
    QTest::newRow("JIS row rather than NEC row 13")
        << QString::fromUtf8("≒∵￢") << QByteArray("\x81\xe0\x81\xe6\x81\xca");
    QTest::newRow("NEC row 13 rather than IBM extension") << QString::fromUtf8("Ⅰ№") << QByteArray("\x87\x54\x87\x82");
    QTest::newRow("user-defined area") << QString(QChar(0xE000)) << QByteArray("\xf0\x40");
}

void TestPacketFile::saveBytes()
{
    QFETCH(QString, viewText);
    QFETCH(QByteArray, fileBytes);

    // Over an existing, longer file: it is replaced, not written into.
    writeBytes(path("out.xml"), QByteArray(64, 'x'));
    savePacketFile(path("out.xml"), viewText);
    QCOMPARE(readBytes(path("out.xml")), fileBytes);
}

void TestPacketFile::unrepresentableRefused_data()
{
    QTest::addColumn<QString>("viewText");
    QTest::addColumn<QString>("message");

    QTest::newRow("emoji on line 3")
        << QString::fromUtf8("<A>\n<B/>\n<ROW V=\"x😀\"/>\n")
        << QString::fromUtf8("3 行目の文字「😀」(U+1F600) は Shift_JIS (CP932) で表せないため、保存できません");
    QTest::newRow("supplementary kanji on line 1")
        << QString::fromUtf8("𠮷野家\n") << QString::fromUtf8("1 行目の文字「𠮷」(U+20BB7) は Shift_JIS (CP932) で表せないため、保存できません");
    QTest::newRow("yen sign, no CP932 form")
        << QString::fromUtf8("a\nb\n\n¥100")
        << QString::fromUtf8("4 行目の文字「¥」(U+00A5) は Shift_JIS (CP932) で表せないため、保存できません");
    QTest::newRow("first of two is named")
        << QString::fromUtf8("ok\r\n€ and é")
        << QString::fromUtf8("2 行目の文字「€」(U+20AC) は Shift_JIS (CP932) で表せないため、保存できません");
    QTest::newRow("lone surrogate") << QString("a\n") + QChar(0xD800)
                                    << QString::fromUtf8("2 行目の文字 (U+D800) は Shift_JIS (CP932) で表せないため、保存できません");
    QTest::newRow("last character of a long text")
        << QString("<ROW V=\"abc\"/>\n").repeated(5000) + QChar(0x00E9)
        << QString::fromUtf8("5001 行目の文字「é」(U+00E9) は Shift_JIS (CP932) で表せないため、保存できません");
}

void TestPacketFile::unrepresentableRefused()
{
    QFETCH(QString, viewText);
    QFETCH(QString, message);

    const QByteArray old("\x93\xfa\x96\x7b old\r\n");
    writeBytes(path("old.xml"), old);
    QCOMPARE(failureOf([&] { savePacketFile(path("old.xml"), viewText); }), message);
    QCOMPARE(readBytes(path("old.xml")), old);

    QCOMPARE(failureOf([&] { savePacketFile(path("new.xml"), viewText); }), message);
    QVERIFY(!QFile::exists(path("new.xml")));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"old.xml"});
}

void TestPacketFile::saveIntoMissingFolder()
{
    const QString name = path("missing/sub/out.xml");
    QCOMPARE(failureOf([&] { savePacketFile(name, QStringLiteral("<A/>\n")); }),
             QStringLiteral("ファイル %1 を作成できません").arg(name));
    QVERIFY(!QFileInfo::exists(path("missing")));
}

void TestPacketFile::failedCommitKeepsOldFile()
{
    // A name of 250 bytes leaves no room for the temporary name beside it, so the save cannot complete
    // (as root too). Where the file system offers unnamed temporary files it fails at the commit,
    // elsewhere already at the creation.
    const QString name = path(QString(250, u'p'));
    const QByteArray old("<OLD/>\r\n\x93\xfa\r\n");
    writeBytes(name, old);

    const QString message = failureOf([&] { savePacketFile(name, QStringLiteral("<NEW/>\n")); });
    QVERIFY2(message == QStringLiteral("ストリームへの書き込みに失敗しました")
                 || message == QStringLiteral("ファイル %1 を作成できません").arg(name),
             qPrintable(message));
    QCOMPARE(readBytes(name), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 1);
}

void TestPacketFile::loadFailures_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("missing file") << "nothing.xml";
    QTest::newRow("missing folder") << "missing/nothing.xml";
}

void TestPacketFile::loadFailures()
{
    QFETCH(QString, name);

    const QString fileName = path(name);
    QCOMPARE(failureOf([&] { loadPacketFile(fileName); }), QStringLiteral("ファイル %1 は開けません").arg(fileName));
}

void TestPacketFile::nameTakenAsGiven()
{
    savePacketFile(path("packet"), QStringLiteral("<A/>\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"packet"});
    QCOMPARE(loadPacketFile(path("packet")), QStringLiteral("<A/>\n"));
    QCOMPARE(failureOf([&] { loadPacketFile(path("packet.xml")); }),
             QStringLiteral("ファイル %1 は開けません").arg(path("packet.xml")));
}

void TestPacketFile::everyCp932CharacterRoundTrips()
{
    // Every CP932 character that has a Unicode form of its own survives a save and a load.
    QString text;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead > 0x9F && lead < 0xE0) {
            continue;
        }
        QByteArray row;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail != 0x7F) {
                row.append(static_cast<char>(lead)).append(static_cast<char>(trail));
            }
        }
        writeBytes(path("row.bin"), row);
        const QString decoded = loadPacketFile(path("row.bin"));
        for (QChar c : decoded) {
            if (c != QChar(0xFFFD) && !text.contains(c)) {
                text += c;
            }
        }
    }
    QVERIFY2(text.size() > 7000, qPrintable(QString::number(text.size())));
    text = QStringLiteral("<ROW V=\"") + text + QStringLiteral("\"/>\n");

    savePacketFile(path("all.xml"), text);
    QCOMPARE(loadPacketFile(path("all.xml")), text);
}

QTEST_GUILESS_MAIN(TestPacketFile)
#include "TestPacketFile.moc"
