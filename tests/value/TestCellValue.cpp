#include "TCellPictures.h"
#include "TCellValue.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTest>

using namespace torvane;

namespace {

QByteArray imageBytes(int width, int height, const char* format)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A PCX picture written by hand (Qt has no writer for it): 8 bits a pixel, one plane, every pixel index 1
// (below 0xC0, so each byte stands for itself), then the 256-colour palette.
QByteArray pcxBytes(int width, int height)
{
    QByteArray bytes(128, '\0');
    const auto put16 = [&bytes](int at, int value) {
        bytes[at] = static_cast<char>(value & 0xFF);
        bytes[at + 1] = static_cast<char>(value >> 8);
    };
    bytes[0] = 0x0A;
    bytes[1] = 5;
    bytes[2] = 1;
    bytes[3] = 8;
    put16(8, width - 1);
    put16(10, height - 1);
    put16(12, 72);
    put16(14, 72);
    bytes[65] = 1;
    const int perLine = (width + 1) / 2 * 2;
    put16(66, perLine);
    put16(68, 1);
    bytes.append(QByteArray(perLine * height, '\x01'));
    bytes.append('\x0C');
    bytes.append(QByteArray(768, '\x40'));
    return bytes;
}

QByteArray withGraphicsHeader(const QByteArray& picture)
{
    return graphicsHeader(picture.size(), QByteArray::fromHex("01000001")) + picture;
}

} // namespace

class TestCellValue : public QObject {
    Q_OBJECT
private slots:
    void valuesAreReadAndWrittenBack_data();
    void valuesAreReadAndWrittenBack();
    void hexDumpShowsOffsetBytesAndCharacters();
    void thumbnailsKeepTheirColours();
};

void TestCellValue::valuesAreReadAndWrittenBack_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("etc");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("view");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<int>("headerLength");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("shownText");

    const QString bin = QStringLiteral("bin.hex");
    const QString graphics = QStringLiteral("SUBTYPE=\"Graphics\"");
    const QByteArray png = imageBytes(40, 30, "PNG");
    QTest::newRow("plain PNG") << bin << QString() << encodeBase64(png) << int(TValueView::Image) << false << 0
                               << QStringLiteral("画像 PNG 40×30, %1 KB").arg((png.size() + 512) / 1024) << QString();
    const QByteArray bmp = imageBytes(320, 240, "BMP");
    QTest::newRow("bitmap behind the 8-byte header")
        << bin << graphics << encodeBase64(withGraphicsHeader(bmp)) << int(TValueView::Image) << false << 8
        << QStringLiteral("画像 BMP 320×240, %1 KB（先頭 8 バイトのヘッダー付き）").arg((bmp.size() + 512) / 1024)
        << QString();
    QTest::newRow("PCX") << bin << graphics << encodeBase64(pcxBytes(10, 4)) << int(TValueView::Image) << false << 0
                         << QStringLiteral("画像 PCX 10×4, 1 KB") << QString();
    // In a bare type code typed by hand a picture is still one.
    QTest::newRow("PNG in a string field")
        << QStringLiteral("string") << QString() << encodeBase64(png) << int(TValueView::Image) << false << 0
        << QStringLiteral("画像 PNG 40×30, %1 KB").arg((png.size() + 512) / 1024) << QString();
    const QString memo = QStringLiteral("一行目\r\n二行目 <&>\r\nthird");
    const QString memoShown = QStringLiteral("一行目\n二行目 <&>\nthird");
    QTest::newRow("memo text") << QStringLiteral("string") << QString() << memo << int(TValueView::Text) << false << 0
                               << QStringLiteral("文字列 %1 文字").arg(memo.size()) << memoShown;
    const QByteArray memoCp932 = QByteArray::fromHex("88ea8d7396da0d0a93f18d7396da203c263e0d0a7468697264");
    QTest::newRow("bytes of text in a bin.hex field")
        << bin << QString() << encodeBase64(memoCp932) << int(TValueView::Text) << false << 0
        << QStringLiteral("バイナリ 25 バイト") << memoShown;
    // A memo is written as its text, as a string is.
    QTest::newRow("memo") << bin << QStringLiteral("SUBTYPE=\"Text\"") << memo << int(TValueView::Text) << false << 0
                          << QStringLiteral("文字列 %1 文字").arg(memo.size()) << memoShown;
    const QString broken = QStringLiteral("Lives in reefs & lagoons; not base64");
    QTest::newRow("broken base64")
        << bin << QString() << broken << int(TValueView::Text) << true << 0
        << QStringLiteral(
               "この値は base64 として読めません（%1 文字）。そのままの文字列として表示します。値は変更していません。")
               .arg(broken.size())
        << broken;
    QTest::newRow("base64 with a lone last character")
        << bin << QString() << QStringLiteral("QUJD\r\nR") << int(TValueView::Text) << true << 0
        << QStringLiteral(
               "この値は base64 として読めません（7 文字）。そのままの文字列として表示します。値は変更していません。")
        << QStringLiteral("QUJD\nR");
    QByteArray large(7'500'000, Qt::Uninitialized);
    QRandomGenerator generator(22);
    generator.fillRange(reinterpret_cast<quint32*>(large.data()), large.size() / 4);
    large[0] = '\0';
    QTest::newRow("10 MB of bytes") << bin << QString() << encodeBase64(large) << int(TValueView::Hex) << false << 0
                                    << QStringLiteral("バイナリ 7,500,000 バイト") << QString();
}

void TestCellValue::valuesAreReadAndWrittenBack()
{
    QFETCH(QString, type);
    QFETCH(QString, etc);
    QFETCH(QString, text);
    QFETCH(int, view);
    QFETCH(bool, failed);
    QFETCH(int, headerLength);
    QFETCH(QString, status);
    QFETCH(QString, shownText);
    if (status.startsWith(QStringLiteral("画像 PCX")) && !QImageReader::supportedImageFormats().contains("pcx")) {
        QSKIP("QImageReader here reads no PCX: Qt's own image plugins have no reader for it and no other is installed");
    }

    const TCellValue value(text, TValueField{type, etc});
    QCOMPARE(int(value.preferredView()), view);
    QCOMPARE(value.decodeFailed(), failed);
    QCOMPARE(value.header().size(), headerLength);
    QCOMPARE(value.statusText(), status);
    if (!shownText.isNull()) {
        QCOMPARE(value.displayText(), shownText);
        QVERIFY(value.isTextEditable());
        // Written back unedited, the value is the same, line breaks and all.
        QCOMPARE(value.valueForText(value.displayText()), text);
    }
    if (view == int(TValueView::Image)) {
        QCOMPARE(value.image().size(), value.imageInfo().size);
    }
    if (!failed) {
        // A file written from the value and read back gives the value whole, the picture header as it was.
        QCOMPARE(value.valueForFile(value.fileBytes()), text);
    } else {
        QCOMPARE(value.fileBytes(), text.toLatin1());
    }
}

void TestCellValue::hexDumpShowsOffsetBytesAndCharacters()
{
    const QByteArray bytes = QByteArrayLiteral("\x89PNG\r\n\x1a\n0123456789ABCDEFGH");
    QCOMPARE(hexDumpLineCount(bytes.size()), 2);
    QCOMPARE(hexDumpLine(bytes, 0),
             QStringLiteral("00000000  89 50 4E 47 0D 0A 1A 0A  30 31 32 33 34 35 36 37  .PNG....01234567"));
    QCOMPARE(hexDumpLine(bytes, 16), QStringLiteral("00000010  38 39 41 42 43 44 45 46  47 48") + QString(20, u' ') +
                                         QStringLiteral("89ABCDEFGH"));
}

QTEST_MAIN(TestCellValue)
// Pictures of one bit a pixel with a palette (what many tools write for a plain colour) keep their colour in
// the table's thumbnail, as in the tooltip and the window.
void TestCellValue::thumbnailsKeepTheirColours()
{
    QImage mono(64, 48, QImage::Format_Mono);
    mono.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255)});
    mono.fill(0);
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(mono.save(&buffer, "PNG"));
    const TCellPictures pictures;
    const TCellPictures::TPicture* picture = pictures.picture(0, 1, encodeBase64(png), true);
    QVERIFY(picture);
    QCOMPARE(picture->info.size, QSize(64, 48));
    const QImage& thumbnail = picture->thumbnail;
    QVERIFY(!thumbnail.isNull());
    for (const QPoint at : {QPoint(0, 0), QPoint(thumbnail.width() / 2, thumbnail.height() / 2)}) {
        QCOMPARE(QColor(thumbnail.pixel(at)).name(), QStringLiteral("#ff0000"));
    }
}

#include "TestCellValue.moc"
