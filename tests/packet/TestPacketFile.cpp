#include "TFailure.h"
#include "TLineBreaks.h"
#include "TPacketCodec.h"
#include "TPacketFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

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
template <typename Action> QString failureOf(Action action)
{
    try {
        action();
    } catch (const TFailure& failure) {
        return failure.message();
    }
    return QStringLiteral("<no failure>");
}

const QString WriteFailed = QStringLiteral("ストリームへの書き込みに失敗しました");

// The failure message of a save run in a child process after `setUp` ran there.
template <typename SetUp> QString saveInChild(const QString& fileName, const QString& viewText, SetUp setUp)
{
    int channel[2];
    if (::pipe(channel) != 0) {
        return QStringLiteral("<no pipe>");
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        setUp();
        const QByteArray message = failureOf([&] { savePacketFile(fileName, viewText); }).toUtf8();
        [[maybe_unused]] const ssize_t sent =
            ::write(channel[1], message.constData(), static_cast<size_t>(message.size()));
        ::_exit(0);
    }
    ::close(channel[1]);
    QByteArray message;
    char buffer[256];
    for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;) {
        message.append(buffer, got);
    }
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return QString::fromUtf8(message);
}

// A save whose files may grow to `limit` bytes at most, as on a full disk: writes past it fail with EFBIG
// (SIGXFSZ ignored) instead of ending the process.
QString saveUnderSizeLimit(const QString& fileName, const QString& viewText, rlim_t limit)
{
    return saveInChild(fileName, viewText, [limit] {
        const rlimit size{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &size);
        std::signal(SIGXFSZ, SIG_IGN);
    });
}

// The owner, group and permission bits of a file.
QString ownership(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return QStringLiteral("<missing>");
    }
    return QStringLiteral("%1:%2 %3").arg(info.st_uid).arg(info.st_gid).arg(info.st_mode & 07777, 4, 8, QChar(u'0'));
}

QByteArray attribute(const QString& path, const char* name)
{
    char value[64];
    const ssize_t size = ::getxattr(QFile::encodeName(path).constData(), name, value, sizeof value);
    return size < 0 ? QByteArray("<none>") : QByteArray(value, int(size));
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

// The file's type and permissions, or 0 when there is none.
mode_t modeOf(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode : 0;
}

// Makes `kind` ("fifo", "device", "folder", "read-only") at `path`; "missing" makes nothing. The device is
// a node of its own for the null device, so that a fault cannot replace the system's /dev/null.
void make(const QString& kind, const QString& path)
{
    if (kind == QLatin1String("device")) {
        if (::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
            QSKIP("making a device node needs root");
        }
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == QLatin1String("read-only")) {
        writeBytes(path, "<OLD/>\r\n");
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    }
}

// UTF-16 bytes of `text`, big- or little-endian, after a byte-order mark when asked.
QByteArray utf16Bytes(const QString& text, bool bigEndian, bool mark)
{
    QByteArray bytes;
    if (mark) {
        bytes = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    }
    for (const QChar c : text) {
        const char high = static_cast<char>(c.unicode() >> 8);
        const char low = static_cast<char>(c.unicode() & 0xFF);
        bytes += bigEndian ? QByteArray{&high, 1} + low : QByteArray{&low, 1} + high;
    }
    return bytes;
}

// "UTF-16BE, BOM, LF" and the like.
QString describe(const TTextEncoding& encoding)
{
    return encodingDisplayName(encoding.kind) + (encoding.byteOrderMark ? QStringLiteral(", BOM") : QString()) +
           (encoding.lineBreaks == TLineBreakStyle::Lf ? QStringLiteral(", LF") : QStringLiteral(", CR LF"));
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
    void unchangedTextSavesTheLoadedBytes_data();
    void unchangedTextSavesTheLoadedBytes();
    void undecodableBytesCounted_data();
    void undecodableBytesCounted();
    void loadDecodesAsFromMemory();
    void saveFollowsTheDeclaration_data();
    void saveFollowsTheDeclaration();
    void unrepresentableRefused_data();
    void unrepresentableRefused();
    void saveIntoMissingFolder();
    void failedCommitKeepsOldFile();
    void loadFailures_data();
    void loadFailures();
    void nameTakenAsGiven();
    void everyCp932CharacterRoundTrips();
    void everyKatakanaPairRoundTrips();
    void writeFailureKeepsOldFile_data();
    void writeFailureKeepsOldFile();
    void unwritableTargetRefused_data();
    void unwritableTargetRefused();
    void saveKeepsOwnerModeAttributesAndLinks_data();
    void saveKeepsOwnerModeAttributesAndLinks();
    void staleTemporariesRemoved();

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
    QTest::addColumn<QString>("heldText");
    QTest::addColumn<QByteArray>("savedBytes");

    QTest::newRow("CR LF") << QByteArray("<A>\r\n<B/>\r\n") << "<A>\r\n<B/>\r\n" << QByteArray("<A>\r\n<B/>\r\n");
    QTest::newRow("LF only") << QByteArray("<A>\n<B/>\n") << "<A>\r\n<B/>\r\n" << QByteArray("<A>\r\n<B/>\r\n");
    QTest::newRow("CR only") << QByteArray("<A>\r<B/>\r") << "<A>\r\n<B/>\r\n" << QByteArray("<A>\r\n<B/>\r\n");
    QTest::newRow("mixed, blank lines kept") << QByteArray("a\r\n\rb\n\nc\r") << "a\r\n\r\nb\r\n\r\nc\r\n"
                                             << QByteArray("a\r\n\r\nb\r\n\r\nc\r\n");
    QTest::newRow("LF then CR is two breaks") << QByteArray("a\n\rb") << "a\r\n\r\nb" << QByteArray("a\r\n\r\nb");
    QTest::newRow("no break after the last line") << QByteArray("a\nb") << "a\r\nb" << QByteArray("a\r\nb");
    QTest::newRow("only breaks") << QByteArray("\r\r\n\n") << "\r\n\r\n\r\n" << QByteArray("\r\n\r\n\r\n");
    QTest::newRow("CP932 with LF only") << QByteArray("\x93\xfa\x96\x7b\n\x95\x5c\n")
                                        << QString::fromUtf8("日本\r\n表\r\n")
                                        << QByteArray("\x93\xfa\x96\x7b\r\n\x95\x5c\r\n");
    QTest::newRow("UTF-8 with CR only, saved as CP932")
        << QByteArray("\xe6\x97\xa5\xe6\x9c\xac\r\xe8\xa1\xa8") << QString::fromUtf8("日本\r\n表")
        << QByteArray("\x93\xfa\x96\x7b\r\n\x95\x5c");
    QTest::newRow("empty file") << QByteArray() << QString() << QByteArray();
    QTest::newRow("CP932 katakana that is well-formed UTF-8")
        << QByteArray("<A V=\"\xd0\xb7\"/>\n") << QString::fromUtf8("<A V=\"ﾐｷ\"/>\r\n")
        << QByteArray("<A V=\"\xd0\xb7\"/>\r\n");
}

void TestPacketFile::lineBreaks()
{
    QFETCH(QByteArray, fileBytes);
    QFETCH(QString, heldText);
    QFETCH(QByteArray, savedBytes);

    // The load gives the file's line breaks as they are; the XML view holds them as CR LF. Either text
    // saves as the same bytes.
    writeBytes(path("in.xml"), fileBytes);
    const QString loaded = loadPacketFile(path("in.xml"));
    QCOMPARE(loaded.count(u'\r') + loaded.count(u'\n'), fileBytes.count('\r') + fileBytes.count('\n'));
    QCOMPARE(toCrLf(loaded), heldText);
    savePacketFile(path("out.xml"), loaded);
    QCOMPARE(readBytes(path("out.xml")), savedBytes);
    savePacketFile(path("out.xml"), heldText);
    QCOMPARE(readBytes(path("out.xml")), savedBytes);
}

void TestPacketFile::loadEncodings_data()
{
    QTest::addColumn<QByteArray>("fileBytes");
    QTest::addColumn<QString>("viewText");

    // 表 and ソ have 0x5C ("\") as their second byte; 纊 is an IBM extension.
    QTest::newRow("CP932 Japanese")
        << QByteArray("<ROW NAME=\"\x93\xfa\x96\x7b\x8c\xea\x95\x5c\x83\x5c\xb1\xb2\"/>\r\n\xfa\x5c")
        << QString::fromUtf8("<ROW NAME=\"日本語表ソｱｲ\"/>\r\n纊");
    QTest::newRow("CP932 JIS forms") << QByteArray("\x81\x60\x81\x61\x81\x7c\x81\x5c\x81\x91\x81\x92\x81\xca")
                                     << QString::fromUtf8("～∥－―￠￡￢");
    QTest::newRow("CP932 NEC and IBM rows of one character")
        << QByteArray("\xed\x40\xfa\x5c\xee\xef\xfa\x40") << QString::fromUtf8("纊纊ⅰⅰ");
    QTest::newRow("UTF-8 without BOM") << QByteArray("<ROW NAME=\"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\"/>")
                                       << QString::fromUtf8("<ROW NAME=\"日本語\"/>");
    QTest::newRow("UTF-8 with BOM, BOM dropped")
        << QByteArray("\xef\xbb\xbf<A>\xe3\x81\x82</A>\r\n") << QString::fromUtf8("<A>あ</A>\r\n");
    QTest::newRow("UTF-8 BOM before ASCII") << QByteArray("\xef\xbb\xbf<A/>") << "<A/>";
    QTest::newRow("UTF-8 BOM before malformed bytes") << QByteArray("\xef\xbb\xbf"
                                                                    "a\xff b")
                                                      << QString::fromUtf8("a\xef\xbf\xbd b");
    QTest::newRow("UTF-8 of every length between ASCII runs")
        << QByteArray(17, 'x') + "\xc3\xa9" + QByteArray(15, 'y') + "\xe6\x97\xa5" + QByteArray(16, 'z') +
               "\xf0\x9f\x98\x80"
        << QString(17, u'x') + QString::fromUtf8("é") + QString(15, u'y') + QString::fromUtf8("日") +
               QString(16, u'z') + QString::fromUtf8("😀");
    QTest::newRow("UTF-8 outside CP932") << QByteArray("\xf0\x9f\x98\x80\xf0\xa0\xae\xb7") << QString::fromUtf8("😀𠮷");
    QTest::newRow("ASCII with the control codes ICU swaps")
        << QByteArray("a\x1a\x1c\x7f~\\") << QString::fromLatin1("a\x1a\x1c\x7f~\\");
    // "あ" in CP932 starts with a byte UTF-8 only allows inside a sequence.
    QTest::newRow("invalid UTF-8 read as CP932") << QByteArray("\x82\xa0") << QString::fromUtf8("あ");
    QTest::newRow("UTF-8 cut in a sequence read as CP932") << QByteArray("\xe6\x97") << QString::fromUtf8("譌");
    QTest::newRow("UTF-8 overlong form read as CP932") << QByteArray("\xc0\xaf") << QString::fromUtf8("ﾀｯ");
    QTest::newRow("UTF-8 surrogate form read as CP932") << QByteArray("\xed\xa0") << QString::fromUtf8("恝");
    // F4 90 is a pair of the user-defined area.
    QTest::newRow("UTF-8 past U+10FFFF read as CP932")
        << QByteArray("\xf4\x90\x80\x80") << QString(QChar(0xE33F)) + QChar(0x80) + QChar(0x80);
    QTest::newRow("UTF-8 after a long ASCII run")
        << QByteArray(1000, 'a') + "\xe3\x81\x82" << QString(1000, u'a') + QString::fromUtf8("あ");
    // Runs of ASCII go sixteen bytes at a time; what ends a run may stand anywhere in a block.
    QTest::newRow("CP932 inside and after ASCII runs")
        << QByteArray(15, 'a') + "\x93\xfa" + QByteArray(17, 'b') + "\xb1" + QByteArray(16, 'c')
        << QString(15, u'a') + QString::fromUtf8("日") + QString(17, u'b') + QString::fromUtf8("ｱ") + QString(16, u'c');
    QTest::newRow("CP932 truncated last byte kept")
        << QByteArray("\x93\xfa\x96") << QString::fromUtf8("日\xef\xbf\xbd");
    QTest::newRow("CP932 lead byte before a line break")
        << QByteArray("\x93\r\nA") << QString::fromUtf8("\xef\xbf\xbd\r\nA");
    QTest::newRow("CP932 single bytes as Windows maps them")
        << QByteArray("\x80\xa0\xfd\xfe\xff"
                      "A\x82\xa0")
        << QString(QChar(0x80)) + QChar(0xF8F0) + QChar(0xF8F1) + QChar(0xF8F2) + QChar(0xF8F3) +
               QString::fromUtf8("Aあ");
    QTest::newRow("CP932 undefined pair keeps its ASCII second byte")
        << QByteArray("V=\"\x85\x41\x85\x22\"\x85\x81/")
        << QString::fromUtf8("V=\"\xef\xbf\xbd"
                             "A\xef\xbf\xbd\"\"\xef\xbf\xbd/");
    // Half-width katakana alone can be well-formed UTF-8: ﾐｷ is D0 B7, "з"; ﾃｩ is C3 A9, "é".
    QTest::newRow("katakana pairs that are UTF-8 read as CP932")
        << QByteArray("<?xml version=\"1.0\"?>\xd0\xb7\xc3\xa9\xdf\xbf")
        << QString::fromUtf8("<?xml version=\"1.0\"?>ﾐｷﾃｩﾟｿ");
    QTest::newRow("two bytes with one outside A1..DF read as UTF-8")
        << QByteArray("\xc3\xa9\xd0\x90") << QString::fromUtf8("éА");
    QTest::newRow("declaration naming UTF-8 decides")
        << QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>\xd0\xb7")
        << QString::fromUtf8("<?xml version=\"1.0\" encoding=\"utf-8\"?>з");
    QTest::newRow("declaration naming UTF-8, single quotes and spaces")
        << QByteArray("<?xml version='1.0' encoding = 'UTF-8' ?>\xc3\xa9")
        << QString::fromUtf8("<?xml version='1.0' encoding = 'UTF-8' ?>é");
    QTest::newRow("declaration naming UTF-8, bytes not UTF-8")
        << QByteArray("<?xml encoding=\"UTF-8\"?>\xb1\xb2")
        << QString::fromUtf8("<?xml encoding=\"UTF-8\"?>\uFFFD\uFFFD");
    QTest::newRow("declaration naming another encoding") << QByteArray("<?xml encoding=\"Shift_JIS\"?>\xd0\xb7")
                                                         << QString::fromUtf8("<?xml encoding=\"Shift_JIS\"?>ﾐｷ");
    QTest::newRow("encoding named after the declaration")
        << QByteArray("<?xml version=\"1.0\"?><A encoding=\"UTF-8\"/>\xd0\xb7")
        << QString::fromUtf8("<?xml version=\"1.0\"?><A encoding=\"UTF-8\"/>ﾐｷ");
    QTest::newRow("encoding value only starting with UTF-8")
        << QByteArray("<?xml encoding=\"UTF-8x\"?>\xd0\xb7") << QString::fromUtf8("<?xml encoding=\"UTF-8x\"?>ﾐｷ");
}

void TestPacketFile::loadEncodings()
{
    QFETCH(QByteArray, fileBytes);
    QFETCH(QString, viewText);

    writeBytes(path("in.xml"), fileBytes);
    // The file and its bytes alone decode the same.
    QCOMPARE(loadPacketFile(path("in.xml")), viewText);
    QCOMPARE(decodeFileText(fileBytes), viewText);
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
    QTest::newRow("CP932 forms unchanged")
        << QString::fromUtf8("～∥－―￠￡￢") << QByteArray("\x81\x60\x81\x61\x81\x7c\x81\x5c\x81\x91\x81\x92\x81\xca");
    // Characters with two or three codes take the one Windows writes.
    QTest::newRow("IBM extension rather than NEC-selected")
        << QString::fromUtf8("纊ⅰ￤") << QByteArray("\xfa\x5c\xfa\x40\xfa\x55");
    QTest::newRow("JIS row rather than NEC row 13")
        << QString::fromUtf8("≒∵￢") << QByteArray("\x81\xe0\x81\xe6\x81\xca");
    QTest::newRow("NEC row 13 rather than IBM extension") << QString::fromUtf8("Ⅰ№") << QByteArray("\x87\x54\x87\x82");
    QTest::newRow("user-defined area") << QString(QChar(0xE000)) << QByteArray("\xf0\x40");
    QTest::newRow("JIS forms and line breaks inside ASCII runs")
        << QString(15, u'a') + QChar(0x301C) + QString(20, u'b') + QStringLiteral("\r\n") + QString(16, u'c') + u'\n'
        << QByteArray(15, 'a') + "\x81\x60" + QByteArray(20, 'b') + "\r\n" + QByteArray(16, 'c') + "\r\n";
    QTest::newRow("text of several pieces")
        << QString::fromUtf8("日本\r\n").repeated(100000) << QByteArray("\x93\xfa\x96\x7b\r\n").repeated(100000);
    QTest::newRow("single bytes Windows maps")
        << QString(QChar(0x80)) + QChar(0xF8F0) + QChar(0xF8F1) + QChar(0xF8F2) + QChar(0xF8F3)
        << QByteArray("\x80\xa0\xfd\xfe\xff");
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

void TestPacketFile::unchangedTextSavesTheLoadedBytes_data()
{
    QTest::addColumn<QByteArray>("fileBytes");
    QTest::addColumn<QString>("readAs");
    QTest::addColumn<QString>("encoding");

    const QString packet = QString::fromUtf8("<?xml version=\"1.0\"%1?>\r\n<ROW NAME=\"東京ﾃｽﾄ é\"/>\r\n");
    QTest::newRow("UTF-8 declared, no BOM") << packet.arg(QStringLiteral(" encoding=\"UTF-8\"")).toUtf8()
                                            << QString::fromUtf8("東京ﾃｽﾄ é") << "UTF-8, CR LF";
    QTest::newRow("UTF-8 with BOM and LF, no break at the end")
        << QByteArray("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<ROW NAME=\"\xE6\x97\xA5\xE6\x9C\xAC\"/>\n<A/>")
        << QString::fromUtf8("日本") << "UTF-8, BOM, LF";
    QTest::newRow("UTF-8 undeclared, LF")
        << QByteArray("<ROW NAME=\"\xC3\xA0\xE6\x97\xA5\"/>\n") << QString::fromUtf8("à日") << "UTF-8, LF";
    QTest::newRow("UTF-16LE with BOM") << utf16Bytes(packet.arg(QString()), false, true)
                                       << QString::fromUtf8("東京ﾃｽﾄ é") << "UTF-16LE, BOM, CR LF";
    QTest::newRow("UTF-16BE with BOM, LF")
        << utf16Bytes(toLfBreaks(packet.arg(QString())) + QString::fromUtf8("😀"), true, true)
        << QString::fromUtf8("é\"/>\n😀") << "UTF-16BE, BOM, LF";
    QTest::newRow("UTF-16LE without BOM")
        << utf16Bytes(packet.arg(QStringLiteral(" encoding=\"UTF-16\"")), false, false)
        << QString::fromUtf8("東京ﾃｽﾄ é") << "UTF-16LE, CR LF";
    QTest::newRow("UTF-16BE without BOM")
        << utf16Bytes(packet.arg(QString()), true, false) << QString::fromUtf8("東京ﾃｽﾄ é") << "UTF-16BE, CR LF";
    QTest::newRow("UTF-16LE without BOM or declaration")
        << utf16Bytes(QString::fromUtf8("<ROW NAME=\"日本\"/>\n"), false, false) << QString::fromUtf8("日本")
        << "UTF-16LE, LF";
    // The bytes overrule a declaration that says otherwise, and the save keeps them so.
    QTest::newRow("UTF-16LE with BOM declaring UTF-8")
        << utf16Bytes(packet.arg(QStringLiteral(" encoding=\"utf-8\"")), false, true) << QString::fromUtf8("東京ﾃｽﾄ é")
        << "UTF-16LE, BOM, CR LF";
    QTest::newRow("UTF-8 with BOM declaring Shift_JIS")
        << QByteArray("\xEF\xBB\xBF") + packet.arg(QStringLiteral(" encoding=\"Shift_JIS\"")).toUtf8()
        << QString::fromUtf8("東京ﾃｽﾄ é") << "UTF-8, BOM, CR LF";
    QTest::newRow("UTF-16BE without BOM, a line break first")
        << utf16Bytes(QString::fromUtf8("\r\n<ROW NAME=\"日本\"/>"), true, false) << QString::fromUtf8("日本")
        << "UTF-16BE, CR LF";
    QTest::newRow("CP932 declared Shift_JIS, LF")
        << QByteArray("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<ROW NAME=\"\x93\x8c\x8b\x9e\xc3\xbd\"/>\n")
        << QString::fromUtf8("東京ﾃｽ") << "Shift_JIS (CP932), LF";
    QTest::newRow("CP932 undeclared, katakana that is well-formed UTF-8")
        << QByteArray("<ROW NAME=\"\xd0\xb7\x95\x5c\"/>\r\n") << QString::fromUtf8("ﾐｷ表")
        << "Shift_JIS (CP932), CR LF";
    QTest::newRow("ISO-8859-1 declared, C1 bytes as they are")
        << QByteArray("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<ROW NAME=\"S\xE9verine \x80\xFF\"/>\r\n")
        << QString::fromUtf8("Séverine \u0080ÿ") << "ISO-8859-1, CR LF";
    QTest::newRow("windows-1252 declared in single quotes, LF")
        << QByteArray("<?xml version='1.0' encoding='Windows-1252'?>\n<ROW NAME=\"S\xE9verine \x80\x81\x9F\"/>\n")
        << QString::fromUtf8("Séverine €\u0081Ÿ") << "Windows-1252, LF";
}

void TestPacketFile::unchangedTextSavesTheLoadedBytes()
{
    QFETCH(QByteArray, fileBytes);
    QFETCH(QString, readAs);
    QFETCH(QString, encoding);

    // Loaded, every byte read; saved unchanged from the XML view (which holds CR LF), the file is as it was.
    writeBytes(path("in.xml"), fileBytes);
    TFileStamp stamp;
    const TDecodedText loaded = loadPacketText(path("in.xml"), &stamp);
    QCOMPARE(loaded.faults.count, 0);
    QVERIFY2(loaded.text.contains(readAs), qPrintable(loaded.text));
    QCOMPARE(describe(loaded.encoding), encoding);
    QCOMPARE(savePacketFile(path("in.xml"), toCrLf(loaded.text), loaded.encoding), loaded.encoding);
    QCOMPARE(readBytes(path("in.xml")), fileBytes);
    QCOMPARE(encodePacketFile(toCrLf(loaded.text), loaded.encoding), fileBytes);
}

void TestPacketFile::undecodableBytesCounted_data()
{
    QTest::addColumn<QByteArray>("fileBytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("message");

    const QString lost = QString::fromUtf8("読めないところは「\uFFFD」(U+FFFD) になります。\n");
    // As CP932, "é" and "v" are the pair 騅; "é" before a quote is a lead byte without its trail.
    QTest::newRow("windows-1252 without declaration, read as CP932")
        << QByteArray("<?xml version=\"1.0\"?>\r\n<ROW NAME=\"S\xE9verine\" CITY=\"Caf\xE9\"/>\r\n")
        << QString::fromUtf8("<?xml version=\"1.0\"?>\r\n<ROW NAME=\"S騅erine\" CITY=\"Caf\uFFFD\"/>\r\n") << 1
        << QString::fromUtf8(
               "ファイル %1 には、Shift_JIS (CP932) として読めないバイトが 1 か所あります（最初は 2 行目）。") +
               lost +
               QString::fromUtf8(
                   "XML 宣言に文字コードがないため、Shift_JIS (CP932) と判断しました。XML 宣言に正しい"
                   "文字コード（encoding=\"windows-1252\" など）を書くと、その文字コードで読み込みます。");
    QTest::newRow("UTF-8 declared, one bad byte")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<A V=\"\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD\"/>\r"
                      "<B V=\"\xFF\"/>\n")
        << QString::fromUtf8("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<A V=\"東京都\"/>\r<B V=\"\uFFFD\"/>\n") << 1
        << QString::fromUtf8("ファイル %1 には、UTF-8 として読めないバイトが 1 か所あります（最初は 3 行目）。") +
               lost + QString::fromUtf8("文字コードは XML 宣言の「UTF-8」に従いました。");
    QTest::newRow("UTF-16LE, a lone surrogate and an odd last byte")
        << utf16Bytes(QStringLiteral("<A/>\r\n<B/>\n") + QChar(0xDC00), false, true) + "x"
        << QStringLiteral("<A/>\r\n<B/>\n\uFFFD\uFFFD") << 2
        << QString::fromUtf8("ファイル %1 には、UTF-16LE として読めないバイトが 2 か所あります（最初は 3 行目）。") +
               lost + QString::fromUtf8("文字コードはファイルの先頭のバイトから判断しました。");
    QTest::newRow("unknown encoding named, read as CP932")
        << QByteArray("<?xml version=\"1.0\" encoding=\"EUC-JP\"?>\r\n\r\n\x85\x41\xA4\xA2")
        << QString::fromUtf8("<?xml version=\"1.0\" encoding=\"EUC-JP\"?>\r\n\r\n\uFFFDA､｢") << 1
        << QString::fromUtf8(
               "ファイル %1 には、Shift_JIS (CP932) として読めないバイトが 1 か所あります（最初は 3 行目）。") +
               lost +
               QString::fromUtf8(
                   "XML 宣言の文字コード「EUC-JP」には対応していないため、Shift_JIS (CP932) と判断しました。");
}

void TestPacketFile::undecodableBytesCounted()
{
    QFETCH(QByteArray, fileBytes);
    QFETCH(QString, text);
    QFETCH(int, count);
    QFETCH(QString, message);

    writeBytes(path("in.xml"), fileBytes);
    const TDecodedText loaded = loadPacketText(path("in.xml"));
    QCOMPARE(loaded.text, text);
    QCOMPARE(loaded.faults.count, count);
    QCOMPARE(undecodableMessage(path("in.xml"), loaded), message.arg(path("in.xml")));
}

void TestPacketFile::loadDecodesAsFromMemory()
{
    // A load decodes CP932 in the buffer the bytes were read into; it must read what decoding the bytes
    // apart reads. Runs of ASCII, Japanese pairs, lone lead bytes and undefined pairs, of every length around
    // the decoder's sixteen-byte blocks, and now and then a declaration of another encoding.
    const QList<QByteArray> pieces = {
        "<ROW A=\"", "0123456789abcdefghij", "\x93\x8C\x8B\x9E", "\xB6\xC0", "\x81", "\x85\x41", "\r\n", "\n", "\xFF",
        "\"/>"};
    QRandomGenerator rng(20261208);
    // The last round is a file large enough that the pages its text goes to are taken beside the reading.
    for (int round = 0; round <= 401; ++round) {
        QByteArray bytes = round % 10 == 0 ? QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>") : "";
        const int count = round == 401 ? 2000000 : static_cast<int>(rng.bounded(40));
        for (int i = 0; i < count; ++i) {
            const QByteArray& piece = pieces[static_cast<int>(rng.bounded(pieces.size()))];
            bytes += piece.left(1 + static_cast<int>(rng.bounded(piece.size())));
        }
        writeBytes(path("in.xml"), bytes);
        const TDecodedText loaded = loadPacketText(path("in.xml"));
        const TDecodedText apart = decodeText(bytes);
        QCOMPARE(loaded.text, apart.text);
        QCOMPARE(loaded.encoding.kind, apart.encoding.kind);
        QCOMPARE(loaded.faults.count, apart.faults.count);
        QCOMPARE(loaded.firstFaultLine, apart.firstFaultLine);
    }

    // Bytes standing in the buffer too near its start (characters would be written over bytes not yet
    // read) or past its end are decoded apart, the buffer left as it was; far enough in, the text takes it.
    const QByteArray bytes = pieces.join().repeated(3);
    const qsizetype n = bytes.size();
    const qsizetype gap = TPacketCodec::DecodeInPlaceGap;
    struct Placed {
        qsizetype at; // in bytes from the buffer's start
        qsizetype roomSize;
        bool inPlace;
    };
    for (const Placed& placed : {Placed{n + gap, n + gap, true}, Placed{n + gap - 1, n + gap, false},
                                 Placed{0, n + gap, false}, Placed{n + gap, n / 2, false}}) {
        QString room(n + gap, u' ');
        char* start = reinterpret_cast<char*>(room.data()) + placed.at;
        std::memcpy(start, bytes.constData(), static_cast<size_t>(n));
        room.truncate(placed.roomSize);
        QCOMPARE(decodeText(QByteArrayView(start, n), &room).text, decodeText(bytes).text);
        QCOMPARE(room.isEmpty(), placed.inPlace);
    }
}

void TestPacketFile::saveFollowsTheDeclaration_data()
{
    QTest::addColumn<QByteArray>("loadedBytes");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QByteArray>("savedBytes");
    QTest::addColumn<QString>("refusal");

    const QByteArray sjis("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<A V=\"\x93\xfa\x96\x7b\"/>\r\n");
    QTest::newRow("Shift_JIS changed by hand to UTF-8")
        << sjis << "Shift_JIS"
        << "UTF-8"
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<A V=\"\xE6\x97\xA5\xE6\x9C\xAC\"/>\r\n")
        << QString();
    QTest::newRow("UTF-8 with BOM and LF changed to Shift_JIS: no mark, LF kept")
        << QByteArray("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<A V=\"\xE6\x97\xA5\xE6\x9C\xAC\"/>\n")
        << "UTF-8"
        << "cp932" << QByteArray("<?xml version=\"1.0\" encoding=\"cp932\"?>\n<A V=\"\x93\xfa\x96\x7b\"/>\n")
        << QString();
    QTest::newRow("Shift_JIS changed to UTF-16: little-endian with a mark")
        << sjis << "Shift_JIS"
        << "UTF-16"
        << utf16Bytes(QString::fromUtf8("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<A V=\"日本\"/>\r\n"), false,
                      true)
        << QString();
    QTest::newRow("UTF-16BE naming UTF-16 keeps its order")
        << utf16Bytes(QString::fromUtf8("<?xml version=\"1.0\"?>\r\n<A V=\"日本\"/>\r\n"), true, true) << "?>"
        << " encoding=\"UTF-16\"?>"
        << utf16Bytes(QString::fromUtf8("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<A V=\"日本\"/>\r\n"), true,
                      true)
        << QString();
    QTest::newRow("Shift_JIS changed to ISO-8859-1 refuses Japanese")
        << sjis << "Shift_JIS"
        << "ISO-8859-1" << QByteArray()
        << QString::fromUtf8("2 行目の文字「日」(U+65E5) は ISO-8859-1 で表せないため、保存できません");
}

void TestPacketFile::saveFollowsTheDeclaration()
{
    QFETCH(QByteArray, loadedBytes);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QByteArray, savedBytes);
    QFETCH(QString, refusal);

    // The declaration edited in the XML view decides the save; the file's byte-order mark and line breaks
    // stay where the encoding can hold them.
    writeBytes(path("in.xml"), loadedBytes);
    const TDecodedText loaded = loadPacketText(path("in.xml"));
    const QString edited = toCrLf(loaded.text).replace(from, to);
    QCOMPARE(failureOf([&] { savePacketFile(path("in.xml"), edited, loaded.encoding); }),
             refusal.isEmpty() ? QStringLiteral("<no failure>") : refusal);
    QCOMPARE(readBytes(path("in.xml")), refusal.isEmpty() ? savedBytes : loadedBytes);
    if (refusal.isEmpty()) {
        // And it loads back as the same text.
        QCOMPARE(toCrLf(loadPacketFile(path("in.xml"))), edited);
    }
}

void TestPacketFile::unrepresentableRefused_data()
{
    QTest::addColumn<QString>("viewText");
    QTest::addColumn<QString>("message");

    QTest::newRow("emoji on line 3")
        << QString::fromUtf8("<A>\n<B/>\n<ROW V=\"x😀\"/>\n")
        << QString::fromUtf8("3 行目の文字「😀」(U+1F600) は Shift_JIS (CP932) で表せないため、保存できません");
    QTest::newRow("supplementary kanji on line 1")
        << QString::fromUtf8("𠮷野家\n")
        << QString::fromUtf8("1 行目の文字「𠮷」(U+20BB7) は Shift_JIS (CP932) で表せないため、保存できません");
    QTest::newRow("yen sign, no CP932 form")
        << QString::fromUtf8("a\nb\n\n¥100")
        << QString::fromUtf8("4 行目の文字「¥」(U+00A5) は Shift_JIS (CP932) で表せないため、保存できません");
    QTest::newRow("first of two is named")
        << QString::fromUtf8("ok\r\n€ and é")
        << QString::fromUtf8("2 行目の文字「€」(U+20AC) は Shift_JIS (CP932) で表せないため、保存できません");
    QTest::newRow("lone surrogate") << QString("a\n") + QChar(0xD800)
                                    << QString::fromUtf8(
                                           "2 行目の文字 (U+D800) は Shift_JIS (CP932) で表せないため、保存できません");
    // Long texts are encoded and written in pieces; this one fails in its second piece.
    QTest::newRow("last character of a long text")
        << QString("<ROW V=\"abc\"/>\n").repeated(30000) + QChar(0x00E9)
        << QString::fromUtf8("30001 行目の文字「é」(U+00E9) は Shift_JIS (CP932) で表せないため、保存できません");
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
    QVERIFY2(message == QStringLiteral("ストリームへの書き込みに失敗しました") ||
                 message == QStringLiteral("ファイル %1 を作成できません").arg(name),
             qPrintable(message));
    QCOMPARE(readBytes(name), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 1);
}

void TestPacketFile::loadFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");

    const QString cannotOpen = QStringLiteral("ファイル %1 は開けません");
    QTest::newRow("missing file") << "nothing.xml"
                                  << "missing" << cannotOpen;
    QTest::newRow("missing folder") << "missing/nothing.xml"
                                    << "missing" << cannotOpen;
    // Each of these used to wait for a writer forever, or read until memory ran out.
    QTest::newRow("FIFO") << "pipe.xml"
                          << "fifo" << cannotOpen;
    QTest::newRow("device") << "/dev/zero"
                            << "system device" << cannotOpen;
    QTest::newRow("folder") << "folder.xml"
                            << "folder" << cannotOpen;
    // A read error (as from a failing disk) used to give an empty text, which the next save wrote over the
    // file; a regular file with no size that never ends was read until memory ran out.
    QTest::newRow("read error") << "/proc/self/mem"
                                << "system file"
                                << QStringLiteral("ファイル %1 を読み込めません（") + qt_error_string(EIO) + u'）';
    QTest::newRow("endless file") << "/proc/self/pagemap"
                                  << "system file"
                                  << QStringLiteral(
                                         "ファイル %1 は大きさを示さず、64 MB を超えても終わらないため読み込みません");
}

void TestPacketFile::loadFailures()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, message);

    const QString fileName = name.startsWith(u'/') ? name : path(name);
    make(kind, fileName);
    QCOMPARE(failureOf([&] { loadPacketFile(fileName); }), message.arg(fileName));
}

void TestPacketFile::nameTakenAsGiven()
{
    savePacketFile(path("packet"), QStringLiteral("<A/>\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"packet"});
    QCOMPARE(loadPacketFile(path("packet")), QStringLiteral("<A/>\r\n"));
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
    text = QStringLiteral("<ROW V=\"") + text + QStringLiteral("\"/>\r\n");

    savePacketFile(path("all.xml"), text);
    QCOMPARE(loadPacketFile(path("all.xml")), text);
}

void TestPacketFile::everyKatakanaPairRoundTrips()
{
    // Many pairs of half-width katakana are well-formed UTF-8 as well; each must load as it was saved.
    const QString head = QStringLiteral("<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<ROW V=\"");
    for (char16_t first = 0xFF61; first <= 0xFF9F; ++first) {
        for (char16_t second = 0xFF61; second <= 0xFF9F; ++second) {
            const QString text = head + QChar(first) + QChar(second) + QStringLiteral("\"/>\r\n");
            const QByteArray bytes = encodePacketFile(text);
            QCOMPARE(bytes.size(), head.size() + 2 + 5);
            QCOMPARE(decodeFileText(bytes), text);
        }
    }
}

void TestPacketFile::writeFailureKeepsOldFile_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("linked");

    // QSaveFile buffers up to 16 KB and wrote such texts only in its commit, which ignored the failure.
    QTest::newRow("one line, nothing may be written") << 1 << 0 << false;
    QTest::newRow("16 KB, nothing may be written") << 16384 / 16 << 0 << false;
    QTest::newRow("16 KB, cut after 1 KB") << 16384 / 16 << 1024 << false;
    QTest::newRow("1 MB, cut after 64 KB") << 65536 << 65536 << false;
    // A file with a second name is written in place; the copy made first puts the old bytes back.
    QTest::newRow("in place, 1 MB, cut after 64 KB") << 65536 << 65536 << true;
}

void TestPacketFile::writeFailureKeepsOldFile()
{
    QFETCH(int, lines);
    QFETCH(int, limit);
    QFETCH(bool, linked);

    const QString text = QStringLiteral("<ROW V=\"abc\"/>\n").repeated(lines);
    QCOMPARE(encodePacketFile(text).size(), 16 * lines);
    const QByteArray old("<OLD/>\r\n\x93\xfa\r\n");
    writeBytes(path("old.xml"), old);
    QStringList names{"old.xml"};
    if (linked) {
        QCOMPARE(
            ::link(QFile::encodeName(path("old.xml")).constData(), QFile::encodeName(path("link.xml")).constData()), 0);
        names.prepend("link.xml");
    }

    QCOMPARE(saveUnderSizeLimit(path("old.xml"), text, static_cast<rlim_t>(limit)), WriteFailed);
    QCOMPARE(readBytes(path("old.xml")), old);
    QCOMPARE(entries(m_dir->path()), names);
    // Without the limit the same save succeeds.
    QCOMPARE(saveUnderSizeLimit(path("old.xml"), text, RLIM_INFINITY), QStringLiteral("<no failure>"));
    QCOMPARE(readBytes(path("old.xml")), encodePacketFile(text));
    QCOMPARE(readBytes(path(names.first())), encodePacketFile(text));
    QCOMPARE(entries(m_dir->path()), names);
}

void TestPacketFile::unwritableTargetRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");

    QTest::newRow("FIFO") << "pipe.xml"
                          << "fifo";
    QTest::newRow("device") << "null"
                            << "device";
    QTest::newRow("folder") << "folder.xml"
                            << "folder";
    // Refused also when the tests run as root, whom the system lets write any file.
    QTest::newRow("read-only file") << "old.xml"
                                    << "read-only";
}

void TestPacketFile::unwritableTargetRefused()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);

    const QString fileName = path(name);
    make(kind, fileName);
    const mode_t mode = modeOf(fileName);
    const QByteArray bytes = kind == QLatin1String("read-only") ? readBytes(fileName) : QByteArray();
    const QStringList before = entries(m_dir->path());

    QCOMPARE(failureOf([&] { savePacketFile(fileName, QStringLiteral("<NEW/>\n")); }),
             QStringLiteral("ファイル %1 を作成できません").arg(fileName));
    QCOMPARE(modeOf(fileName), mode);
    QCOMPARE(entries(m_dir->path()), before);
    if (kind == QLatin1String("read-only")) {
        QCOMPARE(readBytes(fileName), bytes);
    }
}

void TestPacketFile::saveKeepsOwnerModeAttributesAndLinks_data()
{
    QTest::addColumn<uint>("saver");
    QTest::addColumn<QString>("owner");
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<bool>("linked");

    // Group 3000 is shared by users 1000 and 2000. A new file in the old one's place belonged to whoever
    // saved, as root to root:root; its attributes were gone and a second name kept the old bytes. A file
    // in a folder its user may not write could not be saved at all.
    QTest::newRow("root saves a member's file") << 0u << "1000:3000 0640" << 0755 << false;
    QTest::newRow("a member saves another's shared file") << 2000u << "1000:3000 2660" << 0777 << false;
    QTest::newRow("a file with a second name") << 0u << "1000:3000 0644" << 0755 << true;
    QTest::newRow("own file in a read-only folder") << 2000u << "2000:2000 0600" << 0555 << false;
}

void TestPacketFile::saveKeepsOwnerModeAttributesAndLinks()
{
    QFETCH(uint, saver);
    QFETCH(QString, owner);
    QFETCH(int, folderMode);
    QFETCH(bool, linked);

    if (::geteuid() != 0) {
        QSKIP("giving a file to other users needs root");
    }
    const QString folder = path("shared");
    QVERIFY(QDir().mkdir(folder));
    const QString fileName = folder + QStringLiteral("/data.xml");
    const QString link = folder + QStringLiteral("/link.xml");
    writeBytes(fileName, "<OLD/>\r\n");
    const QStringList ids = owner.split(QRegularExpression(QStringLiteral("[: ]")));
    const QByteArray encoded = QFile::encodeName(fileName);
    QCOMPARE(::chown(encoded.constData(), ids[0].toUInt(), ids[1].toUInt()), 0);
    QCOMPARE(::chmod(encoded.constData(), ids[2].toUInt(nullptr, 8)), 0);
    const bool attributes = ::setxattr(encoded.constData(), "user.torvane", "kept", 4, 0) == 0;
    if (linked) {
        QCOMPARE(::link(encoded.constData(), QFile::encodeName(link).constData()), 0);
    }
    const QStringList before = entries(folder);
    QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(folderMode)), 0);

    const QString text = QStringLiteral("<NEW/>\n");
    const QString message = saveInChild(fileName, text, [saver] {
        if (saver != 0) {
            const gid_t shared = 3000;
            if (::setgroups(1, &shared) != 0 || ::setresgid(saver, saver, saver) != 0 ||
                ::setresuid(saver, saver, saver) != 0) {
                ::_exit(1);
            }
        }
    });
    QCOMPARE(message, QStringLiteral("<no failure>"));
    QCOMPARE(readBytes(fileName), encodePacketFile(text));
    QCOMPARE(ownership(fileName), owner);
    if (attributes) {
        QCOMPARE(attribute(fileName, "user.torvane"), QByteArray("kept"));
    }
    if (linked) {
        QCOMPARE(readBytes(link), encodePacketFile(text));
    }
    QCOMPARE(entries(folder), before);
}

void TestPacketFile::staleTemporariesRemoved()
{
    // A save killed before its rename leaves its temporary file; the next save of that file removes it,
    // but not one that another save is writing now (it holds a lock on it), nor another name.
    writeBytes(path("old.xml"), "<OLD/>\r\n");
    writeBytes(path(".old.xml.torvane-Ab12Cd"), "<HALF");
    writeBytes(path(".old.xml.torvane-Busy00"), "<HALF");
    writeBytes(path(".other.xml.torvane-Ab12Cd"), "<HALF");
    const int busy = ::open(QFile::encodeName(path(".old.xml.torvane-Busy00")).constData(), O_RDONLY);
    QVERIFY(busy >= 0);
    QCOMPARE(::flock(busy, LOCK_EX), 0);

    savePacketFile(path("old.xml"), QStringLiteral("<NEW/>\n"));
    ::close(busy);
    QCOMPARE(readBytes(path("old.xml")), QByteArray("<NEW/>\r\n"));
    QCOMPARE(entries(m_dir->path()), (QStringList{".old.xml.torvane-Busy00", ".other.xml.torvane-Ab12Cd", "old.xml"}));
}

QTEST_GUILESS_MAIN(TestPacketFile)
#include "TestPacketFile.moc"
