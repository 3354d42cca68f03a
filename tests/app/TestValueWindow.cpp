#include "FakeWindowDialogs.h"
#include "TCellValue.h"
#include "valuewindow/TValueWindow.h"
#include "window/TMainForm.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace torvane;

namespace {

QByteArray imageBytes(int width, int height, const char* format)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkMagenta);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray fileBytes(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString& name, const QByteArray& bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A window with a packet of one record: a memo (written as its text), a picture behind the dataset library's 8-byte header (large
// enough to be "<BLOB>") and a bin.hex value that is no base64.
struct Window {
    FakeWindowDialogs dialogs;
    TMainForm form{dialogs};
    QTemporaryDir dir;
    QTableView* data = nullptr;
    QByteArray bitmap = imageBytes(320, 240, "BMP");
    QString picture = encodeBase64(graphicsHeader(bitmap.size(), QByteArray::fromHex("01000001")) + bitmap);

    bool open()
    {
        const QString packet =
            QStringLiteral(
                "<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<DATAPACKET Version=\"2.0\">\r\n<METADATA>\r\n"
                "<FIELDS>\r\n<FIELD attrname=\"MEMO\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>\r\n"
                "<FIELD attrname=\"PIC\" fieldtype=\"bin.hex\" SUBTYPE=\"Graphics\"/>\r\n"
                "<FIELD attrname=\"DATA\" fieldtype=\"bin.hex\"/>\r\n</FIELDS>\r\n"
                "<PARAMS DEFAULT_ORDER=\"\" PRIMARY_KEY=\"\" LCID=\"1041\"/>\r\n</METADATA>\r\n<ROWDATA>\r\n"
                "<ROW MEMO=\"一行目&#13;&#10;二行目\" PIC=\"%1\" DATA=\"not base64!\"/>\r\n</ROWDATA>\r\n"
                "</DATAPACKET>\r\n")
                .arg(picture);
        form.show();
        QApplication::setActiveWindow(&form);
        data = form.findChild<QTableView*>(QStringLiteral("SG_Data"));
        return dir.isValid() && writeBytes(path("packet.xml"), packet.toUtf8()) && data &&
               form.openFile(path("packet.xml"));
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString cell(int column) const { return data->model()->index(0, column).data(Qt::EditRole).toString(); }
    // Ctrl+E on a cell, as the user opens the value window.
    TValueWindow* openValue(int column)
    {
        QApplication::setActiveWindow(&form);
        const QModelIndex index = data->model()->index(0, column);
        QTest::mouseClick(data->viewport(), Qt::LeftButton, {}, data->visualRect(index).center());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_E, Qt::ControlModifier);
        auto* window = form.findChild<TValueWindow*>();
        // The window manager gives a newly shown window the keyboard; the offscreen platform is told to.
        if (window) {
            QApplication::setActiveWindow(window);
        }
        return window && window->isVisible() && window->column() == column ? window : nullptr;
    }
    // Ctrl+Z back in the main window.
    void undo()
    {
        QApplication::setActiveWindow(&form);
        QTest::keyClick(data, Qt::Key_Z, Qt::ControlModifier);
    }
};

} // namespace

class TestValueWindow : public QObject {
    Q_OBJECT
private slots:
    void pictureIsShownReplacedWrittenOutAndUndone();
    void textIsEditedInOneStepAndBrokenValuesAreLeft();
    void followsItsRecordWithWhatWasTyped();
};

void TestValueWindow::pictureIsShownReplacedWrittenOutAndUndone()
{
    Window w;
    QVERIFY(w.open());
    // In the table: what the picture is, a thumbnail within the row, the picture itself in the tooltip.
    const QModelIndex pic = w.data->model()->index(0, 1);
    const QString described = QStringLiteral("画像 BMP 320×240, %1 KB").arg((w.bitmap.size() + 512) / 1024);
    QCOMPARE(pic.data().toString(), described);
    const QImage thumbnail = pic.data(Qt::DecorationRole).value<QImage>();
    QCOMPARE(thumbnail.size(), QSize(18, 14));
    QVERIFY(pic.data(Qt::ToolTipRole).toString().startsWith(QStringLiteral("<img src=\"data:image/png;base64,")));
    QVERIFY(pic.data(Qt::ToolTipRole).toString().endsWith(described));
    QVERIFY(!(pic.flags() & Qt::ItemIsEditable));

    TValueWindow* window = w.openValue(1);
    QVERIFY(window);
    QVERIFY(window->isWindow());
    QCOMPARE(int(window->currentView()), int(TValueView::Image));
    QCOMPARE(window->value().statusText(), described + QStringLiteral("（先頭 8 バイトのヘッダー付き）"));

    // A PNG file read in: the header stays, with the new length; written out, the file comes back byte for byte.
    const QByteArray png = imageBytes(64, 48, "PNG");
    QVERIFY(writeBytes(w.path("in.png"), png));
    w.dialogs.fileNames = {w.path("in.png"), w.path("out.png")};
    window->importFile();
    QCOMPARE(w.cell(1), encodeBase64(QByteArray::fromHex("01000001") + graphicsHeader(png.size()).sliced(4) + png));
    QCOMPARE(window->value().imageInfo().format, QByteArray("png"));
    QCOMPARE(pic.data().toString(), QStringLiteral("画像 PNG 64×48, %1 KB").arg((png.size() + 512) / 1024));
    // A picture small enough for the table takes no typing there either: a stray key leaves it as it is.
    QVERIFY(w.cell(1).size() < 16380);
    QVERIFY(!(pic.flags() & Qt::ItemIsEditable));
    const QString small = w.cell(1);
    w.data->setCurrentIndex(pic);
    QTest::keyClick(w.data, Qt::Key_X);
    QCOMPARE(w.cell(1), small);
    QCOMPARE(w.dialogs.saveInitialNames, QStringList());
    window->exportFile();
    QCOMPARE(fileBytes(w.path("out.png")), png);
    QVERIFY(w.form.document().isModified());

    // One undo gives the cell its picture back, whole, and the window shows it again.
    w.undo();
    QCOMPARE(w.cell(1), QStringLiteral("<BLOB>"));
    QCOMPARE(window->value().text(), w.picture);
    QCOMPARE(window->value().imageInfo().format, QByteArray("bmp"));
    QCOMPARE(pic.data().toString(), described);
    QCOMPARE(w.dialogs.errors, QStringList());
}

void TestValueWindow::textIsEditedInOneStepAndBrokenValuesAreLeft()
{
    Window w;
    QVERIFY(w.open());
    TValueWindow* window = w.openValue(0);
    QVERIFY(window);
    auto* text = window->findChild<QPlainTextEdit*>(QStringLiteral("ValueText"));
    QCOMPARE(int(window->currentView()), int(TValueView::Text));
    QCOMPARE(text->toPlainText(), QStringLiteral("一行目\n二行目"));

    // Typed lines go back with the value's CR LF breaks, as one undo step.
    text->moveCursor(QTextCursor::End);
    QTest::keyClick(text, Qt::Key_Return);
    QTest::keyClicks(text, QStringLiteral("3"));
    QTest::keyClick(text, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(w.cell(0), QStringLiteral("一行目\r\n二行目\r\n3"));
    w.undo();
    QCOMPARE(w.cell(0), QStringLiteral("一行目\r\n二行目"));
    QCOMPARE(text->toPlainText(), QStringLiteral("一行目\n二行目"));

    // A text file of 1.2 million characters goes in whole, shows in the view for long texts, and its edit
    // is one step too.
    QString longText;
    for (int i = 0; longText.size() < 1'200'000; ++i) {
        longText += QStringLiteral("line %1 of a long memo\r\n").arg(i);
    }
    QVERIFY(writeBytes(w.path("long.txt"), longText.toLatin1()));
    w.dialogs.fileNames = {w.path("long.txt")};
    QApplication::setActiveWindow(window);
    window->importFile();
    QVERIFY(w.data->model()
                ->index(0, 0)
                .data(Qt::ToolTipRole)
                .toString()
                .startsWith(QStringLiteral("%1 文字の大きな値").arg(longText.size())));
    auto* longView = window->findChild<QWidget*>(QStringLiteral("ValueLongText"));
    QVERIFY(longView->isVisible());
    QTest::keyClicks(longView, QStringLiteral("x"));
    QTest::keyClick(longView, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(window->value().text(), u'x' + longText);
    w.undo();
    QCOMPARE(window->value().text(), longText);
    w.undo();
    QCOMPARE(w.cell(0), QStringLiteral("一行目\r\n二行目"));

    // Text typed and not applied is asked about before the window closes: applied, it is unsaved work.
    text->moveCursor(QTextCursor::End);
    QTest::keyClicks(text, QStringLiteral("!"));
    const qsizetype asked = w.dialogs.questions.size();
    w.dialogs.confirmAnswers = {true};
    QVERIFY(!w.form.close());
    QCOMPARE(w.dialogs.questions.size(), asked + 1);
    QCOMPARE(w.cell(0), QStringLiteral("一行目\r\n二行目!"));
    QCOMPARE(w.dialogs.saveQuestions.size(), 1);
    w.undo();
    QCOMPARE(w.cell(0), QStringLiteral("一行目\r\n二行目"));

    // A file of text CP932 cannot hold is refused and the cell keeps its value.
    QVERIFY(writeBytes(w.path("emoji.txt"), QStringLiteral("ok\n\U0001F600").toUtf8()));
    w.dialogs.fileNames = {w.path("emoji.txt")};
    w.dialogs.whileShown = nullptr;
    window->findChild<QWidget*>(QStringLiteral("ValueImport"))->setFocus();
    QTest::mouseClick(window->findChild<QWidget*>(QStringLiteral("ValueImport")), Qt::LeftButton);
    QCOMPARE(w.dialogs.errors.size(), 1);
    QVERIFY(
        w.dialogs.errors.first().startsWith(QStringLiteral("2 行目の文字 U+1F600 は Shift_JIS (CP932) で表せない")));
    QCOMPARE(w.cell(0), QStringLiteral("一行目\r\n二行目"));

    // A bin.hex value that is no base64 is said to be so and stays as it was.
    window = w.openValue(2);
    QVERIFY(window);
    QVERIFY(window->value().decodeFailed());
    QVERIFY(window->findChild<QLabel*>(QStringLiteral("ValueStatus"))
                ->text()
                .contains(QStringLiteral("base64 として読めません")));
    QCOMPARE(w.cell(2), QStringLiteral("not base64!"));
}

void TestValueWindow::followsItsRecordWithWhatWasTyped()
{
    Window w;
    QVERIFY(w.open());
    TValueWindow* window = w.openValue(0);
    QVERIFY(window);
    auto* text = window->findChild<QPlainTextEdit*>(QStringLiteral("ValueText"));
    const auto rowKeys = [&](int row, Qt::Key key) {
        QApplication::setActiveWindow(&w.form);
        w.data->setCurrentIndex(w.data->model()->index(row, 0));
        w.data->selectionModel()->select(w.data->currentIndex(), QItemSelectionModel::ClearAndSelect);
        QTest::keyClick(w.data, key, Qt::ControlModifier);
    };
    text->moveCursor(QTextCursor::End);
    QTest::keyClicks(text, QStringLiteral("!"));

    // A row inserted above: the window keeps to its record, now the second, and to what was typed into it.
    rowKeys(0, Qt::Key_Equal);
    QCOMPARE(w.data->model()->rowCount(), 2);
    QCOMPARE(window->row(), 2);
    QCOMPARE(window->windowTitle(), QStringLiteral("2 行目の MEMO - Torvane"));
    QCOMPARE(text->toPlainText(), QStringLiteral("一行目\n二行目!"));
    // Applied, the text goes to that record, not to the new row at its old place.
    QApplication::setActiveWindow(window);
    QTest::keyClick(text, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(w.data->model()->index(1, 0).data(Qt::EditRole).toString(), QStringLiteral("一行目\r\n二行目!"));
    QVERIFY(w.cell(0).isEmpty());

    // Typed again, then the record deleted: the text stays, read-only; closing asks, and No keeps it.
    text->moveCursor(QTextCursor::End);
    QTest::keyClicks(text, QStringLiteral("?"));
    rowKeys(1, Qt::Key_Minus);
    QCOMPARE(w.data->model()->rowCount(), 1);
    QVERIFY(window->isVisible());
    QCOMPARE(text->toPlainText(), QStringLiteral("一行目\n二行目!?"));
    QVERIFY(text->isReadOnly());
    const qsizetype asked = w.dialogs.questions.size();
    w.dialogs.confirmAnswers = {false, true};
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    QVERIFY(window->close());
    QCOMPARE(w.dialogs.questions.size(), asked + 2);
}

QTEST_MAIN(TestValueWindow)
#include "TestValueWindow.moc"
