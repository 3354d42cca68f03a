#include "FakeWindowDialogs.h"
#include "TPacketReader.h"
#include "datapage/TDataEditing.h"
#include "datapage/TDataTableModel.h"
#include "dialogs/TQtDialogs.h"
#include "textview/TTextView.h"
#include "widgets/TFieldTypeBox.h"
#include "window/TMainForm.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUndoStack>
#include <QUrl>

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

using namespace torvane;

namespace {

QByteArray dataBytes(const char* name)
{
    QFile file(QStringLiteral(TORVANE_TEST_DATA "/") + QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString lines(std::initializer_list<const char*> texts)
{
    QString out;
    for (const char* text : texts) {
        out += QString::fromUtf8(text) + QStringLiteral("\r\n");
    }
    return out;
}

// The title as the window manager shows it: Qt's "[*]" becomes the modified mark or nothing.
QString shownTitle(const QWidget* window)
{
    QString title = window->windowTitle();
    return title.replace(QStringLiteral("[*]"), window->isWindowModified() ? QStringLiteral("*") : QString());
}

// Typed characters, one key event each; works for Japanese text, which QTest::keyClicks cannot send.
void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

// The window under test, its controls found by name as a user finds them by their place.
struct Window {
    FakeWindowDialogs dialogs;
    std::unique_ptr<TMainForm> form;
    QTabWidget* pages = nullptr;
    QLineEdit* name = nullptr;
    TFieldTypeBox* type = nullptr;
    QLineEdit* etc = nullptr;
    QAbstractSpinBox* width = nullptr;
    QLineEdit* widthText = nullptr;
    QPushButton* fieldAdd = nullptr;
    QPushButton* fieldSet = nullptr;
    QTableView* fields = nullptr;
    QTableView* data = nullptr;
    QPushButton* dataAdd = nullptr;
    QPushButton* priKey = nullptr;
    QPushButton* defOrder = nullptr;
    QListWidget* priList = nullptr;
    QListWidget* defList = nullptr;
    TTextView* xml = nullptr;
    std::unique_ptr<QAbstractItemModelTester> fieldTester;
    std::unique_ptr<QAbstractItemModelTester> dataTester;

    Window()
    {
        form = std::make_unique<TMainForm>(dialogs);
        form->show();
        QApplication::setActiveWindow(form.get());
        pages = form->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
        name = form->findChild<QLineEdit*>(QStringLiteral("Ed_FieldName"));
        type = form->findChild<TFieldTypeBox*>(QStringLiteral("CB_FieldType"));
        etc = form->findChild<QLineEdit*>(QStringLiteral("Ed_FieldEtc"));
        width = form->findChild<QAbstractSpinBox*>(QStringLiteral("SE_FieldWidth"));
        widthText = width ? width->findChild<QLineEdit*>() : nullptr;
        fieldAdd = form->findChild<QPushButton*>(QStringLiteral("B_FieldAdd"));
        fieldSet = form->findChild<QPushButton*>(QStringLiteral("B_FieldSet"));
        fields = form->findChild<QTableView*>(QStringLiteral("SG_Field"));
        data = form->findChild<QTableView*>(QStringLiteral("SG_Data"));
        dataAdd = form->findChild<QPushButton*>(QStringLiteral("B_DataAdd"));
        priKey = form->findChild<QPushButton*>(QStringLiteral("B_PriKey"));
        defOrder = form->findChild<QPushButton*>(QStringLiteral("B_DefOrder"));
        priList = form->findChild<QListWidget*>(QStringLiteral("LB_PriKey"));
        defList = form->findChild<QListWidget*>(QStringLiteral("LB_DefOrder"));
        xml = form->findChild<TTextView*>(QStringLiteral("Te_Xml"));
        fieldTester = std::make_unique<QAbstractItemModelTester>(fields->model());
        dataTester = std::make_unique<QAbstractItemModelTester>(data->model());
    }

    bool complete() const
    {
        return pages && name && type && etc && width && widthText && fieldAdd && fieldSet && fields && data &&
               dataAdd && priKey && defOrder && priList && defList && xml;
    }

    // Clicks into an edit, empties it and types the text as the user would.
    static void retype(QWidget* edit, const QString& text)
    {
        QTest::mouseClick(edit, Qt::LeftButton);
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        typeText(edit, text);
    }

    void defineField(const QString& fieldName, const QString& typePrefix, const QString& other,
                     const QString& widthValue)
    {
        retype(name, fieldName);
        retype(type, typePrefix);
        retype(etc, other);
        retype(width, widthValue);
        QTest::mouseClick(fieldAdd, Qt::LeftButton);
    }

    QString cell(const QTableView* view, int row, int column) const
    {
        return view->model()->index(row, column).data().toString();
    }

    QString header(const QTableView* view, int column) const
    {
        return view->model()->headerData(column, Qt::Horizontal).toString();
    }

    void clickCell(int row, int column)
    {
        const QModelIndex index = data->model()->index(row, column);
        QTest::mouseClick(data->viewport(), Qt::LeftButton, {}, data->visualRect(index).center());
    }

    void clickItem(QListWidget* list, int row)
    {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    }

    // The XML view's text as the reader and the files see it.
    QString xmlText() const { return xml->crLfText(); }

    QWidget* focus() const { return QApplication::focusWidget(); }
};

void press(Window& w, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(w.focus(), key, modifiers);
}

// Selects a rectangle of data cells as a drag would: a click on one corner, Shift+click on the other.
void selectCells(Window& w, int row, int column, int lastRow, int lastColumn)
{
    w.clickCell(row, column);
    const QModelIndex corner = w.data->model()->index(lastRow, lastColumn);
    QTest::mouseClick(w.data->viewport(), Qt::LeftButton, Qt::ShiftModifier, w.data->visualRect(corner).center());
}

} // namespace

class TestMainForm : public QObject {
    Q_OBJECT
private slots:
    void startUpShowsAnEmptyWorkspaceAndWritesNothing();
    void packetBuiltInTheWindowIsWrittenAndReadBack();
    void fieldEditorRefusesAndReports();
    void packetFilesThroughTheDialogs();
    void libraryPacketKeepsItsDataThroughAnEdit();
    void movedDataColumnIsWrittenUnderFieldNames();
    void windowLimitsAndSplitter();
    void realDialogsShowTheirTextsAndButtons();
    void readTextReplacesTheWorkspaceWhateverBoxesShow();
    void passingThroughTheManualPageKeepsTheNewerWork();
    void unsavedWorkIsAskedAboutAndSaved();
    void notWellFormedPacketIsSavedOnlyWhenAsked_data();
    void notWellFormedPacketIsSavedOnlyWhenAsked();
    void saveAsAsksBeforeReplacing_data();
    void saveAsAsksBeforeReplacing();
    void unsavedMarkFollowsRealChangesOnly();
    void filesArriveByCommandLineAndDrop();
    void failedReadsAndOtherProgramsChangesLoseNothing();
    void ctrlSKeepsTheFileAsLoaded_data();
    void ctrlSKeepsTheFileAsLoaded();
    void buttonsThatChangeNothingKeepTheFile_data();
    void buttonsThatChangeNothingKeepTheFile();
    void textWithoutPacketIsToldAndKept_data();
    void textWithoutPacketIsToldAndKept();
    void unreadableBytesAskedBeforeTheLoad_data();
    void unreadableBytesAskedBeforeTheLoad();
    void wideAndFaultyPacketsShowAtOnce();
    void focusStaysWhereTheUserHasIt();
    void spreadsheetRangesPastedCopiedAndUndone();
    void undoHistoryKeepsNoMoreThanItsMemory();
    void rangesByDragAndShiftArrows_data();
    void rangesByDragAndShiftArrows();
    void columnsWithoutWidthFitTheirValues();
    void rowsInsertedDuplicatedAndDeleted();
    void fieldsDeletedAndMovedWithTheirKeys();
    void csvOutAndBackIn();
    void csvImportOptionsPreviewedAndApplied();
    void findBarWrapsAroundTheText();
    void findAndReplaceInTheTableAndTheText();
    void xmlPageTakesTheKeysWhenShown();
    void screenReadersGetTheTextAndTheNames();
    void cellEditorUnderTheInputMethodAndEsc_data();
    void cellEditorUnderTheInputMethodAndEsc();
    void emptyStringsShownSetAndKept();
    void valuesThatDoNotFitTheirFieldsAreMarked();
};

void TestMainForm::startUpShowsAnEmptyWorkspaceAndWritesNothing()
{
    Window w;
    QVERIFY(w.complete());
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("Torvane"));
    QCOMPARE(w.form->windowIcon().availableSizes().size(), 3);
    QCOMPARE(w.pages->currentIndex(), 0);
    QCOMPARE(w.pages->tabText(0), QStringLiteral("データ"));
    QCOMPARE(w.pages->tabText(1), QStringLiteral("XML"));
    QCOMPARE(w.pages->tabText(2), QStringLiteral("説明書"));
    QCOMPARE(w.form->findChild<QLineEdit*>(QStringLiteral("Ed_xmlVersion"))->text(), QStringLiteral("1.0"));
    QCOMPARE(w.form->findChild<QLineEdit*>(QStringLiteral("Ed_PacketVersion"))->text(), QStringLiteral("2.0"));
    QCOMPARE(w.form->findChild<QLineEdit*>(QStringLiteral("Ed_LCID"))->text(), QStringLiteral("1033"));
    QCOMPARE(w.form->findChild<QGroupBox*>(QStringLiteral("GBox_Whole"))->title(), QStringLiteral("全体管理"));
    QCOMPARE(w.priKey->text(), QStringLiteral("主キー選択"));
    QCOMPARE(w.defOrder->text(), QStringLiteral("並べ順キー選択"));
    QCOMPARE(w.type->currentText(), QStringLiteral("選択"));
    QVERIFY(!w.type->chosenIndex());
    QCOMPARE(w.type->count(), 10);
    QCOMPARE(w.widthText->text(), QStringLiteral("10"));
    // One empty row under an empty header in both tables; the key lists hidden.
    QCOMPARE(w.fields->model()->rowCount(), 1);
    QCOMPARE(w.fields->model()->columnCount(), 4);
    QCOMPARE(w.fields->columnWidth(0), 226);
    QCOMPARE(w.fields->columnWidth(3), 79);
    QCOMPARE(w.data->model()->rowCount(), 1);
    QCOMPARE(w.data->model()->columnCount(), 1);
    QVERIFY(!w.priList->isVisible());
    QVERIFY(!w.defList->isVisible());

    // Nothing has changed, so the XML page stays empty, and going back parses nothing.
    w.pages->setCurrentIndex(1);
    QCOMPARE(w.xml->toPlainText(), QString());
    w.pages->setCurrentIndex(0);
    QCOMPARE(w.data->model()->columnCount(), 1);
    QVERIFY(w.dialogs.informed.isEmpty());
    QVERIFY(w.dialogs.errors.isEmpty());
    w.pages->setCurrentIndex(2);
    QVERIFY(!w.form->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText().isEmpty());
}

void TestMainForm::packetBuiltInTheWindowIsWrittenAndReadBack()
{
    Window w;
    QVERIFY(w.complete());
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));

    // Adding before a type is chosen is refused.
    Window::retype(w.name, QStringLiteral("ID"));
    QTest::mouseClick(w.fieldAdd, Qt::LeftButton);
    QCOMPARE(w.dialogs.informed, QStringList{QStringLiteral("データの型を選択してください")});

    // "i4" completes to the four-byte integer item; an empty width.
    w.defineField(QStringLiteral("ID"), QStringLiteral("i4"), QString(), QString());
    QCOMPARE(w.cell(w.fields, 0, 1), QStringLiteral("i4（４バイト整数）"));

    // "st" completes to "string（文字列）" and chooses it.
    Window::retype(w.type, QStringLiteral("st"));
    QCOMPARE(w.type->currentText(), QStringLiteral("string（文字列）"));
    QCOMPARE(w.type->chosenText(), std::optional<QString>(QStringLiteral("string（文字列）")));
    w.defineField(QStringLiteral("NAME"), QStringLiteral("st"), QStringLiteral("required=\"true\""),
                  QStringLiteral("20"));
    QCOMPARE(w.fields->model()->rowCount(), 2);
    QCOMPARE(w.cell(w.fields, 1, 0), QStringLiteral("NAME"));
    QCOMPARE(w.cell(w.fields, 1, 1), QStringLiteral("string（文字列）"));
    QCOMPARE(w.cell(w.fields, 1, 2), QStringLiteral("required=\"true\""));
    QCOMPARE(w.cell(w.fields, 1, 3), QStringLiteral("20"));
    QCOMPARE(w.data->model()->columnCount(), 2);
    QCOMPARE(w.header(w.data, 0), QStringLiteral("ID"));
    QCOMPARE(w.header(w.data, 1), QStringLiteral("NAME"));
    QCOMPARE(w.data->columnWidth(1), 160);

    // A name taken in another letter case is refused.
    w.defineField(QStringLiteral("id"), QStringLiteral("i4"), QString(), QString());
    QCOMPARE(w.dialogs.informed.last(), QStringLiteral("フィールド名が既にあるか不正な名前です"));
    QCOMPARE(w.fields->model()->rowCount(), 2);

    // The order key: NAME; the primary key: ID. The lists open over the field group, as high as their items.
    QTest::mouseClick(w.defOrder, Qt::LeftButton);
    QVERIFY(w.defList->isVisible());
    QCOMPARE(w.defOrder->text(), QStringLiteral("選択終了"));
    QCOMPARE(w.defList->geometry(), QRect(352, 32, 113, 2 * w.defList->sizeHintForRow(0) + 5));
    QCOMPARE(w.defList->count(), 2);
    w.clickItem(w.defList, 1);
    QTest::mouseClick(w.defOrder, Qt::LeftButton);
    QVERIFY(!w.defList->isVisible());
    QCOMPARE(w.defOrder->text(), QStringLiteral("並べ順キー選択"));
    QTest::mouseClick(w.priKey, Qt::LeftButton);
    QCOMPARE(w.priList->geometry().topLeft(), QPoint(488, 32));
    w.clickItem(w.priList, 0);
    QTest::mouseClick(w.priKey, Qt::LeftButton);
    QCOMPARE(w.priKey->text(), QStringLiteral("主キー選択"));

    // Records: type into the cells; Tab wraps from the last cell to the first; Enter moves down.
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    QTest::keyClicks(w.focus(), QStringLiteral("1"));
    QTRY_COMPARE(w.cell(w.data, 0, 0), QStringLiteral("1"));
    QTest::keyClick(w.focus(), Qt::Key_Tab);
    QTRY_COMPARE(w.data->currentIndex(), w.data->model()->index(0, 1));
    QTest::keyClicks(w.focus(), QStringLiteral("Apple"));
    QTRY_COMPARE(w.cell(w.data, 0, 1), QStringLiteral("Apple"));
    QTest::keyClick(w.focus(), Qt::Key_Tab);
    QTRY_COMPARE(w.data->currentIndex(), w.data->model()->index(0, 0));
    QVERIFY(w.data->isAncestorOf(w.focus()));
    QTest::mouseClick(w.dataAdd, Qt::LeftButton);
    QCOMPARE(w.data->model()->rowCount(), 2);
    // An empty last record is not followed by another.
    QTest::mouseClick(w.dataAdd, Qt::LeftButton);
    QCOMPARE(w.data->model()->rowCount(), 2);
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    QTest::keyClick(w.focus(), Qt::Key_Return);
    QTRY_COMPARE(w.data->currentIndex(), w.data->model()->index(1, 0));
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    typeText(w.focus(), QStringLiteral("2"));
    QTRY_COMPARE(w.cell(w.data, 1, 0), QStringLiteral("2"));
    QTest::keyClick(w.focus(), Qt::Key_Return);
    QCOMPARE(w.data->currentIndex(), w.data->model()->index(1, 0));
    QTest::keyClick(w.focus(), Qt::Key_Backtab, Qt::ShiftModifier);
    QTRY_COMPARE(w.data->currentIndex(), w.data->model()->index(0, 1));

    // Ctrl+Tab from inside the data table shows the XML page, written from the workspace.
    QTest::keyClick(w.focus(), Qt::Key_Tab, Qt::ControlModifier);
    QTRY_COMPARE(w.pages->currentIndex(), 1);
    QCOMPARE(w.xmlText(), QString::fromUtf8(dataBytes("example.xml")));
    QVERIFY(!w.xml->isModified());

    // A hand edit: the apple becomes a pear, and a third row appears.
    QVERIFY(w.xml->find(QStringLiteral("Apple"), false, Qt::CaseSensitive, false));
    w.xml->setFocus();
    QTest::keyClicks(w.xml, QStringLiteral("Pear"));
    QVERIFY(w.xml->find(QStringLiteral("<ROW ID=\"2\"/>"), false, Qt::CaseSensitive, false));
    QTest::keyClick(w.xml, Qt::Key_End);
    QTest::keyClick(w.xml, Qt::Key_Return);
    typeText(w.xml, QStringLiteral("<ROW ID=\"3\" NAME=\"梨\"/>"));

    // Back on the data page the text is read into the grids.
    QTest::keyClick(w.xml, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_COMPARE(w.pages->currentIndex(), 0);
    QVERIFY(w.dialogs.errors.isEmpty());
    QCOMPARE(w.fields->model()->rowCount(), 2);
    QCOMPARE(w.header(w.fields, 0), QStringLiteral("フィールド名"));
    QCOMPARE(w.cell(w.fields, 0, 0), QStringLiteral("ID"));
    QCOMPARE(w.cell(w.fields, 1, 1), QStringLiteral("string"));
    QCOMPARE(w.data->model()->rowCount(), 3);
    QCOMPARE(w.cell(w.data, 0, 1), QStringLiteral("Pear"));
    QCOMPARE(w.cell(w.data, 2, 0), QStringLiteral("3"));
    QCOMPARE(w.cell(w.data, 2, 1), QStringLiteral("梨"));
    QCOMPARE(w.defList->count(), 2);
    QVERIFY(w.defList->item(1)->isSelected());
    QVERIFY(!w.defList->item(0)->isSelected());
    QVERIFY(w.priList->item(0)->isSelected());
    // The type list gained the type codes read from the packet.
    QVERIFY(w.type->findText(QStringLiteral("string"), Qt::MatchFixedString) >= 0);
}

void TestMainForm::fieldEditorRefusesAndReports()
{
    Window w;
    QVERIFY(w.complete());
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));

    // No fields: the key buttons refuse to open, the change button fails on the list index.
    QTest::mouseClick(w.priKey, Qt::LeftButton);
    QCOMPARE(w.dialogs.informed.last(), QStringLiteral("フィールドがありません"));
    QVERIFY(!w.priList->isVisible());
    QCOMPARE(w.priKey->text(), QStringLiteral("主キー選択"));
    Window::retype(w.name, QStringLiteral("A"));
    Window::retype(w.type, QStringLiteral("in"));
    QCOMPARE(w.type->currentText(), QStringLiteral("int（数字）"));
    QTest::mouseClick(w.fieldSet, Qt::LeftButton);
    QCOMPARE(w.dialogs.errors, QStringList{QStringLiteral("リストのインデックスが範囲を超えています (0)")});
    QCOMPARE(errorBoxText(w.dialogs.errors.last()), QStringLiteral("リストのインデックスが範囲を超えています (0)"));

    // The width box takes only digits, signs and the decimal separator; the step counts from 0.
    Window::retype(w.width, QString());
    QTest::keyClicks(w.width, QStringLiteral("a1x"));
    QCOMPARE(w.widthText->text(), QStringLiteral("1"));
    QTest::keyClick(w.width, Qt::Key_Return);
    QCOMPARE(w.widthText->text(), QStringLiteral("1"));
    QTest::keyClicks(w.width, QStringLiteral(".5"));
    QCOMPARE(w.widthText->text(), QStringLiteral("1.5"));
    Window::retype(w.width, QStringLiteral("-"));
    QTest::keyClick(w.width, Qt::Key_Up);
    QCOMPARE(w.widthText->text(), QStringLiteral("1"));
    QTest::keyClick(w.width, Qt::Key_Down);
    QTest::keyClick(w.width, Qt::Key_Down);
    QCOMPARE(w.widthText->text(), QStringLiteral("-1"));

    // A width with a decimal point adds the field and then reports, with the error box's full stop.
    w.defineField(QStringLiteral("A"), QStringLiteral("in"), QString(), QStringLiteral("1.5"));
    QCOMPARE(w.dialogs.errors.last(), QStringLiteral("'1.5' は整数ではありません"));
    QCOMPARE(errorBoxText(w.dialogs.errors.last()), QStringLiteral("'1.5' は整数ではありません."));
    QCOMPARE(w.cell(w.fields, 0, 0), QStringLiteral("A"));
    QCOMPARE(w.header(w.data, 0), QStringLiteral("A"));
    QCOMPARE(w.data->columnWidth(0), 100);

    // Enter in the type box asks, then adds the typed code and chooses it; a second time it exists.
    Window::retype(w.type, QStringLiteral("date"));
    QVERIFY(!w.type->chosenIndex());
    w.dialogs.confirmAnswers = {false, true, true};
    QTest::keyClick(w.type, Qt::Key_Return);
    QCOMPARE(w.type->count(), 10);
    QTest::keyClick(w.type, Qt::Key_Return);
    QCOMPARE(w.dialogs.questions.size(), 2);
    QCOMPARE(w.dialogs.questions.last(), QStringLiteral("入力されている単語はデータ形式文字ですか？"));
    QCOMPARE(w.type->count(), 11);
    QCOMPARE(w.type->chosenText(), std::optional<QString>(QStringLiteral("date")));
    QTest::keyClick(w.type, Qt::Key_Return);
    QCOMPARE(w.dialogs.informed.last(), QStringLiteral("既にあります"));
    QCOMPARE(w.type->count(), 11);

    w.defineField(QStringLiteral("B"), QStringLiteral("da"), QStringLiteral("x=\"1\""), QStringLiteral("-3"));
    QCOMPARE(w.cell(w.fields, 1, 1), QStringLiteral("date"));
    w.defineField(QStringLiteral("C"), QStringLiteral("bo"), QString(), QStringLiteral("10"));
    QCOMPARE(w.fields->model()->rowCount(), 3);

    // Backspace un-chooses: the box still shows a type, but adding is refused.
    Window::retype(w.type, QStringLiteral("st"));
    QVERIFY(w.type->chosenIndex());
    QTest::keyClick(w.type, Qt::Key_Backspace);
    QVERIFY(!w.type->chosenIndex());
    Window::retype(w.name, QStringLiteral("D"));
    QTest::mouseClick(w.fieldAdd, Qt::LeftButton);
    QCOMPARE(w.dialogs.informed.last(), QStringLiteral("データの型を選択してください"));
    QCOMPARE(w.fields->model()->rowCount(), 3);

    // Clicking a row loads it into the editor; moving with the keyboard does too.
    QTest::mouseClick(w.fields->viewport(), Qt::LeftButton, {},
                      w.fields->visualRect(w.fields->model()->index(1, 2)).center());
    QCOMPARE(w.name->text(), QStringLiteral("B"));
    QCOMPARE(w.type->chosenText(), std::optional<QString>(QStringLiteral("date")));
    QCOMPARE(w.etc->text(), QStringLiteral("x=\"1\""));
    QCOMPARE(w.widthText->text(), QStringLiteral("-3"));
    QTest::keyClick(w.fields, Qt::Key_Down);
    QCOMPARE(w.name->text(), QStringLiteral("C"));
    QCOMPARE(w.type->currentText(), QStringLiteral("boolean（０か１）"));
    // Tab moves a row as well, and past the last row goes on to the width box.
    w.fields->setFocus();
    QTest::keyClick(w.fields, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(w.name->text(), QStringLiteral("B"));
    QTest::keyClick(w.fields, Qt::Key_Tab);
    QCOMPARE(w.name->text(), QStringLiteral("C"));
    QTest::keyClick(w.fields, Qt::Key_Tab);
    QCOMPARE(w.fields->currentIndex().row(), 2);
    QVERIFY(w.width->isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == w.width);

    // Changing C to B's name is refused; to its own name in another case is accepted.
    Window::retype(w.name, QStringLiteral("b"));
    QTest::mouseClick(w.fieldSet, Qt::LeftButton);
    QCOMPARE(w.dialogs.informed.last(), QStringLiteral("フィールド名を入力してください"));
    QCOMPARE(w.cell(w.fields, 2, 0), QStringLiteral("C"));
    Window::retype(w.name, QStringLiteral("c"));
    QTest::mouseClick(w.fieldSet, Qt::LeftButton);
    QCOMPARE(w.cell(w.fields, 2, 0), QStringLiteral("c"));
    QCOMPARE(w.header(w.data, 2), QStringLiteral("c"));

    // Three fields: the opened list is three items high plus 5.
    QTest::mouseClick(w.defOrder, Qt::LeftButton);
    QCOMPARE(w.defList->height(), 3 * w.defList->sizeHintForRow(0) + 5);
    w.clickItem(w.defList, 0);
    QTest::mouseClick(w.defList->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      w.defList->visualItemRect(w.defList->item(2)).center());
    QCOMPARE(w.defList->selectedItems().size(), 2);
    QTest::mouseClick(w.defOrder, Qt::LeftButton);
    // Adding a field afterwards clears the selection.
    w.defineField(QStringLiteral("E"), QStringLiteral("ch"), QString(), QString());
    QTest::mouseClick(w.defOrder, Qt::LeftButton);
    QCOMPARE(w.defList->count(), 4);
    QVERIFY(w.defList->selectedItems().isEmpty());
}

void TestMainForm::packetFilesThroughTheDialogs()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Window w;
    QVERIFY(w.complete());
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.pages->setCurrentIndex(1);
    auto* load = w.form->findChild<QPushButton*>(QStringLiteral("B_XmlLoad"));
    auto* save = w.form->findChild<QPushButton*>(QStringLiteral("B_XmlSave"));
    QCOMPARE(load->text(), QStringLiteral("読み込み"));
    QCOMPARE(save->text(), QStringLiteral("保存"));

    // Cancelling the load changes nothing: the data page parses nothing afterwards.
    w.dialogs.fileNames = {std::nullopt};
    QTest::mouseClick(load, Qt::LeftButton);
    QCOMPARE(w.xml->toPlainText(), QString());
    QCOMPARE(w.dialogs.openInitialNames, QStringList{QString()});

    // A file that does not exist: the error box names it, with a full stop.
    const QString missing = dir.filePath(QStringLiteral("missing.xml"));
    w.dialogs.fileNames = {missing};
    QTest::mouseClick(load, Qt::LeftButton);
    QCOMPARE(w.dialogs.errors.size(), 1);
    QCOMPARE(errorBoxText(w.dialogs.errors.last()), QStringLiteral("ファイル %1 は開けません.").arg(missing));

    // Loading the example shows its text, marked as edited; the data page then reads it.
    const QString example = QStringLiteral(TORVANE_TEST_DATA "/example.xml");
    w.dialogs.fileNames = {example};
    QTest::mouseClick(load, Qt::LeftButton);
    QCOMPARE(w.dialogs.openInitialNames.last(), missing);
    QCOMPARE(w.xmlText(), QString::fromUtf8(dataBytes("example.xml")));
    QVERIFY(w.xml->isModified());
    w.pages->setCurrentIndex(0);
    QCOMPARE(w.header(w.data, 1), QStringLiteral("NAME"));
    QCOMPARE(w.cell(w.data, 0, 1), QStringLiteral("Apple"));

    // Saving writes the text as shown, hand edits included, under exactly the chosen name.
    w.pages->setCurrentIndex(1);
    w.xml->setFocus();
    QTest::keyClick(w.xml, Qt::Key_End, Qt::ControlModifier);
    typeText(w.xml, QStringLiteral("<!-- 手書き -->"));
    const QString saved = dir.filePath(QStringLiteral("packet"));
    w.dialogs.fileNames = {saved, std::nullopt};
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(w.dialogs.saveInitialNames, QStringList{example});
    QCOMPARE(w.dialogs.saveFilters, QStringList{QStringLiteral("xmlファイル (*.xml);;総て (*)")});
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringEncoder cp932("windows-31j");
    QVERIFY(cp932.isValid());
    const QByteArray comment = cp932.encode(QStringLiteral("<!-- 手書き -->"));
    QCOMPARE(file.readAll(), dataBytes("example.xml") + comment);
    QCOMPARE(w.dialogs.errors.size(), 1);
    // Saving asks for no parse: the view stays marked as edited, and the data page reads the edit.
    QVERIFY(w.xml->isModified());
    // The save dialog offers the name chosen last; a cancelled save writes nothing.
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(w.dialogs.saveInitialNames.last(), saved);
    QCOMPARE(w.dialogs.saveInitialNames.size(), 2);
}

void TestMainForm::libraryPacketKeepsItsDataThroughAnEdit()
{
    Window w;
    QVERIFY(w.complete());
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    const QString original = QString::fromUtf8(dataBytes("library/one-line.xml"));
    const QString picture = original.section(QStringLiteral("Graphic=\""), 1).section(u'"', 0, 0);
    QCOMPARE(picture.size(), 20000);
    w.pages->setCurrentIndex(1);
    w.dialogs.fileNames = {QStringLiteral(TORVANE_TEST_DATA "/library/one-line.xml")};
    QTest::mouseClick(w.form->findChild<QPushButton*>(QStringLiteral("B_XmlLoad")), Qt::LeftButton);
    w.pages->setCurrentIndex(0);

    // The picture shows as <BLOB> and takes no typing; the field's PARAM child shows in its tooltip.
    QCOMPARE(w.header(w.data, 5), QStringLiteral("Graphic"));
    const QModelIndex blob = w.data->model()->index(0, 5);
    QCOMPARE(blob.data().toString(), QStringLiteral("<BLOB>"));
    QVERIFY(!(blob.flags() & Qt::ItemIsEditable));
    QVERIFY(blob.data(Qt::ToolTipRole).toString().startsWith(QStringLiteral("20000 文字")));
    w.clickCell(0, 5);
    typeText(w.focus(), QStringLiteral("x"));
    QVERIFY(w.fields->model()->index(3, 0).data(Qt::ToolTipRole).toString().contains(QStringLiteral("PROVFLAGS")));
    // Nor does a clear of a range over it: the cells beside it empty, the picture stays.
    selectCells(w, 0, 4, 0, 5);
    press(w, Qt::Key_Delete);
    QCOMPARE(w.cell(w.data, 0, 4), QString());
    QCOMPARE(blob.data().toString(), QStringLiteral("<BLOB>"));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(!w.cell(w.data, 0, 4).isEmpty());

    // One length typed anew: written back, every other value, the picture and the PARAM child are as they were.
    w.clickCell(1, 3);
    typeText(w.focus(), QStringLiteral("1"));
    QTest::mouseClick(w.dataAdd, Qt::LeftButton);
    w.pages->setCurrentIndex(1);
    const QString text = w.xmlText();
    QVERIFY(text.contains(QStringLiteral(" Graphic=\"") + picture + u'"'));
    QVERIFY(text.contains(QStringLiteral(" Common_Name=\"Red Emperor\" Length_In=\"1\"/>")));
    QVERIFY(text.contains(QStringLiteral("<PARAM Name=\"PROVFLAGS\" Value=\"7\" Type=\"i4\"/></FIELD>")));
    QVERIFY(text.contains(QStringLiteral(" fieldname=\"Common Name\"")));
    QVERIFY(text.contains(QStringLiteral("LCID=\"2057\"")));
    QCOMPARE(w.dialogs.errors, QStringList());
}

void TestMainForm::movedDataColumnIsWrittenUnderFieldNames()
{
    Window w;
    QVERIFY(w.complete());
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.defineField(QStringLiteral("A"), QStringLiteral("st"), QString(), QStringLiteral("10"));
    w.defineField(QStringLiteral("B"), QStringLiteral("st"), QString(), QStringLiteral("20"));
    w.defineField(QStringLiteral("C"), QStringLiteral("st"), QString(), QStringLiteral("30"));
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    for (const char* value : {"a1", "b1", "c1"}) {
        QTest::keyClicks(w.focus(), QString::fromLatin1(value));
        QTest::keyClick(w.focus(), Qt::Key_Tab);
        QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    }
    QTRY_COMPARE(w.cell(w.data, 0, 2), QStringLiteral("c1"));

    // Drag header A past C: cells, header and width go with it.
    QHeaderView* header = w.data->horizontalHeader();
    const QPoint from(header->sectionViewportPosition(0) + 10, header->height() / 2);
    const QPoint to(header->sectionViewportPosition(2) + header->sectionSize(2) - 5, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, from);
    for (int x = from.x(); x <= to.x(); x += 10) {
        QTest::mouseMove(header->viewport(), QPoint(x, from.y()));
    }
    QTest::mouseMove(header->viewport(), to);
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, to);
    QTRY_COMPARE(w.header(w.data, 2), QStringLiteral("A"));
    QCOMPARE(w.header(w.data, 0), QStringLiteral("B"));
    QCOMPARE(w.header(w.data, 1), QStringLiteral("C"));
    QCOMPARE(w.cell(w.data, 0, 0), QStringLiteral("b1"));
    QCOMPARE(w.cell(w.data, 0, 2), QStringLiteral("a1"));
    QCOMPARE(w.data->columnWidth(0), 160);
    QCOMPARE(w.data->columnWidth(2), 80);
    QCOMPARE(header->visualIndex(2), 2);

    // A resized column keeps its width through a refill.
    header->resizeSection(1, 123);
    QTest::mouseClick(w.dataAdd, Qt::LeftButton);
    QCOMPARE(w.data->columnWidth(1), 123);

    // The writer names column c after field c, whatever the header of the column there says.
    w.pages->setCurrentIndex(1);
    QVERIFY(w.xmlText().contains(lines({"<ROWDATA>", "<ROW A=\"b1\" B=\"c1\" C=\"a1\"/>", "<ROW/>", "</ROWDATA>"})));
}

void TestMainForm::windowLimitsAndSplitter()
{
    Window w;
    QVERIFY(w.complete());
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    QCOMPARE(w.form->pos(), QPoint(71, 55));
    QTRY_COMPARE(w.form->frameGeometry().size(), QSize(783, 583));
    const QFont font = w.data->font();
    QCOMPARE(font.pixelSize(), 13);
    QVERIFY(QFontInfo(font).family() != QString());

    // Sized smaller, the window springs back to 783 x 553.
    const QSize frame = w.form->frameGeometry().size() - w.form->size();
    w.form->resize(500, 300);
    QTRY_COMPARE(w.form->frameGeometry().size(), QSize(783, 553));
    w.form->resize(900, 500);
    QTRY_COMPARE(w.form->frameGeometry().size(), QSize(900 + frame.width(), 553));
    // The field table's other-settings column fills the wider table.
    QCOMPARE(w.fields->columnWidth(2), w.fields->width() - 226 - 100 - 79 - 7);
    w.form->resize(QSize(783, 583) - frame);
    QTRY_COMPARE(w.form->frameGeometry().size(), QSize(783, 583));

    auto* groupField = w.form->findChild<QGroupBox*>(QStringLiteral("GBox_Field"));
    auto* groupData = w.form->findChild<QGroupBox*>(QStringLiteral("GBox_Data"));
    auto* splitter = w.form->findChild<QWidget*>(QStringLiteral("Splitter1"));
    QVERIFY(groupField && groupData && splitter);
    QCOMPARE(groupField->height(), 207);
    QCOMPARE(splitter->height(), 8);
    QCOMPARE(groupData->geometry().bottom(), splitter->parentWidget()->height() - 1);
    const int pageHeight = splitter->parentWidget()->height();
    const QPoint grip(splitter->width() / 2, 4);
    auto drag = [&](int dy, bool cancel) {
        QTest::mousePress(splitter, Qt::LeftButton, {}, grip);
        QTest::mouseMove(splitter, grip + QPoint(0, dy / 2));
        QTest::mouseMove(splitter, grip + QPoint(0, dy));
        if (cancel) {
            QTest::keyClick(splitter, Qt::Key_Escape);
        }
        QTest::mouseRelease(splitter, Qt::LeftButton, {}, grip + QPoint(0, dy));
    };

    drag(40, false);
    QCOMPARE(groupField->height(), 247);
    QCOMPARE(splitter->y(), 41 + 247);
    QCOMPARE(w.fields->height(), 247 - 66);
    drag(-30, true);
    QCOMPARE(groupField->height(), 247);
    // Down to the limit: the data group keeps 60 pixels.
    drag(1000, false);
    QCOMPARE(groupField->height(), pageHeight - 109);
    QCOMPARE(groupData->height(), 60);
    // Up to 60 or less: the field group collapses, and can be dragged open again.
    drag(-(groupField->height() - 60), false);
    QCOMPARE(groupField->height(), 0);
    drag(100, false);
    QCOMPARE(groupField->height(), 100);
}

void TestMainForm::realDialogsShowTheirTextsAndButtons()
{
    TQtDialogs dialogs;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QString defaultButton;
    // Reads the box once it is up, then answers it with Esc.
    auto inspect = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons.clear();
        for (QAbstractButton* button : box->buttons()) {
            buttons.append(button->text());
        }
        defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        QTest::keyClick(box, Qt::Key_Escape);
    };

    QTimer::singleShot(0, this, inspect);
    dialogs.error(QStringLiteral("'1.5' は整数ではありません"));
    QCOMPARE(title, QStringLiteral("Torvane"));
    QCOMPARE(text, QStringLiteral("'1.5' は整数ではありません."));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons, QStringList{QStringLiteral("OK")});

    QTimer::singleShot(0, this, inspect);
    dialogs.error(QStringLiteral("リストのインデックスが範囲を超えています (0)"));
    QCOMPARE(text, QStringLiteral("リストのインデックスが範囲を超えています (0)"));

    QTimer::singleShot(0, this, inspect);
    dialogs.inform(QStringLiteral("既にあります"));
    QCOMPARE(title, QStringLiteral("Torvane"));
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(buttons, QStringList{QStringLiteral("OK")});

    QTimer::singleShot(0, this, inspect);
    const bool answer = dialogs.confirm(QStringLiteral("入力されている単語はデータ形式文字ですか？"));
    QVERIFY(!answer);
    QCOMPARE(title, QStringLiteral("確認"));
    QCOMPARE(icon, QMessageBox::Question);
    QVERIFY(buttons.contains(QStringLiteral("はい(&Y)")));
    QVERIFY(buttons.contains(QStringLiteral("いいえ(&N)")));
    QCOMPARE(defaultButton, QStringLiteral("はい(&Y)"));

    // The question before unsaved work is lost: Esc cancels.
    QTimer::singleShot(0, this, inspect);
    QCOMPARE(dialogs.askSaveChanges(QStringLiteral("/tmp/orders.xml")), TSaveAnswer::Cancel);
    QCOMPARE(title, QStringLiteral("確認"));
    QCOMPARE(text, QStringLiteral("「orders.xml」への変更を保存しますか？"));
    QCOMPARE(icon, QMessageBox::Question);
    buttons.sort();
    QCOMPARE(buttons, (QStringList{QStringLiteral("キャンセル"), QStringLiteral("保存しない(&N)"),
                                   QStringLiteral("保存する(&S)")}));
    QCOMPARE(defaultButton, QStringLiteral("保存する(&S)"));
    QTimer::singleShot(0, this, inspect);
    dialogs.askSaveChanges(QString());
    QCOMPARE(text, QStringLiteral("変更を保存しますか？"));

    // The question before a text that is not well-formed is saved: キャンセル is the default and Esc.
    QTimer::singleShot(0, this, inspect);
    QVERIFY(!dialogs.askSaveNotWellFormed(QStringLiteral("1 行 1 列: ルート要素がありません")));
    QCOMPARE(title, QStringLiteral("確認"));
    QCOMPARE(text, QStringLiteral("1 行 1 列: ルート要素がありません"));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(buttons, (QStringList{QStringLiteral("保存する(&S)"), QStringLiteral("キャンセル")}));
    QCOMPARE(defaultButton, QStringLiteral("キャンセル"));

    // The question before a save replaces a file, as Qt's file dialog asks it in Japanese: Esc says いいえ.
    QTimer::singleShot(0, this, inspect);
    QVERIFY(!dialogs.confirmReplace(QStringLiteral("/tmp/orders.xml")));
    QCOMPARE(title, QStringLiteral("名前を付けて保存"));
    QCOMPARE(text, QStringLiteral("orders.xml は既に存在します。\n置き換えますか?"));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(buttons, (QStringList{QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)")}));
    QCOMPARE(defaultButton, QStringLiteral("いいえ(&N)"));
}

namespace {

// The workspace the reader makes of `crlfText` on its own, as torvane-probe read gives it.
struct ReadAlone {
    FakeWindowDialogs dialogs;
    TWorkspace workspace;
    explicit ReadAlone(const QString& crlfText) { readPacket(workspace, crlfText, dialogs); }
};

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// `name` in `dir` written with `bytes` and opened in the window, as a user opens a file; empty when that failed.
QString openedFile(Window& w, const QTemporaryDir& dir, const char* name, const QByteArray& bytes)
{
    QFile file(dir.filePath(QString::fromLatin1(name)));
    const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    file.close();
    return written && QTest::qWaitForWindowActive(w.form.get()) && w.form->openFile(file.fileName()) ? file.fileName()
                                                                                                     : QString();
}

// Replaces the whole XML text by hand: all selected, deleted, and the new text pasted.
void retypeXml(TTextView* xml, const QString& text)
{
    xml->setFocus();
    QTest::keyClick(xml, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(xml, Qt::Key_Delete);
    QApplication::clipboard()->setText(text);
    QTest::keyClick(xml, Qt::Key_V, Qt::ControlModifier);
}

} // namespace

void TestMainForm::readTextReplacesTheWorkspaceWhateverBoxesShow()
{
    Window w;
    QVERIFY(w.complete());
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    // A real box takes the focus while it is up; the cell editor open before the read then loses it.
    w.dialogs.whileShown = [] {
        if (QWidget* focus = QApplication::focusWidget()) {
            focus->clearFocus();
        }
    };
    w.defineField(QStringLiteral("A"), QStringLiteral("st"), QString(), QString());
    w.defineField(QStringLiteral("B"), QStringLiteral("st"), QString(), QString());
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    QTest::keyClicks(w.focus(), QStringLiteral("OLD"));
    QTRY_COMPARE(w.cell(w.data, 0, 0), QStringLiteral("OLD"));

    w.pages->setCurrentIndex(1);
    const QString packet =
        lines({R"(<?xml version="1.0" standalone="yes"?>)", R"(<DATAPACKET Version="2.0">)", "<METADATA>", "<FIELDS>",
               R"(<FIELD attrname="A" fieldtype="string"/>)", R"(<FIELD attrname="a" fieldtype="string"/>)",
               R"(<FIELD attrname="B" fieldtype="string"/>)", "</FIELDS>",
               R"(<PARAMS DEFAULT_ORDER="" PRIMARY_KEY="" LCID="1033"/>)", "</METADATA>", "<ROWDATA>",
               R"(<ROW B="NEW"/>)", "</ROWDATA>", "</DATAPACKET>"});
    retypeXml(w.xml, packet);
    QTest::keyClick(w.xml, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(w.pages->currentIndex(), 0);
    QCOMPARE(w.dialogs.informed, QStringList{QStringLiteral("フィールド名が既にあるか不正な名前です")});

    const ReadAlone alone(packet);
    QCOMPARE(w.data->model()->rowCount(), alone.workspace.SG_Data().rowCount() - 1);
    QCOMPARE(w.data->model()->columnCount(), alone.workspace.SG_Data().colCount());
    for (int c = 0; c < alone.workspace.SG_Data().colCount(); ++c) {
        QCOMPARE(w.cell(w.data, 0, c), alone.workspace.SG_Data().cell(c, 1));
    }
    QCOMPARE(w.cell(w.data, 0, 0), QString());
    QCOMPARE(w.cell(w.data, 0, 1), QStringLiteral("NEW"));
    // The text was read just now: the XML page keeps it as it stands.
    w.pages->setCurrentIndex(1);
    QCOMPARE(w.xmlText(), packet);
}

void TestMainForm::passingThroughTheManualPageKeepsTheNewerWork()
{
    Window w;
    QVERIFY(w.complete());
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.defineField(QStringLiteral("ID"), QStringLiteral("i4"), QString(), QString());
    w.pages->setCurrentIndex(1);
    const QString written = w.xmlText();
    QVERIFY(written.contains(QStringLiteral("<FIELD attrname=\"ID\"")));

    // Data page -> manual page -> data page: an added field and a typed value stay, and reach the text.
    w.pages->setCurrentIndex(0);
    w.defineField(QStringLiteral("NAME"), QStringLiteral("st"), QString(), QString());
    w.clickCell(0, 1);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    QTest::keyClicks(w.focus(), QStringLiteral("Apple"));
    w.pages->setCurrentIndex(2);
    w.pages->setCurrentIndex(0);
    QCOMPARE(w.header(w.data, 1), QStringLiteral("NAME"));
    QCOMPARE(w.cell(w.data, 0, 1), QStringLiteral("Apple"));
    w.pages->setCurrentIndex(1);
    QVERIFY(w.xmlText().contains(QStringLiteral("<ROW NAME=\"Apple\"/>")));

    // XML page -> manual page -> XML page: a hand edit stays, and the data page then reads it.
    const QString edited = QString(w.xmlText()).replace(QStringLiteral("Apple"), QStringLiteral("Pear"));
    retypeXml(w.xml, edited);
    w.pages->setCurrentIndex(2);
    w.pages->setCurrentIndex(1);
    QCOMPARE(w.xmlText(), edited);
    w.pages->setCurrentIndex(0);
    QCOMPARE(w.cell(w.data, 0, 1), QStringLiteral("Pear"));
    QVERIFY(w.dialogs.informed.isEmpty());
    QVERIFY(w.dialogs.errors.isEmpty());
}

void TestMainForm::unsavedWorkIsAskedAboutAndSaved()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto w = std::make_unique<Window>();
    QVERIFY(w->complete());
    QVERIFY(QTest::qWaitForWindowActive(w->form.get()));
    QCOMPARE(shownTitle(w->form.get()), QStringLiteral("Torvane"));

    // A typed value marks the work unsaved; Ctrl+S on the data page asks for a name and writes the value.
    w->defineField(QStringLiteral("ID"), QStringLiteral("i4"), QString(), QString());
    QCOMPARE(shownTitle(w->form.get()), QStringLiteral("Torvane*"));
    w->clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w->focus()));
    QTest::keyClicks(w->focus(), QStringLiteral("42"));
    const QString orders = dir.filePath(QStringLiteral("orders.xml"));
    w->dialogs.fileNames = {orders};
    QTest::keyClick(w->focus(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(w->dialogs.saveInitialNames, QStringList{QString()});
    QVERIFY(fileBytes(orders).contains("<ROW ID=\"42\"/>"));
    QCOMPARE(shownTitle(w->form.get()), QStringLiteral("orders.xml - Torvane"));
    QCOMPARE(w->pages->currentIndex(), 0);

    // A key selection and an LCID edit reach the file; Ctrl+S now writes to orders.xml without a dialog.
    QTest::mouseClick(w->priKey, Qt::LeftButton);
    w->clickItem(w->priList, 0);
    auto* lcid = w->form->findChild<QLineEdit*>(QStringLiteral("Ed_LCID"));
    Window::retype(lcid, QStringLiteral("1041"));
    QCOMPARE(shownTitle(w->form.get()), QStringLiteral("orders.xml* - Torvane"));
    QTest::keyClick(lcid, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(w->dialogs.saveInitialNames.size(), 1);
    QVERIFY(fileBytes(orders).contains(R"(<PARAMS DEFAULT_ORDER="" PRIMARY_KEY="1" LCID="1041"/>)"));
    QCOMPARE(shownTitle(w->form.get()), QStringLiteral("orders.xml - Torvane"));

    // Without unsaved work nothing is asked: Ctrl+O goes straight to the open dialog.
    w->dialogs.fileNames = {std::nullopt};
    QTest::keyClick(lcid, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(w->dialogs.openInitialNames.size(), 1);
    QVERIFY(w->dialogs.saveQuestions.isEmpty());

    // With unsaved work a load asks first; キャンセル keeps everything and shows no open dialog.
    Window::retype(lcid, QStringLiteral("2057"));
    w->dialogs.saveAnswers = {TSaveAnswer::Cancel};
    QTest::keyClick(lcid, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(w->dialogs.saveQuestions, QStringList{orders});
    QCOMPARE(w->dialogs.openInitialNames.size(), 1);

    // Closing asks too: キャンセル keeps the window and the work; 保存しない closes without writing.
    w->dialogs.saveAnswers = {TSaveAnswer::Cancel};
    QTest::keyClick(lcid, Qt::Key_W, Qt::ControlModifier);
    QVERIFY(w->form->isVisible());
    QCOMPARE(lcid->text(), QStringLiteral("2057"));
    w->dialogs.saveAnswers = {TSaveAnswer::Discard};
    QTest::keyClick(lcid, Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(w->dialogs.saveQuestions.size(), 3);
    QVERIFY(!w->form->isVisible());
    QVERIFY(fileBytes(orders).contains("LCID=\"1041\""));

    // 保存する saves as Ctrl+S does before the close goes on.
    w = std::make_unique<Window>();
    QVERIFY(QTest::qWaitForWindowActive(w->form.get()));
    w->defineField(QStringLiteral("ID"), QStringLiteral("i4"), QString(), QString());
    const QString fresh = dir.filePath(QStringLiteral("fresh.xml"));
    w->dialogs.saveAnswers = {TSaveAnswer::Save};
    w->dialogs.fileNames = {fresh};
    QVERIFY(w->form->close());
    QCOMPARE(w->dialogs.saveQuestions, QStringList{QString()});
    QVERIFY(fileBytes(fresh).contains(R"(<FIELD attrname="ID" fieldtype="i4"/>)"));
    // A save that fails keeps the window open.
    w->form->show();
    Window::retype(w->form->findChild<QLineEdit*>(QStringLiteral("Ed_LCID")), QStringLiteral("1041"));
    QVERIFY(w->form->isWindowModified());
    w->dialogs.saveAnswers = {TSaveAnswer::Save};
    QVERIFY(QFile::remove(fresh));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("fresh.xml")));
    QVERIFY(!w->form->close());
    QVERIFY(w->form->isVisible());
    QCOMPARE(w->dialogs.errors.size(), 1);
}

// A field name or value that XML does not allow: the field editor takes it and Ctrl+S writes the packet as
// shown, but only after the question says what is wrong and where, and the user answers 保存する.
void TestMainForm::notWellFormedPacketIsSavedOnlyWhenAsked_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("where");

    const auto row = [](const char* tag, const QString& field, const QString& value, bool answer, const char* where) {
        QTest::newRow(tag) << field << value << answer << QString::fromUtf8(where);
    };
    row("well-formed", QStringLiteral("NAME"), QStringLiteral("x"), false, "");
    row("space, cancelled", QStringLiteral("A B"), QStringLiteral("x"), false,
        "11 行 15 列: 属性名「A」の後に = がありません (データ 1 行目、フィールド「A B」)");
    row("space, saved", QStringLiteral("A B"), QStringLiteral("x"), true, "11 行 15 列");
    row("leading digit", QStringLiteral("1A"), QStringLiteral("x"), true,
        "11 行 13 列: 属性名に使えない文字「1」(U+0031) があります (データ 1 行目、フィールド「1A」)");
    row("full-width space", QStringLiteral("A\u3000B"), QStringLiteral("x"), false,
        "11 行 14 列: 属性名「A」の後に = がありません (データ 1 行目、フィールド「A\u3000B」)");
    row("quote", QStringLiteral("A\"B"), QString(), false,
        "6 行 20 列: 属性の前に空白がありません (フィールド「A\"B」)");
    row("control character", QStringLiteral("MEMO"), QStringLiteral("a\x1b"), true,
        "11 行 20 列: XML では使えない文字 U+001B があります (データ 1 行目、フィールド「MEMO」)");
}

void TestMainForm::notWellFormedPacketIsSavedOnlyWhenAsked()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(bool, answer);
    QFETCH(QString, where);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.defineField(QStringLiteral("ID"), QStringLiteral("i4"), QString(), QString());
    w.defineField(field, QStringLiteral("st"), QString(), QString());
    QCOMPARE(w.header(w.data, 1), field);
    QApplication::clipboard()->setText(QStringLiteral("1\t") + value + u'\n');
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(w.cell(w.data, 0, 1), value);

    const QString name = dir.filePath(QStringLiteral("packet.xml"));
    w.dialogs.fileNames = {name};
    w.dialogs.notWellFormedAnswers = {answer};
    press(w, Qt::Key_S, Qt::ControlModifier);
    if (where.isEmpty()) {
        QVERIFY(w.dialogs.notWellFormedQuestions.isEmpty());
    } else {
        QCOMPARE(w.dialogs.notWellFormedQuestions.size(), 1);
        const QString question = w.dialogs.notWellFormedQuestions.constFirst();
        QVERIFY2(question.startsWith(QStringLiteral("このパケットは整形式の XML ではありません。")),
                 qPrintable(question));
        QVERIFY2(question.contains(QStringLiteral("\n\n") + where), qPrintable(question));
        QVERIFY(question.endsWith(QStringLiteral("このまま保存しますか？")));
    }
    // Saved, the file holds the text as shown, name and value unchanged; cancelled, there is no file and the
    // work stays unsaved.
    const bool saved = where.isEmpty() || answer;
    QCOMPARE(QFileInfo::exists(name), saved);
    QCOMPARE(w.dialogs.saveInitialNames.size(), saved ? 1 : 0);
    QCOMPARE(shownTitle(w.form.get()), saved ? QStringLiteral("packet.xml - Torvane") : QStringLiteral("Torvane*"));
    if (saved) {
        QStringEncoder cp932("windows-31j");
        QCOMPARE(fileBytes(name), cp932.encode(w.xmlText()));
    }
}

// A name chosen in a save dialog that another file holds: はい replaces it, いいえ opens the dialog again on
// that name (where a cancel or another name follows); Ctrl+S onto the file that is open asks nothing.
void TestMainForm::saveAsAsksBeforeReplacing_data()
{
    QTest::addColumn<QString>("road");
    QTest::addColumn<QStringList>("names"); // the save dialog's answers: "taken", "other", "" for cancel
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<int>("questions");
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<bool>("otherWritten");

    const QStringList taken{QStringLiteral("taken")};
    QTest::newRow("Ctrl+Shift+S, はい") << "saveAs" << taken << QList<bool>{true} << 1 << true << false;
    QTest::newRow("Ctrl+Shift+S, いいえ, cancel")
        << "saveAs" << QStringList{QStringLiteral("taken"), QString()} << QList<bool>{false} << 1 << false << false;
    QTest::newRow("Ctrl+Shift+S, いいえ, another name")
        << "saveAs" << QStringList{QStringLiteral("taken"), QStringLiteral("other")} << QList<bool>{false} << 1 << false
        << true;
    QTest::newRow("XML page's 保存, はい") << "button" << taken << QList<bool>{true} << 1 << true << false;
    QTest::newRow("XML page's 保存, いいえ, cancel")
        << "button" << QStringList{QStringLiteral("taken"), QString()} << QList<bool>{false} << 1 << false << false;
    QTest::newRow("CSV export, はい") << "csv" << taken << QList<bool>{true} << 1 << true << false;
    QTest::newRow("CSV export, いいえ, another name")
        << "csv" << QStringList{QStringLiteral("taken"), QStringLiteral("other")} << QList<bool>{false} << 1 << false
        << true;
    QTest::newRow("Ctrl+S, the open file") << "save" << QStringList() << QList<bool>() << 0 << true << false;
}

void TestMainForm::saveAsAsksBeforeReplacing()
{
    QFETCH(QString, road);
    QFETCH(QStringList, names);
    QFETCH(QList<bool>, answers);
    QFETCH(int, questions);
    QFETCH(bool, replaced);
    QFETCH(bool, otherWritten);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString taken = dir.filePath(QStringLiteral("taken.xml"));
    const QString other = dir.filePath(QStringLiteral("other.xml"));
    const QByteArray before = "<?xml version=\"1.0\"?>\r\n<DATAPACKET Version=\"2.0\"><!-- old --></DATAPACKET>\r\n";
    {
        QFile file(taken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(before), before.size());
    }
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    if (road == QLatin1String("save")) {
        QVERIFY(w.form->openFile(taken));
    }
    w.defineField(QStringLiteral("ID"), QStringLiteral("i4"), QString(), QString());
    for (const QString& name : names) {
        w.dialogs.fileNames.push_back(name.isEmpty() ? std::nullopt
                                                     : std::optional<QString>(dir.filePath(name + ".xml")));
    }
    w.dialogs.replaceAnswers.assign(answers.begin(), answers.end());

    if (road == QLatin1String("saveAs") || road == QLatin1String("save")) {
        w.name->setFocus();
        const Qt::KeyboardModifiers shift = road == QLatin1String("saveAs") ? Qt::ShiftModifier : Qt::NoModifier;
        QTest::keyClick(w.name, Qt::Key_S, Qt::ControlModifier | shift);
    } else if (road == QLatin1String("button")) {
        w.pages->setCurrentIndex(1);
        QTest::mouseClick(w.form->findChild<QPushButton*>(QStringLiteral("B_XmlSave")), Qt::LeftButton);
    } else {
        bool triggered = false;
        for (QAction* action : w.data->actions()) {
            if (action->text() == QStringLiteral("CSVに書き出す…")) {
                action->trigger();
                triggered = true;
            }
        }
        QVERIFY(triggered);
    }

    QCOMPARE(w.dialogs.replaceQuestions, QStringList(questions, taken));
    // Every name the dialog gave was used up, and after いいえ the dialog came back on the name refused.
    QVERIFY(w.dialogs.fileNames.empty());
    QCOMPARE(w.dialogs.saveInitialNames.size(), names.size());
    if (names.size() > 1) {
        QCOMPARE(w.dialogs.saveInitialNames[1], taken);
    }
    const QByteArray now = fileBytes(taken);
    QCOMPARE(now != before, replaced);
    if (replaced) {
        QVERIFY(road == QLatin1String("csv") ? now.startsWith("\xEF\xBB\xBFID\r\n")
                                             : now.contains(R"(<FIELD attrname="ID" fieldtype="i4"/>)"));
    }
    QCOMPARE(QFileInfo::exists(other), otherWritten);
}

void TestMainForm::failedReadsAndOtherProgramsChangesLoseNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString orders = dir.filePath(QStringLiteral("orders.xml"));
    QVERIFY(QFile::copy(QStringLiteral(TORVANE_TEST_DATA "/example.xml"), orders));
    const QByteArray original = fileBytes(orders);
    Window w;
    QVERIFY(w.complete());
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QVERIFY(w.form->openFile(orders));

    // A read error (as from a failing disk) and a file that never ends are reported, and the window keeps
    // the file it had: Ctrl+S writes that one, not an empty packet over it.
    for (const QString& odd : {QStringLiteral("/proc/self/mem"), QStringLiteral("/proc/self/pagemap")}) {
        const qsizetype errors = w.dialogs.errors.size();
        QVERIFY(!w.form->openFile(odd));
        QCOMPARE(w.dialogs.errors.size(), errors + 1);
        QVERIFY2(w.dialogs.errors.last().startsWith(QStringLiteral("ファイル %1 ").arg(odd)),
                 qPrintable(w.dialogs.errors.last()));
        QCOMPARE(shownTitle(w.form.get()), QStringLiteral("orders.xml - Torvane"));
        QCOMPARE(w.cell(w.data, 0, 1), QStringLiteral("Apple"));
        QTest::keyClick(w.data, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(fileBytes(orders), original);
    }
    QVERIFY(w.dialogs.overwriteQuestions.isEmpty());

    // Another program adds to the file meanwhile: Ctrl+S asks, naming the time of that change, and
    // キャンセル keeps the other program's bytes and the unsaved work.
    {
        QFile file(orders);
        QVERIFY(file.open(QIODevice::Append));
        file.write("<!-- other -->\r\n");
    }
    const QDateTime changed = QFileInfo(orders).lastModified();
    auto* lcid = w.form->findChild<QLineEdit*>(QStringLiteral("Ed_LCID"));
    Window::retype(lcid, QStringLiteral("1041"));
    QTest::keyClick(lcid, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(w.dialogs.overwriteQuestions, QStringList{orders});
    QCOMPARE(w.dialogs.overwriteTimes.last().toSecsSinceEpoch(), changed.toSecsSinceEpoch());
    QCOMPARE(fileBytes(orders), original + "<!-- other -->\r\n");
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("orders.xml* - Torvane"));
    // 上書きする writes the work; the next Ctrl+S finds the file as saved and asks nothing.
    w.dialogs.overwriteAnswers = {true};
    QTest::keyClick(lcid, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(fileBytes(orders).contains("LCID=\"1041\""));
    QVERIFY(!fileBytes(orders).contains("other"));
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("orders.xml - Torvane"));
    QTest::keyClick(lcid, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(w.dialogs.overwriteQuestions.size(), 2);

    // Another program writes it over in place with as many bytes and sets its time back: Ctrl+S asks all
    // the same. (Setting the time moves the entry's change time once the clock has gone on since the save.)
    const TFileStamp saved = fileStampOf(orders);
    const QByteArray other = fileBytes(orders).replace("LCID=\"1041\"", "LCID=\"1042\"");
    {
        QFile file(orders);
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.write(other);
    }
    const timespec times[2] = {{0, UTIME_OMIT}, {saved.modified / 1000000000, saved.modified % 1000000000}};
    QTRY_VERIFY(::utimensat(AT_FDCWD, QFile::encodeName(orders).constData(), times, 0) == 0 &&
                fileStampOf(orders).statusChanged != saved.statusChanged);
    QCOMPARE(fileStampOf(orders).modified, saved.modified);
    QTest::keyClick(lcid, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(w.dialogs.overwriteQuestions.size(), 3);
    QCOMPARE(fileBytes(orders), other);
}

namespace {

// A packet of one string field NAME and one row, written as the program writes it, with `declaration`'s
// attributes after the version and `breaks` between lines.
QString onePacket(const QString& value, const QString& declaration = QString(), const QString& breaks = "\r\n")
{
    return QStringLiteral(
               "<?xml version=\"1.0\"%1 standalone=\"yes\"?>\r\n<DATAPACKET Version=\"2.0\">\r\n<METADATA>\r\n"
               "<FIELDS>\r\n<FIELD attrname=\"NAME\" fieldtype=\"string\" WIDTH=\"20\"/>\r\n</FIELDS>\r\n"
               "<PARAMS/>\r\n</METADATA>\r\n<ROWDATA>\r\n<ROW NAME=\"%2\"/>\r\n</ROWDATA>\r\n</DATAPACKET>\r\n")
        .arg(declaration, value)
        .replace(QStringLiteral("\r\n"), breaks);
}

QByteArray encoded(const QString& text, const char* encoding)
{
    QStringEncoder encoder(encoding);
    return encoder.encode(text);
}

} // namespace

void TestMainForm::ctrlSKeepsTheFileAsLoaded_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QByteArray>("edited");

    const QString tokyo = QString::fromUtf8("東京ﾃｽﾄ");
    QTest::newRow("UTF-8 with BOM and LF") << QByteArray("\xEF\xBB\xBF") + onePacket(tokyo, QString(), "\n").toUtf8()
                                           << tokyo << QString() << QString() << QByteArray();
    QTest::newRow("UTF-16LE with BOM") << encoded(onePacket(tokyo), "UTF-16LE").prepend("\xFF\xFE") << tokyo
                                       << QString() << QString() << QByteArray();
    QTest::newRow("UTF-16BE without BOM")
        << encoded(onePacket(tokyo), "UTF-16BE") << tokyo << QString() << QString() << QByteArray();
    QTest::newRow("ISO-8859-1 declared") << encoded(
                                                onePacket(QString::fromUtf8("Séverine"), " encoding=\"ISO-8859-1\""),
                                                "ISO-8859-1")
                                         << QString::fromUtf8("Séverine") << QString() << QString() << QByteArray();
    // The declaration edited by hand from Shift_JIS to UTF-8: Ctrl+S writes UTF-8.
    const QString sjis = onePacket(tokyo, " encoding=\"Shift_JIS\"");
    QTest::newRow("Shift_JIS, then declared UTF-8 by hand")
        << encoded(sjis, "Shift_JIS") << tokyo << "Shift_JIS"
        << "UTF-8" << QString(sjis).replace("Shift_JIS", "UTF-8").toUtf8();
}

void TestMainForm::ctrlSKeepsTheFileAsLoaded()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, value);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QByteArray, edited);

    QTemporaryDir dir;
    Window w;
    const QString file = openedFile(w, dir, "packet.xml", bytes);
    QVERIFY(!file.isEmpty());
    QCOMPARE(w.cell(w.data, 0, 0), value);
    // Ctrl+S with no edit writes the file anew (another inode), byte for byte as it was.
    const quint64 inode = fileStampOf(file).inode;
    QTest::keyClick(w.data, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(w.dialogs.errors.isEmpty());
    QVERIFY(w.dialogs.notWellFormedQuestions.isEmpty());
    QVERIFY(fileStampOf(file).inode != inode);
    QCOMPARE(fileBytes(file), bytes);
    if (from.isEmpty()) {
        // A new packet is CP932 with CR LF again, whatever the file before it was.
        QVERIFY(w.form->newWorkspace());
        w.form->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
        auto* xml = w.form->findChild<TTextView*>(QStringLiteral("Te_Xml"));
        xml->setFocus();
        typeText(xml, QString::fromUtf8("<A V=\"ｱ\">"));
        QTest::keyClick(xml, Qt::Key_Return);
        typeText(xml, QStringLiteral("</A>"));
        const QString fresh = dir.filePath(QStringLiteral("new.xml"));
        w.dialogs.fileNames = {fresh};
        QVERIFY(w.form->saveDocument());
        QCOMPARE(fileBytes(fresh), QByteArray("<A V=\"\xB1\">\r\n</A>"));
        return;
    }
    w.pages->setCurrentIndex(1);
    QVERIFY(w.xml->find(from, false, Qt::CaseSensitive, false));
    w.xml->setFocus();
    QTest::keyClicks(w.xml, to);
    QTest::keyClick(w.xml, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(w.dialogs.errors.isEmpty());
    QCOMPARE(fileBytes(file), edited);
}

void TestMainForm::buttonsThatChangeNothingKeepTheFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("clicks");

    // Shapes the writer would not give back: one long line, a comment, a reference it would write as a
    // character, and pending changes it would merge away.
    const QByteArray changeLog = dataBytes("library/change-log.xml")
                                     .replace("?><DATAPACKET", "?><!-- kept --><DATAPACKET")
                                     .replace("\"Apple\"", "\"Apple&apos;s\"");
    QTest::newRow("key list opened and closed") << changeLog << "B_PriKey" << 2;
    QTest::newRow("refused field 新規追加") << dataBytes("library/one-line.xml") << "B_FieldAdd" << 1;
    QTest::newRow("refused field 変更") << changeLog << "B_FieldSet" << 1;
    // A packet without records shows one blank record, which 新規追加 keeps as the last one.
    QTest::newRow("新規追加 on the blank last record")
        << QByteArray("<?xml version=\"1.0\"?><!-- none yet --><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
                      "<FIELD attrname=\"ID\" fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA><ROWDATA/>"
                      "</DATAPACKET>\n")
        << "B_DataAdd" << 1;
    QTest::newRow("a typed value") << changeLog << QString() << 0;
}

void TestMainForm::buttonsThatChangeNothingKeepTheFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, button);
    QFETCH(int, clicks);

    QTemporaryDir dir;
    Window w;
    const QString file = openedFile(w, dir, "packet.xml", bytes);
    QVERIFY(!file.isEmpty());
    if (button.isEmpty()) {
        // A real edit is written by the writer, as the XML page shows it.
        w.clickCell(0, 1);
        QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
        QTest::keyClicks(w.focus(), QStringLiteral("9"));
        press(w, Qt::Key_Return);
        press(w, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(fileBytes(file) != bytes);
        w.pages->setCurrentIndex(1);
        QCOMPARE(fileBytes(file), w.xmlText().toLatin1());
        return;
    }
    for (int i = 0; i < clicks; ++i) {
        QTest::mouseClick(w.form->findChild<QPushButton*>(button), Qt::LeftButton);
    }
    QVERIFY(!w.form->document().isModified());
    QVERIFY(w.form->saveDocument());
    QCOMPARE(fileBytes(file), bytes);
    // Showing the XML page writes the packet afresh; the file's text is still what a save of the unchanged
    // work writes, under another name too.
    w.pages->setCurrentIndex(1);
    QVERIFY(w.xmlText().toUtf8() != bytes);
    const QString copy = dir.filePath(QStringLiteral("copy.xml"));
    w.dialogs.fileNames = {copy};
    QTest::keyClick(w.xml, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(fileBytes(copy), bytes);
    QVERIFY(w.dialogs.errors.isEmpty());
}

void TestMainForm::textWithoutPacketIsToldAndKept_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("pom.xml") << QByteArray("<?xml version=\"1.0\"?>\n<project><modelVersion>4.0.0</modelVersion>"
                                           "</project>\n");
    QTest::newRow("web page") << QByteArray("<!DOCTYPE html>\r\n<html><body><p>DATA</p></body></html>\r\n");
    QTest::newRow("empty") << QByteArray();
    // The start of an ELF file: NUL bytes among the rest.
    QTest::newRow("binary") << QByteArray::fromHex("7f454c4602010100000000000000000003003e00");
}

void TestMainForm::textWithoutPacketIsToldAndKept()
{
    QFETCH(QByteArray, bytes);

    QTemporaryDir dir;
    Window w;
    const QString file = openedFile(w, dir, "other.xml", bytes);
    QVERIFY(!file.isEmpty());
    QCOMPARE(w.dialogs.informed,
             QStringList{QString::fromUtf8(
                 "ファイル「other.xml」はデータパケットではありません（DATAPACKET 要素がありません）。"
                 "テキストは XML ページに表示しています")});
    QCOMPARE(w.xmlText().toLatin1(), QByteArray(bytes).replace("\r\n", "\n").replace("\n", "\r\n"));
    // Saved unchanged, it stays as it is; replaced by a packet only when the user says so (キャンセル first).
    QVERIFY(w.form->saveDocument());
    QCOMPARE(fileBytes(file), bytes);
    w.defineField(QStringLiteral("ID"), QStringLiteral("i4"), QString(), QString());
    QVERIFY(!w.form->saveDocument());
    QCOMPARE(fileBytes(file), bytes);
    w.dialogs.notPacketAnswers = {true};
    QVERIFY(w.form->saveDocument());
    QCOMPARE(w.dialogs.notPacketQuestions, QStringList({file, file}));
    QVERIFY(fileBytes(file).contains("<FIELD attrname=\"ID\" fieldtype=\"i4\"/>"));
    QVERIFY(w.dialogs.errors.isEmpty());
}

void TestMainForm::unreadableBytesAskedBeforeTheLoad_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("saved");

    // A windows-1252 file without declaration reads as CP932: "é" before a quote is a lead byte alone.
    QTest::newRow("windows-1252 without declaration")
        << onePacket(QStringLiteral("Caf\xE9")).toLatin1()
        << QString::fromUtf8("Shift_JIS (CP932) として読めないバイトが 1 か所あります（最初は 10 行目）")
        << QString::fromUtf8("Caf\uFFFD")
        << QString::fromUtf8("10 行目の文字「\uFFFD」(U+FFFD) は Shift_JIS (CP932) で表せないため、保存できません");
    // Declared UTF-8: read as UTF-8 however bad one byte is, never as CP932 (東京都 would be 譚ｱ莠ｬ驛ｽ).
    QTest::newRow("UTF-8 declared, one bad byte")
        << onePacket(QString::fromUtf8("東京都\xEF\xBF\xBD"), " encoding=\"UTF-8\"")
               .toUtf8()
               .replace("\xEF\xBF\xBD", "\xFF")
        << QString::fromUtf8("UTF-8 として読めないバイトが 1 か所あります（最初は 10 行目）")
        << QString::fromUtf8("東京都\uFFFD") << QString();
}

void TestMainForm::unreadableBytesAskedBeforeTheLoad()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, question);
    QFETCH(QString, value);
    QFETCH(QString, saved);

    QTemporaryDir dir;
    const QString orders = dir.filePath(QStringLiteral("orders.xml"));
    QVERIFY(QFile::copy(QStringLiteral(TORVANE_TEST_DATA "/example.xml"), orders));
    const QByteArray original = fileBytes(orders);
    const QString odd = dir.filePath(QStringLiteral("odd.xml"));
    {
        QFile out(odd);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QVERIFY(w.form->openFile(orders));

    // 読み込まない, the default: the work and the current file stay; Ctrl+S writes that file.
    QVERIFY(!w.form->openFile(odd));
    QCOMPARE(w.dialogs.undecodableQuestions.size(), 1);
    QVERIFY2(w.dialogs.undecodableQuestions[0].contains(question), qPrintable(w.dialogs.undecodableQuestions[0]));
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("orders.xml - Torvane"));
    QCOMPARE(w.cell(w.data, 0, 1), QStringLiteral("Apple"));
    QTest::keyClick(w.data, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(fileBytes(orders), original);
    QCOMPARE(fileBytes(odd), bytes);

    // 読み込む: the text with U+FFFD where bytes could not be read. A save in CP932 refuses that character
    // as any other; one in UTF-8 writes it.
    w.dialogs.undecodableAnswers = {true};
    QVERIFY(w.form->openFile(odd));
    QCOMPARE(w.dialogs.undecodableQuestions.size(), 2);
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("odd.xml - Torvane"));
    QCOMPARE(w.cell(w.data, 0, 0), value);
    QTest::keyClick(w.data, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(w.dialogs.errors, saved.isEmpty() ? QStringList() : QStringList{saved});
    QCOMPARE(fileBytes(odd), saved.isEmpty() ? QByteArray(bytes).replace("\xFF", "\xEF\xBF\xBD") : bytes);
}

void TestMainForm::wideAndFaultyPacketsShowAtOnce()
{
    // A packet of `count` fields, every one of the given name (numbered, all as wide, when empty).
    const auto packet = [](int count, const char* name) {
        QByteArray text = "<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<DATAPACKET Version=\"2.0\">\r\n"
                          "<METADATA>\r\n<FIELDS>\r\n";
        for (int i = 0; i < count; ++i) {
            const QByteArray field = *name ? QByteArray(name) : "F" + QByteArray::number(i).rightJustified(6, '0');
            text += "<FIELD attrname=\"" + field +
                    (i % 2 ? "\" fieldtype=\"string\" WIDTH=\"20\"/>\r\n" : "\" fieldtype=\"i4\"/>\r\n");
        }
        return text + "</FIELDS>\r\n</METADATA>\r\n<ROWDATA>\r\n</ROWDATA>\r\n</DATAPACKET>\r\n";
    };
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString wide = dir.filePath(QStringLiteral("wide.xml"));
    const QString same = dir.filePath(QStringLiteral("same.xml"));
    for (const auto& [path, text] : {std::pair{wide, packet(200000, "")}, std::pair{same, packet(10000, "SAME")}}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(text), text.size());
    }
    Window w;
    QVERIFY(w.complete());

    // 200,000 columns get their widths in one pass: the header tells of no column one by one (each such
    // width used to work out every column's position again).
    QSignalSpy resized(w.data->horizontalHeader(), &QHeaderView::sectionResized);
    QVERIFY(w.form->openFile(wide));
    QCOMPARE(w.data->model()->columnCount(), 200000);
    QVERIFY2(resized.count() < 10, qPrintable(QString::number(resized.count())));
    QCOMPARE(w.data->columnWidth(1), 160);
    QCOMPARE(w.data->columnWidth(199999), 160);
    QCOMPARE(w.data->columnWidth(199998), w.data->columnWidth(0));
    QCOMPARE(w.data->columnViewportPosition(199999) - w.data->columnViewportPosition(0),
             100000 * w.data->columnWidth(0) + 99999 * 160);
    QVERIFY(w.dialogs.informed.isEmpty());

    // 10,000 fields of one name: a few boxes, then one that lists the rest with their count.
    QVERIFY(w.form->openFile(same));
    const QString taken = QStringLiteral("フィールド名が既にあるか不正な名前です");
    QCOMPARE(w.dialogs.informed.size(), 4);
    QCOMPARE(w.dialogs.informed.mid(0, 3), QStringList(3, taken));
    QVERIFY2(
        w.dialogs.informed[3].startsWith(QStringLiteral("このほかに次の 9996 件のメッセージがあります。\n\n") + taken),
        qPrintable(w.dialogs.informed[3]));
    QVERIFY(w.dialogs.informed[3].endsWith(QStringLiteral("…（ほか 9976 件）")));
    QCOMPARE(w.dialogs.informed[3].count(taken), 20);
    QCOMPARE(w.data->model()->columnCount(), 1);
}

void TestMainForm::unsavedMarkFollowsRealChangesOnly()
{
    QTemporaryDir dir;
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    const QString title = QStringLiteral("Torvane");
    // Buttons that change nothing: 主キー選択 on an empty workspace, a refused 新規追加.
    QTest::mouseClick(w.priKey, Qt::LeftButton);
    QCOMPARE(w.dialogs.informed.size(), 1);
    QTest::mouseClick(w.fieldAdd, Qt::LeftButton);
    QCOMPARE(w.dialogs.informed.size(), 2);
    QCOMPARE(shownTitle(w.form.get()), title);
    w.dialogs.fileNames = {std::nullopt};
    QTest::keyClick(w.focus(), Qt::Key_O, Qt::ControlModifier);
    QVERIFY(w.dialogs.saveQuestions.isEmpty());

    w.defineField(QStringLiteral("ID"), QStringLiteral("st"), QString(), QString());
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("Torvane*"));
    const QString saved = dir.filePath(QStringLiteral("a.xml"));
    w.dialogs.fileNames = {saved};
    QTest::keyClick(w.focus(), Qt::Key_S, Qt::ControlModifier);
    const QString clean = QStringLiteral("a.xml - Torvane");
    QCOMPARE(shownTitle(w.form.get()), clean);
    // A key list opened and closed, 新規追加 on the blank last record.
    QTest::mouseClick(w.priKey, Qt::LeftButton);
    QVERIFY(w.priList->isVisible());
    QTest::mouseClick(w.priKey, Qt::LeftButton);
    QTest::mouseClick(w.dataAdd, Qt::LeftButton);
    QCOMPARE(w.data->model()->rowCount(), 1);
    QCOMPARE(shownTitle(w.form.get()), clean);
    // A key chosen and unchosen again is no change either.
    QTest::mouseClick(w.priKey, Qt::LeftButton);
    w.clickItem(w.priList, 0);
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("a.xml* - Torvane"));
    QTest::mouseClick(w.priList->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      w.priList->visualItemRect(w.priList->item(0)).center());
    QTest::mouseClick(w.priKey, Qt::LeftButton);
    QCOMPARE(shownTitle(w.form.get()), clean);

    // A typed value undone is back to the saved state.
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    QTest::keyClicks(w.focus(), QStringLiteral("7"));
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("a.xml* - Torvane"));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.cell(w.data, 0, 0), QString());
    QCOMPARE(shownTitle(w.form.get()), clean);

    // A hand edit of the XML text undone: no mark, and the data page is not read again, so its undo history
    // stays.
    QTest::keyClicks(w.focus(), QStringLiteral("8"));
    w.pages->setCurrentIndex(1);
    w.xml->setFocus();
    QTest::keyClick(w.xml, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(w.xml, QStringLiteral("<!-- x -->"));
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("a.xml* - Torvane"));
    for (int i = 0; i < 10 && w.xml->isModified(); ++i) {
        QTest::keyClick(w.xml, Qt::Key_Z, Qt::ControlModifier);
    }
    QVERIFY(!w.xml->isModified());
    w.pages->setCurrentIndex(0);
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.cell(w.data, 0, 0), QString());
    QCOMPARE(shownTitle(w.form.get()), clean);
    // A hand edit the data page read stays unsaved even when its steps are gone.
    w.pages->setCurrentIndex(1);
    QTest::keyClicks(w.xml, QStringLiteral(" "));
    w.pages->setCurrentIndex(0);
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("a.xml* - Torvane"));
}

void TestMainForm::filesArriveByCommandLineAndDrop()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString example = QStringLiteral(TORVANE_TEST_DATA "/example.xml");
    Window w;
    QVERIFY(w.complete());
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));

    // A file named on the command line loads and the data page shows it read.
    QVERIFY(w.form->openFile(example));
    QCOMPARE(w.pages->currentIndex(), 0);
    QCOMPARE(w.header(w.data, 1), QStringLiteral("NAME"));
    QCOMPARE(w.cell(w.data, 0, 1), QStringLiteral("Apple"));
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("example.xml - Torvane"));

    // A file dropped on the XML view loads it (rather than putting its address into the text) and the
    // data page reads it; dropped text elsewhere changes nothing.
    const QString other = dir.filePath(QStringLiteral("other.xml"));
    QVERIFY(QFile::copy(example, other));
    {
        QFile file(other);
        QVERIFY(file.open(QIODevice::Append));
        file.write("<!-- other -->\r\n");
    }
    w.pages->setCurrentIndex(1);
    const auto dropOn = [](QWidget* target, QMimeData* mime) {
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        return enter.isAccepted();
    };
    QMimeData text;
    text.setText(QStringLiteral("dropped"));
    QVERIFY(!dropOn(w.name, &text));
    QCOMPARE(w.name->text(), QString());
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(other)});
    QVERIFY(dropOn(w.xml->viewport(), &files));
    QTRY_COMPARE(w.pages->currentIndex(), 0);
    QVERIFY(w.xmlText().endsWith(QStringLiteral("<!-- other -->\r\n")));
    QVERIFY(!w.xmlText().contains(QStringLiteral("file:")));
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("other.xml - Torvane"));

    // Text dropped on the XML view goes into the text, as a hand edit.
    w.pages->setCurrentIndex(1);
    QVERIFY(dropOn(w.xml->viewport(), &text));
    QVERIFY(w.xmlText().contains(QStringLiteral("dropped")));
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("other.xml* - Torvane"));

    // Shift+Enter in the XML view breaks the line for real.
    w.xml->setFocus();
    QTest::keyClick(w.xml, Qt::Key_End, Qt::ControlModifier);
    typeText(w.xml, QStringLiteral("<!-- a"));
    QTest::keyClick(w.xml, Qt::Key_Return, Qt::ShiftModifier);
    typeText(w.xml, QStringLiteral("b -->"));
    QVERIFY(w.xmlText().endsWith(QStringLiteral("<!-- a\r\nb -->")));
    QVERIFY(!w.xml->toPlainText().contains(QChar(0x2028)));

    // The window's keys work from inside the view: Ctrl+S saves the text as shown (the dropped word broke
    // the XML, which the save asks about: 保存する), Ctrl+Tab turns the page.
    w.dialogs.notWellFormedAnswers = {true};
    QTest::keyClick(w.xml, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(w.dialogs.notWellFormedQuestions.size(), 1);
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("other.xml - Torvane"));
    QVERIFY(fileBytes(other).endsWith("<!-- a\r\nb -->"));
    QTest::keyClick(w.xml, Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(w.pages->currentIndex(), 2);
}

void TestMainForm::focusStaysWhereTheUserHasIt()
{
    Window w;
    QVERIFY(w.complete());
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    // After an add, and after a refused one, the focus stays in the field editor; Enter presses a button.
    w.defineField(QStringLiteral("F1"), QStringLiteral("st"), QString(), QString());
    QCOMPARE(w.focus(), w.fieldAdd);
    Window::retype(w.name, QStringLiteral("F1"));
    w.fieldAdd->setFocus();
    QTest::keyClick(w.fieldAdd, Qt::Key_Return);
    QCOMPARE(w.dialogs.informed, QStringList{QStringLiteral("フィールド名が既にあるか不正な名前です")});
    QCOMPARE(w.focus(), w.fieldAdd);
    for (int i = 2; i <= 45; ++i) {
        Window::retype(w.name, QStringLiteral("F%1").arg(i));
        QTest::keyClick(w.fieldAdd, Qt::Key_Return);
    }
    QCOMPARE(w.fields->model()->rowCount(), 45);
    QCOMPARE(w.focus(), w.name);
    QTest::keyClicks(w.focus(), QStringLiteral("x"));
    QCOMPARE(w.name->text(), QStringLiteral("F45x"));
    QCOMPARE(w.cell(w.data, 0, 0), QString());

    // A splitter drag gives the focus back.
    w.name->setFocus();
    auto* splitter = w.form->findChild<QWidget*>(QStringLiteral("Splitter1"));
    const QPoint grip(splitter->width() / 2, 4);
    QTest::mousePress(splitter, Qt::LeftButton, {}, grip);
    QTest::mouseMove(splitter, grip + QPoint(0, 20));
    QTest::mouseRelease(splitter, Qt::LeftButton, {}, grip + QPoint(0, 20));
    QCOMPARE(w.focus(), w.name);

    // An open key list of 45 names stops at the page's bottom and scrolls.
    QTest::mouseClick(w.priKey, Qt::LeftButton);
    QVERIFY(w.priList->isVisible());
    const int page = w.priList->parentWidget()->height();
    QCOMPARE(w.priList->geometry().bottom(), page - 1);
    QVERIFY(w.priList->verticalScrollBar()->isVisible());
}

namespace {

// The written packet's ROWDATA lines, as the XML page shows them after a visit.
QStringList writtenRows(Window& w)
{
    const int page = w.pages->currentIndex();
    w.pages->setCurrentIndex(1);
    QStringList rows;
    for (const QString& line : w.xmlText().split(QStringLiteral("\r\n"))) {
        if (line.startsWith(QStringLiteral("<ROW ")) || line == QStringLiteral("<ROW/>")) {
            rows.append(line);
        }
    }
    w.pages->setCurrentIndex(page);
    return rows;
}

QString writtenLine(Window& w, const QString& start)
{
    const int page = w.pages->currentIndex();
    w.pages->setCurrentIndex(1);
    const QStringList lines = w.xmlText().split(QStringLiteral("\r\n"));
    w.pages->setCurrentIndex(page);
    for (const QString& line : lines) {
        if (line.startsWith(start)) {
            return line;
        }
    }
    return {};
}

// Keys go to whatever has the focus, as the user's keyboard does; the data table's cell editor mostly.

QStringList columnValues(const Window& w, int column)
{
    QStringList values;
    for (int r = 0; r < w.data->model()->rowCount(); ++r) {
        values.append(w.cell(w.data, r, column));
    }
    return values;
}

} // namespace

void TestMainForm::spreadsheetRangesPastedCopiedAndUndone()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    for (const char* name : {"ID", "NAME", "NOTE"}) {
        w.defineField(QString::fromLatin1(name), QStringLiteral("st"), QString(), QString());
    }
    // A 3 x 2 block as LibreOffice Calc puts it on the clipboard: a tab, a line break and quotes in values.
    QApplication::clipboard()->setText(QStringLiteral("1\t\"東京\t駅\"\t\"say \"\"hi\"\"\"\n"
                                                      "2\t\"一行目\n二行目\"\tx\n"));
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(w.data->model()->rowCount(), 2);
    QCOMPARE(w.cell(w.data, 0, 1), QStringLiteral("東京\t駅"));
    QCOMPARE(w.cell(w.data, 0, 2), QStringLiteral("say \"hi\""));
    QCOMPARE(w.cell(w.data, 1, 1), QStringLiteral("一行目\n二行目"));
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("Torvane*"));
    const QStringList pasted{R"(<ROW ID="1" NAME="東京&#9;駅" NOTE="say &quot;hi&quot;"/>)",
                             R"(<ROW ID="2" NAME="一行目&#10;二行目" NOTE="x"/>)"};
    QCOMPARE(writtenRows(w), pasted);

    // The paste is one step: undone, the table is as before, row count included; redone by either key.
    w.clickCell(0, 0);
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.data->model()->rowCount(), 1);
    QCOMPARE(w.cell(w.data, 0, 1), QString());
    QCOMPARE(writtenRows(w), QStringList{"<ROW/>"});
    w.clickCell(0, 0);
    press(w, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(writtenRows(w), pasted);
    w.clickCell(0, 0);
    press(w, Qt::Key_Z, Qt::ControlModifier);
    press(w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(writtenRows(w), pasted);

    // Typing into a cell is one step per cell, however many keystrokes.
    w.clickCell(1, 2);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_End);
    QTest::keyClicks(w.focus(), QStringLiteral("yz"));
    QCOMPARE(w.cell(w.data, 1, 2), QStringLiteral("xyz"));
    press(w, Qt::Key_Tab);
    QTest::keyClicks(w.focus(), QStringLiteral("3"));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.cell(w.data, 1, 2), QStringLiteral("xyz"));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.cell(w.data, 1, 2), QStringLiteral("x"));
    QCOMPARE(qobject_cast<QLineEdit*>(w.focus())->text(), QStringLiteral("x"));
    // A later visit to the same cell is a step of its own, even with no other step between the two.
    for (const char* typed : {"1", "2"}) {
        w.clickCell(0, 0);
        w.clickCell(1, 2);
        QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
        press(w, Qt::Key_End);
        QTest::keyClicks(w.focus(), QString::fromLatin1(typed));
    }
    QCOMPARE(w.cell(w.data, 1, 2), QStringLiteral("x12"));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.cell(w.data, 1, 2), QStringLiteral("x1"));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.cell(w.data, 1, 2), QStringLiteral("x"));

    // A range copied is tab-separated and quoted; pasted below the last row it adds the rows it needs.
    selectCells(w, 0, 1, 1, 2);
    press(w, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("\"東京\t駅\"\t\"say \"\"hi\"\"\"\n\"一行目\n二行目\"\tx\n"));
    w.clickCell(1, 0);
    press(w, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(w.data->model()->rowCount(), 3);
    QCOMPARE(columnValues(w, 0), (QStringList{"1", "東京\t駅", "一行目\n二行目"}));
    QCOMPARE(columnValues(w, 1), (QStringList{"東京\t駅", "say \"hi\"", "x"}));
    QCOMPARE(w.cell(w.data, 1, 2), QStringLiteral("x"));

    // Delete on a range empties it; Ctrl+X copies and empties; on one cell Delete stays the editor's.
    selectCells(w, 1, 0, 2, 1);
    press(w, Qt::Key_Delete);
    QCOMPARE(columnValues(w, 0), (QStringList{"1", "", ""}));
    QCOMPARE(columnValues(w, 1), (QStringList{"東京\t駅", "", ""}));
    selectCells(w, 0, 0, 0, 1);
    press(w, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("1\t\"東京\t駅\"\n"));
    QCOMPARE(w.cell(w.data, 0, 1), QString());
    w.clickCell(0, 2);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_Home);
    press(w, Qt::Key_Delete);
    QCOMPARE(w.cell(w.data, 0, 2), QStringLiteral("ay \"hi\""));

    // A single value pasted onto a range fills it, one step.
    QApplication::clipboard()->setText(QStringLiteral("z\n"));
    selectCells(w, 1, 1, 2, 2);
    press(w, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(columnValues(w, 2), (QStringList{"ay \"hi\"", "z", "z"}));
    QCOMPARE(columnValues(w, 1), (QStringList{"", "z", "z"}));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(columnValues(w, 2), (QStringList{"ay \"hi\"", "x", ""}));

    // Adding a field empties the undo stack.
    w.defineField(QStringLiteral("EXTRA"), QStringLiteral("st"), QString(), QString());
    w.clickCell(0, 0);
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(columnValues(w, 2), (QStringList{"ay \"hi\"", "x", ""}));
}

void TestMainForm::undoHistoryKeepsNoMoreThanItsMemory()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.defineField(QStringLiteral("NOTE"), QStringLiteral("st"), QString(), QString());
    // Room for one paste's 1,000 replaced values of 100 characters, not for two.
    auto* editing = w.form->findChild<TDataEditing*>();
    QVERIFY(editing);
    editing->setUndoMemory(300 * 1000);
    for (const char c : {'a', 'b', 'c'}) {
        QApplication::clipboard()->setText((QString(100, QChar(u'x')) + QChar(c) + u'\n').repeated(1000));
        w.clickCell(0, 0);
        QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
        press(w, Qt::Key_V, Qt::ControlModifier);
    }
    QCOMPARE(w.cell(w.data, 999, 0).back(), QChar(u'c'));

    // The newest step is undone; the older ones let go of what they kept, and undo stops there.
    for (int i = 0; i < 2; ++i) {
        w.clickCell(0, 0);
        press(w, Qt::Key_Z, Qt::ControlModifier);
    }
    QCOMPARE(w.cell(w.data, 999, 0).back(), QChar(u'b'));
    QCOMPARE(w.data->model()->rowCount(), 1000);
    press(w, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(w.cell(w.data, 999, 0).back(), QChar(u'c'));
}

void TestMainForm::rowsInsertedDuplicatedAndDeleted()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.defineField(QStringLiteral("N"), QStringLiteral("st"), QString(), QString());
    w.defineField(QStringLiteral("M"), QStringLiteral("st"), QString(), QString());
    QApplication::clipboard()->setText(QStringLiteral("1\ta\n2\tb\n3\tc\n"));
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_V, Qt::ControlModifier);
    const QStringList start{"1", "2", "3"};
    QCOMPARE(columnValues(w, 0), start);

    // Ctrl+D duplicates the rows the selection touches below them; Ctrl++ (also as Ctrl+=) inserts an empty
    // row above the current one; Ctrl+- deletes the rows of the selection.
    selectCells(w, 0, 1, 1, 0);
    press(w, Qt::Key_D, Qt::ControlModifier);
    QCOMPARE(columnValues(w, 0), (QStringList{"1", "2", "1", "2", "3"}));
    QCOMPARE(columnValues(w, 1), (QStringList{"a", "b", "a", "b", "c"}));
    w.clickCell(1, 1);
    press(w, Qt::Key_Plus, Qt::ControlModifier);
    QCOMPARE(columnValues(w, 0), (QStringList{"1", "", "2", "1", "2", "3"}));
    QCOMPARE(w.data->currentIndex().row(), 1);
    press(w, Qt::Key_Equal, Qt::ControlModifier);
    QCOMPARE(w.data->model()->rowCount(), 7);
    selectCells(w, 4, 0, 5, 0);
    press(w, Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(columnValues(w, 0), (QStringList{"1", "", "", "2", "3"}));
    QCOMPARE(writtenRows(w), (QStringList{R"(<ROW N="1" M="a"/>)", "<ROW/>", "<ROW/>", R"(<ROW N="2" M="b"/>)",
                                          R"(<ROW N="3" M="c"/>)"}));

    // Deleting every row keeps one empty row; each step undoes back to the start, the add button's too.
    selectCells(w, 0, 0, 4, 1);
    press(w, Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(columnValues(w, 0), QStringList{""});
    w.clickCell(0, 0);
    for (int i = 0; i < 5; ++i) {
        press(w, Qt::Key_Z, Qt::ControlModifier);
    }
    QCOMPARE(columnValues(w, 0), start);
    QTest::mouseClick(w.dataAdd, Qt::LeftButton);
    QCOMPARE(w.data->model()->rowCount(), 4);
    w.clickCell(0, 0);
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.data->model()->rowCount(), 3);

    // Reading the text empties the stack: nothing before it is undone, not even by the editor's own undo.
    w.pages->setCurrentIndex(1);
    retypeXml(w.xml, QString(w.xmlText()).replace(QStringLiteral("M=\"c\""), QStringLiteral("M=\"C\"")));
    w.pages->setCurrentIndex(0);
    QCOMPARE(w.cell(w.data, 2, 1), QStringLiteral("C"));
    w.clickCell(2, 1);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(columnValues(w, 1), (QStringList{"a", "b", "C"}));

    // A load whose file cannot be opened still has the data page read the text again, which empties the
    // stack: the value typed before it stays.
    press(w, Qt::Key_End);
    QTest::keyClicks(w.focus(), QStringLiteral("x"));
    w.pages->setCurrentIndex(1);
    w.dialogs.saveAnswers = {TSaveAnswer::Discard};
    w.dialogs.fileNames = {QDir::temp().filePath(QStringLiteral("torvane-missing/missing.xml"))};
    QTest::mouseClick(w.form->findChild<QPushButton*>(QStringLiteral("B_XmlLoad")), Qt::LeftButton);
    QCOMPARE(w.dialogs.errors.size(), 1);
    w.pages->setCurrentIndex(0);
    w.clickCell(2, 1);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(columnValues(w, 1), (QStringList{"a", "b", "Cx"}));
}

void TestMainForm::fieldsDeletedAndMovedWithTheirKeys()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    for (const char* name : {"A", "B", "C"}) {
        w.defineField(QString::fromLatin1(name), QStringLiteral("st"), QString(), QString());
    }
    QApplication::clipboard()->setText(QStringLiteral("a\tb\tc\n"));
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_V, Qt::ControlModifier);
    // Primary key A and C, order key B.
    QTest::mouseClick(w.priKey, Qt::LeftButton);
    w.clickItem(w.priList, 0);
    QTest::mouseClick(w.priList->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      w.priList->visualItemRect(w.priList->item(2)).center());
    QTest::mouseClick(w.priKey, Qt::LeftButton);
    QTest::mouseClick(w.defOrder, Qt::LeftButton);
    w.clickItem(w.defList, 1);
    QTest::mouseClick(w.defOrder, Qt::LeftButton);
    w.pages->setCurrentIndex(1);
    const QString original = w.xmlText();
    w.pages->setCurrentIndex(0);

    // Delete in the field table deletes the current field: its column and values go, the keys renumber.
    const auto clickField = [&w](int row) {
        QTest::mouseClick(w.fields->viewport(), Qt::LeftButton, {},
                          w.fields->visualRect(w.fields->model()->index(row, 0)).center());
        w.fields->setFocus();
    };
    clickField(0);
    QTest::keyClick(w.fields, Qt::Key_Delete);
    QCOMPARE(w.fields->model()->rowCount(), 2);
    QCOMPARE(w.header(w.data, 0), QStringLiteral("B"));
    QCOMPARE(w.name->text(), QStringLiteral("B"));
    QCOMPARE(writtenLine(w, QStringLiteral("<PARAMS")),
             QStringLiteral(R"(<PARAMS DEFAULT_ORDER="1" PRIMARY_KEY="2" LCID="1033"/>)"));
    QCOMPARE(writtenRows(w), QStringList{R"(<ROW B="b" C="c"/>)"});

    // Alt+Up moves C above B: its field line, column and key go with it.
    clickField(1);
    QTest::keyClick(w.fields, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(w.cell(w.fields, 0, 0), QStringLiteral("C"));
    QCOMPARE(w.fields->currentIndex().row(), 0);
    QCOMPARE(w.header(w.data, 0), QStringLiteral("C"));
    QCOMPARE(w.cell(w.data, 0, 0), QStringLiteral("c"));
    QCOMPARE(writtenLine(w, QStringLiteral("<PARAMS")),
             QStringLiteral(R"(<PARAMS DEFAULT_ORDER="2" PRIMARY_KEY="1" LCID="1033"/>)"));
    QCOMPARE(writtenLine(w, QStringLiteral("<FIELD ")), QStringLiteral(R"(<FIELD attrname="C" fieldtype="string"/>)"));
    QCOMPARE(writtenRows(w), QStringList{R"(<ROW C="c" B="b"/>)"});
    QTest::keyClick(w.fields, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(w.cell(w.fields, 0, 0), QStringLiteral("C"));

    // Both are undone on the page's stack, back to the packet as it was.
    QTest::keyClick(w.fields, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(w.fields, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.fields->model()->rowCount(), 3);
    w.pages->setCurrentIndex(1);
    QCOMPARE(w.xmlText(), original);
}

void TestMainForm::rangesByDragAndShiftArrows_data()
{
    QTest::addColumn<bool>("byKeys");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QString>("copied");
    // Cells as (column, row).
    QTest::newRow("drag from the current cell, over its editor")
        << false << QPoint(0, 0) << QPoint(1, 1) << QStringLiteral("a\tb\nd\te\n");
    QTest::newRow("drag from another cell") << false << QPoint(2, 2) << QPoint(1, 1) << QStringLiteral("e\tf\nh\ti\n");
    QTest::newRow("Shift+Right, Shift+Down") << true << QPoint(1, 1) << QPoint(2, 2) << QStringLiteral("e\tf\nh\ti\n");
}

void TestMainForm::rangesByDragAndShiftArrows()
{
    QFETCH(bool, byKeys);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QString, copied);
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    for (const char* name : {"A", "B", "C"}) {
        w.defineField(QString::fromLatin1(name), QStringLiteral("st"), QString(), QString());
    }
    QApplication::clipboard()->setText(QStringLiteral("a\tb\tc\nd\te\tf\ng\th\ti\n"));
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_V, Qt::ControlModifier);
    w.clickCell(0, 0);
    const QModelIndex first = w.data->model()->index(from.y(), from.x());
    if (byKeys) {
        w.clickCell(from.y(), from.x());
        press(w, Qt::Key_Right, Qt::ShiftModifier);
        press(w, Qt::Key_Down, Qt::ShiftModifier);
    } else {
        // The widget under the press (the open editor of the current cell, or the table) keeps the mouse.
        QWidget* viewport = w.data->viewport();
        const QPoint start = w.data->visualRect(first).center();
        const QPoint end = w.data->visualRect(w.data->model()->index(to.y(), to.x())).center();
        QWidget* pressed = viewport->childAt(start) ? viewport->childAt(start) : viewport;
        QCOMPARE(pressed != viewport, from == QPoint(0, 0));
        QTest::mousePress(pressed, Qt::LeftButton, {}, pressed->mapFrom(viewport, start));
        for (const QPoint& at : {start + QPoint(3, 0), end}) {
            const QPoint local = pressed->mapFrom(viewport, at);
            QMouseEvent move(QEvent::MouseMove, local, pressed->mapToGlobal(local), Qt::NoButton, Qt::LeftButton,
                             Qt::NoModifier);
            QApplication::sendEvent(pressed, &move);
        }
        QTest::mouseRelease(pressed, Qt::LeftButton, {}, pressed->mapFrom(viewport, end));
    }
    QCOMPARE(w.data->selectionModel()->selectedIndexes().size(), 4);
    press(w, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), copied);

    // Typing still goes into the current cell: where the drag began, where the keys moved to.
    const QModelIndex typed = byKeys ? w.data->model()->index(to.y(), to.x()) : first;
    const QString before = typed.data().toString();
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_End);
    typeText(w.focus(), QStringLiteral("字"));
    QCOMPARE(typed.data().toString(), before + QStringLiteral("字"));
}

void TestMainForm::columnsWithoutWidthFitTheirValues()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("widths.xml"));
    QString rows;
    for (int id = 1; id <= 18; ++id) {
        rows += QStringLiteral("<ROW Id=\"%1\" D=\"1988-01-05T00:00:00\" N=\"x\" L=\"%2\"/>\r\n")
                    .arg(id)
                    .arg(id == 18 ? QString(200, u'w') : QString());
    }
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(lines({"<?xml version=\"1.0\" standalone=\"yes\"?>", "<DATAPACKET Version=\"2.0\">", "<METADATA>",
                         "<FIELDS>", "<FIELD attrname=\"Id\" fieldtype=\"i4\"/>",
                         "<FIELD attrname=\"D\" fieldtype=\"dateTime\"/>",
                         "<FIELD attrname=\"N\" fieldtype=\"string\" WIDTH=\"20\"/>",
                         "<FIELD attrname=\"L\" fieldtype=\"string\"/>", "</FIELDS>", "</METADATA>", "<ROWDATA>"})
                      .toUtf8() +
                  rows.toUtf8() + "</ROWDATA>\r\n</DATAPACKET>\r\n");
    }
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QVERIFY(w.form->openFile(file));
    QCOMPARE(w.data->model()->rowCount(), 18);
    const QFontMetrics metrics = w.data->fontMetrics();
    const auto fitted = [&metrics](const char* name, const QString& widest) {
        return std::max(metrics.horizontalAdvance(QString::fromLatin1(name)) + 5,
                        std::min(metrics.horizontalAdvance(widest) + 8, 300));
    };
    // Without a width: the widest value among the first rows, capped; with one, the field's own rule.
    QCOMPARE(w.data->columnWidth(0), fitted("Id", QStringLiteral("18")));
    QCOMPARE(w.data->columnWidth(1), fitted("D", QStringLiteral("1988-01-05T00:00:00")));
    QCOMPARE(w.data->columnWidth(2), std::max(160, metrics.horizontalAdvance(QStringLiteral("N")) + 5));
    QCOMPARE(w.data->columnWidth(3), 300);

    // A double-click on a divider fits the column to what it shows, whatever the open cell editor asks for.
    QHeaderView* header = w.data->horizontalHeader();
    header->resizeSection(0, 4);
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    const QPoint divider(header->sectionViewportPosition(0) + header->sectionSize(0) - 1, header->height() / 2);
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, divider);
    const int fit = w.data->columnWidth(0);
    QVERIFY(fit >= metrics.horizontalAdvance(QStringLiteral("18")));
    QVERIFY(fit < metrics.horizontalAdvance(QStringLiteral("1988-01-05")));
    // The fitted width is the workspace's: the table shown again after a new record keeps it.
    QTest::mouseClick(w.dataAdd, Qt::LeftButton);
    QCOMPARE(w.data->model()->rowCount(), 19);
    QCOMPARE(w.data->columnWidth(0), fit);
}

void TestMainForm::csvOutAndBackIn()
{
    QTemporaryDir dir;
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    for (const char* name : {"ID", "名前", "備考"}) {
        w.defineField(QString::fromUtf8(name), QStringLiteral("st"), QString(), QString());
    }
    const QString block = QStringLiteral("1\t東京駅\t\"say \"\"hi\"\", ok\"\n"
                                         "2\t\"一行目\n二行目\"\t\n"
                                         "\t\t\n"
                                         "4\t～\t末尾\n");
    QApplication::clipboard()->setText(block);
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_V, Qt::ControlModifier);
    QTest::mouseClick(w.dataAdd, Qt::LeftButton);
    QCOMPARE(w.data->model()->rowCount(), 5);
    const QStringList rows = writtenRows(w);

    // Out through the data table's context menu action, in both encodings.
    auto* data = w.data;
    const auto trigger = [data](const QString& text) {
        for (QAction* action : data->actions()) {
            if (action->text() == text) {
                action->trigger();
                return true;
            }
        }
        return false;
    };
    const QString utf8 = dir.filePath(QStringLiteral("utf8.csv"));
    const QString sjis = dir.filePath(QStringLiteral("sjis.csv"));
    w.dialogs.fileNames = {utf8, sjis};
    w.dialogs.chosenFilters = {QStringLiteral("CSV UTF-8 BOM付き (*.csv)"), QStringLiteral("CSV Shift_JIS (*.csv)")};
    QVERIFY(trigger(QStringLiteral("CSVに書き出す…")));
    QVERIFY(trigger(QStringLiteral("CSVに書き出す…")));
    QCOMPARE(w.dialogs.saveFilters.last(), QStringLiteral("CSV UTF-8 BOM付き (*.csv);;CSV Shift_JIS (*.csv)"));
    QVERIFY(fileBytes(utf8).startsWith("\xEF\xBB\xBFID,\xE5\x90\x8D\xE5\x89\x8D"));
    QVERIFY(fileBytes(sjis).startsWith("ID,\x96\xbc\x91\x4f"));
    // The blank last record is left out; the blank one between stays.
    QCOMPARE(fileBytes(utf8).count("\r\n"), 5);

    // Back in, into a fresh window: the names become fields of type string, the records equal the original.
    for (const QString& file : {utf8, sjis}) {
        Window fresh;
        QVERIFY(QTest::qWaitForWindowActive(fresh.form.get()));
        fresh.defineField(QStringLiteral("id"), QStringLiteral("i4"), QString(), QString());
        fresh.dialogs.fileNames = {file};
        auto* freshData = fresh.data;
        for (QAction* action : freshData->actions()) {
            if (action->text() == QStringLiteral("CSVを読み込む…")) {
                action->trigger();
            }
        }
        QVERIFY(fresh.dialogs.informed.isEmpty());
        QCOMPARE(fresh.fields->model()->rowCount(), 3);
        QCOMPARE(fresh.cell(fresh.fields, 0, 1), QStringLiteral("i4（４バイト整数）"));
        QCOMPARE(fresh.cell(fresh.fields, 2, 1), QStringLiteral("string（文字列）"));
        QStringList read = writtenRows(fresh);
        QCOMPARE(read.size(), 4);
        QCOMPARE(read.join(u'\n').replace(QStringLiteral("id="), QStringLiteral("ID=")),
                 QStringList(rows.mid(0, 4)).join(u'\n'));
        // The records are one undo step.
        fresh.clickCell(0, 0);
        QTRY_VERIFY(qobject_cast<QLineEdit*>(fresh.focus()));
        press(fresh, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(writtenRows(fresh), QStringList{"<ROW/>"});
        QCOMPARE(fresh.fields->model()->rowCount(), 3);
    }

    // A malformed file is refused, naming the line, with nothing changed.
    const QString broken = dir.filePath(QStringLiteral("broken.csv"));
    {
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("ID,NEW\r\n1,\"a\r\nb\"\r\n2,\"open\r\n3,x\r\n");
    }
    w.pages->setCurrentIndex(1);
    const QString before = w.xmlText();
    w.pages->setCurrentIndex(0);
    w.dialogs.fileNames = {broken};
    QVERIFY(trigger(QStringLiteral("CSVを読み込む…")));
    QCOMPARE(w.dialogs.informed.last(),
             QStringLiteral("4 行目で始まる値の引用符（\"）が閉じられていないため、CSV ファイルを読み込めません"));
    QCOMPARE(w.fields->model()->rowCount(), 3);
    w.pages->setCurrentIndex(1);
    QCOMPARE(w.xmlText(), before);
}

void TestMainForm::csvImportOptionsPreviewedAndApplied()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("semi.csv"));
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("1;\x93\x8c\x8b\x9e\x89\x77\r\n2;1988-01-05T00:00:00\r\n");
    }
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.defineField(QStringLiteral("列1"), QStringLiteral("st"), QString(), QString());
    const auto import = [&w, &file] {
        w.dialogs.fileNames = {file};
        for (QAction* action : w.data->actions()) {
            if (action->text() == QStringLiteral("CSVを読み込む…")) {
                action->trigger();
            }
        }
    };
    // Cancelled: nothing changes.
    w.dialogs.csvChoices = {std::nullopt};
    import();
    QCOMPARE(w.fields->model()->rowCount(), 1);
    QCOMPARE(w.cell(w.data, 0, 0), QString());

    // Semicolons, no header, CP932: the preview shows the records and what will happen; then it happens.
    TCsvImportOptions options;
    options.separator = u';';
    options.header = false;
    options.encoding = TCsvEncodingChoice::Cp932;
    w.dialogs.csvChoices = {options};
    import();
    QCOMPARE(w.dialogs.csvPreviews.size(), 1);
    const TCsvImportPreview& preview = w.dialogs.csvPreviews.last();
    QVERIFY(preview.readable);
    QCOMPARE(preview.names, (QStringList{"列1", "列2"}));
    QCOMPARE(preview.rows, (QList<QStringList>{{"1", "東京駅"}, {"2", "1988-01-05T00:00:00"}}));
    QCOMPARE(preview.outcome,
             QStringLiteral("2 件のレコードを 1 行目から追加します。文字列のフィールドを 1 個追加します：列2"));
    QVERIFY(w.dialogs.informed.isEmpty());
    QCOMPARE(w.fields->model()->rowCount(), 2);
    QCOMPARE(columnValues(w, 0), (QStringList{"1", "2"}));
    QCOMPARE(columnValues(w, 1), (QStringList{"東京駅", "1988-01-05T00:00:00"}));
    // The added field has no width: its column fits its values.
    const QFontMetrics metrics = w.data->fontMetrics();
    QCOMPARE(w.data->columnWidth(1), metrics.horizontalAdvance(QStringLiteral("1988-01-05T00:00:00")) + 8);

    // Read as commas with a header, the same file is one column: the preview says so before anything is done.
    w.dialogs.csvChoices = {TCsvImportOptions{}};
    import();
    QCOMPARE(w.dialogs.csvPreviews.last().names, QStringList{"1;東京駅"});

    // Columns in another order than the fields' go to the fields they name, below the last filled row; a
    // click inside the imported block then selects that cell alone.
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(QStringLiteral("列2,列1\r\nb,a\r\nd,c\r\n").toUtf8());
    }
    w.dialogs.csvChoices = {TCsvImportOptions{}};
    import();
    QCOMPARE(columnValues(w, 0), (QStringList{"1", "2", "", "a", "c"}));
    QCOMPARE(columnValues(w, 1), (QStringList{"東京駅", "1988-01-05T00:00:00", "", "b", "d"}));
    QCOMPARE(w.data->selectionModel()->selectedIndexes().size(), 2 * 3);
    w.clickCell(4, 1);
    QCOMPARE(w.data->selectionModel()->selectedIndexes(), QModelIndexList{w.data->model()->index(4, 1)});
    // Ctrl+A: the cell's text (the caret stood in it), then every cell.
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_End);
    press(w, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(qobject_cast<QLineEdit*>(w.focus())->selectedText(), QStringLiteral("d"));
    QCOMPARE(w.data->selectionModel()->selectedIndexes().size(), 1);
    press(w, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(w.data->selectionModel()->selectedIndexes().size(), 5 * 3);
}

void TestMainForm::findBarWrapsAroundTheText()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QVERIFY(w.form->openFile(QStringLiteral(TORVANE_TEST_DATA "/example.xml")));
    w.pages->setCurrentIndex(1);
    const int fullHeight = w.xml->height();
    // The caret at the start of the last line with text, past the last "FIELDS".
    w.xml->setFocus();
    QTest::keyClick(w.xml, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(w.xml, Qt::Key_Up);
    QTest::keyClick(w.xml, Qt::Key_Home);
    QCOMPARE(w.xml->cursorLine(), 14);

    // Ctrl+F opens the bar at the bottom; the view gives it room.
    QTest::keyClick(w.xml, Qt::Key_F, Qt::ControlModifier);
    auto* bar = w.form->findChild<QWidget*>(QStringLiteral("FindBar"));
    auto* text = w.form->findChild<QLineEdit*>(QStringLiteral("FindText"));
    auto* status = w.form->findChild<QLabel*>(QStringLiteral("FindStatus"));
    auto* matchCase = w.form->findChild<QCheckBox*>(QStringLiteral("FindMatchCase"));
    QVERIFY(bar && text && status && matchCase);
    QVERIFY(bar->isVisible());
    QCOMPARE(w.focus(), text);
    QCOMPARE(w.xml->height(), fullHeight - bar->height());
    QCOMPARE(bar->geometry().bottom(), w.xml->parentWidget()->height() - 1);

    // Letter case ignored: "fields" past the last FIELDS line wraps to the first.
    QTest::keyClicks(text, QStringLiteral("fields"));
    QTest::keyClick(text, Qt::Key_Return);
    QCOMPARE(w.xml->selectedText(), QStringLiteral("FIELDS"));
    QCOMPARE(w.xml->cursorLine(), 4);
    QCOMPARE(status->text(), QStringLiteral("先頭から続けて検索しました"));
    QTest::keyClick(text, Qt::Key_Return);
    QCOMPARE(w.xml->cursorLine(), 7);
    QCOMPARE(status->text(), QString());
    // Shift+Enter and Shift+F3 go back, wrapping at the start.
    QTest::keyClick(text, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClick(text, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(w.xml->cursorLine(), 7);
    QCOMPARE(status->text(), QStringLiteral("末尾から続けて検索しました"));
    // With the letter case asked for, "fields" is nowhere; the cursor stays.
    matchCase->setChecked(true);
    QTest::keyClick(text, Qt::Key_F3);
    QCOMPARE(status->text(), QStringLiteral("見つかりません"));
    QCOMPARE(w.xml->cursorLine(), 7);

    // Esc closes the bar, the view takes its room and the focus back; Ctrl+G goes to a line.
    QTest::keyClick(text, Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QCOMPARE(w.xml->height(), fullHeight);
    QCOMPARE(w.focus(), w.xml);
    QTest::keyClick(w.xml, Qt::Key_G, Qt::ControlModifier);
    QVERIFY(bar->isVisible());
    QTest::keyClicks(w.focus(), QStringLiteral("99"));
    QTest::keyClick(w.focus(), Qt::Key_Return);
    QVERIFY(bar->isVisible());
    QCOMPARE(status->text(), QStringLiteral("1～15 の行番号を入力してください"));
    w.focus()->setProperty("text", QStringLiteral("6"));
    QTest::keyClick(w.focus(), Qt::Key_Return);
    QVERIFY(!bar->isVisible());
    QCOMPARE(w.xml->cursorLine(), 6);
}

void TestMainForm::findAndReplaceInTheTableAndTheText()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    for (const char* name : {"A", "B", "C"}) {
        w.defineField(QString::fromLatin1(name), QStringLiteral("st"), QString(), QString());
    }
    QApplication::clipboard()->setText(QStringLiteral("apple\tApple pie\tx\nAPPLE\tgrape\tapple\n"));
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_V, Qt::ControlModifier);
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));

    // Ctrl+F in a cell opens the table's bar; Enter goes along the rows, Shift+Enter back, wrapping.
    press(w, Qt::Key_F, Qt::ControlModifier);
    auto* bar = w.form->findChild<QWidget*>(QStringLiteral("DataFindBar"));
    auto* text = w.form->findChild<QLineEdit*>(QStringLiteral("DataFindText"));
    auto* status = w.form->findChild<QLabel*>(QStringLiteral("DataFindStatus"));
    auto* matchCase = w.form->findChild<QCheckBox*>(QStringLiteral("DataFindMatchCase"));
    auto* whole = w.form->findChild<QCheckBox*>(QStringLiteral("DataFindWholeCells"));
    auto* with = w.form->findChild<QLineEdit*>(QStringLiteral("DataReplaceText"));
    auto* replaceAll = w.form->findChild<QPushButton*>(QStringLiteral("DataReplaceAll"));
    QVERIFY(bar && text && status && matchCase && whole && with && replaceAll);
    QVERIFY(bar->isVisible() && whole->isVisible() && !with->isVisible());
    QCOMPARE(w.focus(), text);
    QVERIFY(w.data->geometry().bottom() < bar->geometry().top());
    typeText(text, QStringLiteral("apple"));
    const auto current = [&w] { return QPoint(w.data->currentIndex().column(), w.data->currentIndex().row()); };
    struct Step {
        bool back;
        bool caseAndWhole;
        QPoint cell;
        const char* status;
    };
    const Step steps[] = {{false, false, {1, 0}, ""},
                          {false, false, {0, 1}, ""},
                          {false, false, {2, 1}, ""},
                          {false, false, {0, 0}, "先頭から続けて検索しました"},
                          {false, true, {2, 1}, ""},
                          {true, true, {0, 0}, ""},
                          {true, true, {2, 1}, "末尾から続けて検索しました"}};
    for (const Step& step : steps) {
        matchCase->setChecked(step.caseAndWhole);
        whole->setChecked(step.caseAndWhole);
        QTest::keyClick(text, Qt::Key_Return, step.back ? Qt::ShiftModifier : Qt::NoModifier);
        QCOMPARE(current(), step.cell);
        QCOMPARE(status->text(), QString::fromUtf8(step.status));
        QCOMPARE(w.focus(), text);
    }

    // Ctrl+H adds the replace row. Replace all is one undo step; replace one changes the found cell and
    // goes on to the next.
    matchCase->setChecked(false);
    whole->setChecked(false);
    press(w, Qt::Key_H, Qt::ControlModifier);
    QVERIFY(with->isVisible());
    typeText(with, QStringLiteral("pear"));
    QTest::mouseClick(replaceAll, Qt::LeftButton);
    QCOMPARE(status->text(), QStringLiteral("4 件置換しました"));
    QCOMPARE(columnValues(w, 0), (QStringList{"pear", "pear"}));
    QCOMPARE(columnValues(w, 1), (QStringList{"pear pie", "grape"}));
    QCOMPARE(columnValues(w, 2), (QStringList{"x", "pear"}));
    QCOMPARE(shownTitle(w.form.get()), QStringLiteral("Torvane*"));
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(columnValues(w, 0), (QStringList{"apple", "APPLE"}));
    QCOMPARE(columnValues(w, 1), (QStringList{"Apple pie", "grape"}));
    QCOMPARE(columnValues(w, 2), (QStringList{"x", "apple"}));
    w.clickCell(0, 1);
    QTest::keyClick(with, Qt::Key_Return);
    QCOMPARE(w.cell(w.data, 0, 1), QStringLiteral("pear pie"));
    QCOMPARE(current(), QPoint(0, 1));
    QCOMPARE(w.cell(w.data, 1, 0), QStringLiteral("APPLE"));
    // Esc in the bar closes it and gives the table its room back.
    QTest::keyClick(with, Qt::Key_Escape);
    QVERIFY(!bar->isVisible());

    // The XML page's bar replaces too: all as one step of the text's undo.
    w.pages->setCurrentIndex(1);
    const QString written = w.xmlText();
    w.xml->setFocus();
    QTest::keyClick(w.xml, Qt::Key_H, Qt::ControlModifier);
    auto* xmlWith = w.form->findChild<QLineEdit*>(QStringLiteral("ReplaceText"));
    auto* xmlText = w.form->findChild<QLineEdit*>(QStringLiteral("FindText"));
    QVERIFY(xmlWith && xmlText && xmlWith->isVisible());
    QVERIFY(!w.form->findChild<QCheckBox*>(QStringLiteral("FindWholeCells"))->isVisible());
    xmlText->setText(QStringLiteral("pear"));
    xmlWith->setText(QStringLiteral("plum"));
    QTest::mouseClick(w.form->findChild<QPushButton*>(QStringLiteral("ReplaceAll")), Qt::LeftButton);
    QCOMPARE(w.xmlText(), QString(written).replace(QStringLiteral("pear"), QStringLiteral("plum")));
    w.xml->undo();
    QCOMPARE(w.xmlText(), written);
    // Replace one: the first press finds, the next replaces that match and looks for the next.
    QTest::keyClick(xmlWith, Qt::Key_Return);
    QCOMPARE(w.xml->selectedText(), QStringLiteral("pear"));
    QTest::keyClick(xmlWith, Qt::Key_Return);
    QCOMPARE(w.xmlText(), QString(written).replace(QStringLiteral("pear"), QStringLiteral("plum")));
    QCOMPARE(w.form->findChild<QLabel*>(QStringLiteral("FindStatus"))->text(), QStringLiteral("見つかりません"));
}

QTEST_MAIN(TestMainForm)
#include "TestMainForm.moc"

void TestMainForm::cellEditorUnderTheInputMethodAndEsc_data()
{
    QTest::addColumn<bool>("byTab");
    QTest::addColumn<bool>("composing");
    QTest::newRow("clicked, typed") << false << false;
    QTest::newRow("Tab, composition cancelled") << true << true;
}

void TestMainForm::cellEditorUnderTheInputMethodAndEsc()
{
    QFETCH(bool, byTab);
    QFETCH(bool, composing);
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    for (const char* name : {"ID", "NAME"}) {
        w.defineField(QString::fromLatin1(name), QStringLiteral("st"), QString(), QString());
    }
    QApplication::clipboard()->setText(QStringLiteral("1\t東京\n2\t大阪\n"));
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    press(w, Qt::Key_V, Qt::ControlModifier);
    auto* stack = w.form->findChild<QUndoStack*>();
    QVERIFY(stack);
    const int steps = stack->index();

    // The input method's caret (in window coordinates, where it places its candidate window) is in the cell.
    if (byTab) {
        w.clickCell(1, 0);
        press(w, Qt::Key_Tab);
    } else {
        w.clickCell(1, 1);
    }
    auto* editor = qobject_cast<QLineEdit*>(w.focus());
    QVERIFY(editor);
    const QModelIndex index = w.data->model()->index(1, 1);
    QCOMPARE(w.data->currentIndex(), index);
    const QRect cellRect = w.data->visualRect(index);
    const QRect cell(w.data->viewport()->mapTo(w.form.get(), cellRect.topLeft()), cellRect.size());
    const QRect caret = QGuiApplication::inputMethod()->cursorRectangle().toRect();
    QVERIFY2(cell.contains(caret.center()), qPrintable(QStringLiteral("caret (%1, %2) outside the cell at (%3, %4)")
                                                           .arg(caret.x())
                                                           .arg(caret.y())
                                                           .arg(cell.x())
                                                           .arg(cell.y())));

    // Esc gives back the value from before the first keystroke, and the typing leaves no undo step.
    editor->selectAll();
    if (composing) {
        QInputMethodEvent preedit(QStringLiteral("とうきょう"), {});
        QApplication::sendEvent(editor, &preedit);
        QInputMethodEvent cancelled;
        QApplication::sendEvent(editor, &cancelled);
    } else {
        QTest::keyClicks(editor, QStringLiteral("abc"));
        QCOMPARE(w.cell(w.data, 1, 1), QStringLiteral("abc"));
    }
    press(w, Qt::Key_Escape);
    QCOMPARE(w.cell(w.data, 1, 1), QStringLiteral("大阪"));
    QCOMPARE(editor->text(), QStringLiteral("大阪"));
    QCOMPARE(w.focus(), editor);
    QCOMPARE(stack->index(), steps);
    QCOMPARE(stack->count(), steps);
    // Typing after Esc is a step of its own again.
    QTest::keyClicks(editor, QStringLiteral("x"));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.cell(w.data, 1, 1), QStringLiteral("大阪"));
}

void TestMainForm::xmlPageTakesTheKeysWhenShown()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.defineField(QStringLiteral("ID"), QStringLiteral("st"), QString(), QString());
    w.clickCell(0, 0);
    QTRY_VERIFY(qobject_cast<QLineEdit*>(w.focus()));
    // By Ctrl+Tab from the cell editor, and by a click on the page's tab: typing goes into the text.
    press(w, Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(w.pages->currentIndex(), 1);
    QCOMPARE(w.focus(), w.xml);
    w.pages->setCurrentIndex(0);
    w.clickCell(0, 0);
    QTabBar* tabs = w.pages->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    QCOMPARE(w.pages->currentIndex(), 1);
    QCOMPARE(w.focus(), w.xml);
    QTest::keyClick(w.focus(), Qt::Key_Home, Qt::ControlModifier);
    typeText(w.focus(), QStringLiteral("x"));
    QVERIFY(w.xmlText().startsWith(u'x'));
}

void TestMainForm::screenReadersGetTheTextAndTheNames()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    const auto name = [&](const char* objectName) {
        auto* widget = w.form->findChild<QWidget*>(QString::fromLatin1(objectName));
        QAccessibleInterface* accessible = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
        return accessible ? accessible->text(QAccessible::Name) : QStringLiteral("(none)");
    };
    // Each box is named by its label, each table has a name, the two add buttons are told apart while
    // their captions stay the same.
    QCOMPARE(name("Ed_xmlVersion"), QStringLiteral("XMLの versionは"));
    QCOMPARE(name("Ed_PacketVersion"), QStringLiteral("DATAPACKETのVersionは"));
    QCOMPARE(name("Ed_LCID"), QStringLiteral("LCIDは"));
    QCOMPARE(name("Ed_FieldName"), QStringLiteral("フィールド名"));
    QCOMPARE(name("Ed_FieldEtc"), QStringLiteral("その他設定文"));
    // The type box, editable, reads out its text as its name (as combo boxes do on Linux) and is labelled
    // by its label.
    auto* typeBox = QAccessible::queryAccessibleInterface(w.type);
    QVERIFY(typeBox);
    QStringList labels;
    for (const auto& [label, relation] : typeBox->relations(QAccessible::Label)) {
        labels << label->text(QAccessible::Name);
    }
    QVERIFY2(labels.contains(QStringLiteral("データ形式")), qPrintable(labels.join(u',')));
    QCOMPARE(name("SE_FieldWidth"), QStringLiteral("幅"));
    QVERIFY(!name("SG_Field").isEmpty());
    QVERIFY(!name("SG_Data").isEmpty());
    QVERIFY(name("SG_Field") != name("SG_Data"));
    QVERIFY(name("B_FieldAdd") != name("B_DataAdd"));
    QCOMPARE(w.fieldAdd->text(), w.dataAdd->text());

    // The XML view is an editable text whose text is the packet, caret and selection included.
    QVERIFY(w.form->openFile(QStringLiteral(TORVANE_TEST_DATA "/example.xml")));
    w.pages->setCurrentIndex(1);
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(w.xml);
    QVERIFY(view);
    QCOMPARE(view->role(), QAccessible::EditableText);
    QCOMPARE(view->text(QAccessible::Name), QStringLiteral("XML"));
    QAccessibleTextInterface* text = view->textInterface();
    QVERIFY(text);
    QVERIFY(w.xmlText().size() > 100);
    QCOMPARE(text->characterCount(), w.xmlText().size());
    QCOMPARE(text->text(0, text->characterCount()), w.xmlText());
    w.xml->setSelection(5, 10);
    int start = -1;
    int end = -1;
    text->selection(0, &start, &end);
    QCOMPARE(qMakePair(start, end), qMakePair(5, 15));
    QCOMPARE(text->cursorPosition(), 15);
    const QRect at = text->characterRect(15);
    QVERIFY(at.isValid());
    QCOMPARE(text->offsetAtPoint(at.center()), 15);
}

// A value read as an empty string stays one, apart from a missing value: shown faintly as "" with a tooltip,
// set and unset from the table's menu, given back by Esc and undo, kept by duplicated rows and moved fields;
// a cell typed empty has no value.
void TestMainForm::emptyStringsShownSetAndKept()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.pages->setCurrentIndex(1);
    retypeXml(w.xml, lines({R"(<?xml version="1.0" standalone="yes"?>)", R"(<DATAPACKET Version="2.0">)", "<METADATA>",
                            "<FIELDS>", R"(<FIELD attrname="ID" fieldtype="i4"/>)",
                            R"(<FIELD attrname="EXT" fieldtype="string" WIDTH="10"/>)", "</FIELDS>",
                            R"(<PARAMS DEFAULT_ORDER="" PRIMARY_KEY="" LCID="1041"/>)", "</METADATA>", "<ROWDATA>",
                            R"(<ROW ID="1" EXT=""/>)", R"(<ROW ID="2"/>)", "</ROWDATA>", "</DATAPACKET>"}));
    w.pages->setCurrentIndex(0);
    const auto data = [&w](int row, int column, int role) { return w.data->model()->index(row, column).data(role); };
    const auto emptyString = [&](int row) { return data(row, 1, TDataTableModel::EmptyStringRole).toBool(); };
    const QStringList read{R"(<ROW ID="1" EXT=""/>)", R"(<ROW ID="2"/>)"};
    QCOMPARE(w.cell(w.data, 0, 1), QStringLiteral("\"\""));
    QVERIFY(data(0, 1, Qt::ToolTipRole).toString().contains(QStringLiteral("空文字列です")));
    QVERIFY(data(0, 1, Qt::ForegroundRole).isValid());
    QCOMPARE(w.cell(w.data, 1, 1), QString());
    QVERIFY(data(1, 1, Qt::ToolTipRole).toString().isEmpty());
    QVERIFY(!data(1, 1, Qt::ForegroundRole).isValid());
    QCOMPARE(writtenRows(w), read);

    // The menu's two items act on the selection, one undo step each.
    const auto trigger = [&w](const QString& text) {
        for (QAction* action : w.data->actions()) {
            if (action->text() == text) {
                action->trigger();
                return true;
            }
        }
        return false;
    };
    selectCells(w, 0, 1, 1, 1);
    QVERIFY(trigger(QStringLiteral("値なしにする")));
    QCOMPARE(writtenRows(w), (QStringList{R"(<ROW ID="1"/>)", R"(<ROW ID="2"/>)"}));
    QVERIFY(trigger(QStringLiteral("空文字列にする")));
    QCOMPARE(writtenRows(w), (QStringList{R"(<ROW ID="1" EXT=""/>)", R"(<ROW ID="2" EXT=""/>)"}));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(writtenRows(w), read);

    // Esc gives the empty string back, leaving no step; typing and clearing leaves no value, until undone.
    auto* stack = w.form->findChild<QUndoStack*>();
    QVERIFY(stack);
    const int steps = stack->index();
    w.clickCell(0, 1);
    auto* editor = qobject_cast<QLineEdit*>(w.focus());
    QVERIFY(editor);
    QTest::keyClicks(editor, QStringLiteral("9"));
    QCOMPARE(w.cell(w.data, 0, 1), QStringLiteral("9"));
    press(w, Qt::Key_Escape);
    QVERIFY(emptyString(0));
    QCOMPARE(stack->index(), steps);
    QTest::keyClicks(editor, QStringLiteral("9"));
    QTest::keyClick(editor, Qt::Key_Backspace);
    QVERIFY(!emptyString(0));
    QCOMPARE(writtenRows(w), (QStringList{R"(<ROW ID="1"/>)", R"(<ROW ID="2"/>)"}));
    press(w, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(emptyString(0));

    // A duplicated row and a moved field take their empty strings along.
    w.clickCell(0, 0);
    press(w, Qt::Key_D, Qt::ControlModifier);
    QCOMPARE(writtenRows(w), (QStringList{R"(<ROW ID="1" EXT=""/>)", R"(<ROW ID="1" EXT=""/>)", R"(<ROW ID="2"/>)"}));
    QTest::mouseClick(w.fields->viewport(), Qt::LeftButton, {},
                      w.fields->visualRect(w.fields->model()->index(1, 0)).center());
    w.fields->setFocus();
    QTest::keyClick(w.fields, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(writtenRows(w), (QStringList{R"(<ROW EXT="" ID="1"/>)", R"(<ROW EXT="" ID="1"/>)", R"(<ROW ID="2"/>)"}));
    QVERIFY(data(1, 0, TDataTableModel::EmptyStringRole).toBool());

    // The value window says which of the two an empty cell holds.
    for (const auto& [row, state] :
         {std::pair<int, const char*>(0, "（空文字列）"), std::pair<int, const char*>(2, "（値なし）")}) {
        QApplication::setActiveWindow(w.form.get());
        w.clickCell(row, 0);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_E, Qt::ControlModifier);
        auto* status = w.form->findChild<QLabel*>(QStringLiteral("ValueStatus"));
        QVERIFY(status);
        QVERIFY2(status->text().endsWith(QString::fromUtf8(state)), qPrintable(status->text()));
    }
}

// Values that do not fit their fields: marked on a colour of their own with what the field expects in the
// tooltip, counted in the data group's caption, reached by F8 and Shift+F8 (wrapping round), counted again
// after an edit (a repeated key once the typing pauses); a save asks once, listing them, and writes nothing
// when cancelled.
void TestMainForm::valuesThatDoNotFitTheirFieldsAreMarked()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("faults.xml"));
    const QByteArray bytes =
        lines({R"(<?xml version="1.0" standalone="yes"?>)", R"(<DATAPACKET Version="2.0">)", "<METADATA><FIELDS>",
               R"(<FIELD attrname="ID" fieldtype="i4"/>)", R"(<FIELD attrname="DAY" fieldtype="date"/>)",
               R"(<FIELD attrname="FLAG" fieldtype="boolean"/>)",
               R"(</FIELDS><PARAMS PRIMARY_KEY="1"/></METADATA><ROWDATA>)",
               R"(<ROW ID="1" DAY="19880412" FLAG="TRUE"/>)", R"(<ROW ID="x" DAY="2024-01-05" FLAG="TRUE"/>)",
               R"(<ROW ID="1" DAY="19880230" FLAG="yes"/>)", "</ROWDATA></DATAPACKET>"})
            .toUtf8();
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    out.close();
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QVERIFY(w.form->openFile(file));
    auto* group = w.form->findChild<QGroupBox*>(QStringLiteral("GBox_Data"));
    QCOMPARE(group->title(), QStringLiteral("データ（型に合わない値 5 か所: F8 / Shift+F8 で移動）"));
    QAbstractItemModel* model = w.data->model();
    QVERIFY(!model->index(0, 1).data(Qt::BackgroundRole).isValid());
    QVERIFY(model->index(1, 1).data(Qt::BackgroundRole).value<QColor>().isValid());
    QCOMPARE(model->index(1, 1).data(Qt::ToolTipRole).toString(),
             QStringLiteral("date 型の値として期待されるのは 日付 yyyymmdd（例 19880412）\nこの値: \"2024-01-05\""));

    w.clickCell(0, 2);
    press(w, Qt::Key_F8);
    QCOMPARE(w.data->currentIndex(), model->index(1, 0));
    press(w, Qt::Key_F8, Qt::ShiftModifier);
    QCOMPARE(w.data->currentIndex(), model->index(2, 2));
    press(w, Qt::Key_F8);
    QCOMPARE(w.data->currentIndex(), model->index(1, 0));

    // Saved unchanged, the file is written as it is, with no question: nothing new goes into it.
    press(w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(w.dialogs.faultyValueQuestions.size(), 0);
    QCOMPARE(fileBytes(file), bytes);

    // A typed fix is counted at once; the save asks, and cancelled the file stays as it was.
    QVERIFY(model->setData(model->index(1, 1), QStringLiteral("19880105")));
    QCOMPARE(group->title(), QStringLiteral("データ（型に合わない値 4 か所: F8 / Shift+F8 で移動）"));
    w.dialogs.faultyValueAnswers = {false};
    press(w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(w.dialogs.faultyValueQuestions.size(), 1);
    const QString question = w.dialogs.faultyValueQuestions.constFirst();
    QVERIFY2(question.contains(QStringLiteral("\n\n2 行目「ID」の値 \"x\": 整数 -2147483648 ～ 2147483647\n"
                                              "3 行目「ID」の値 \"1\": 1 行目と違う主キー\n")),
             qPrintable(question));
    QCOMPARE(fileBytes(file), bytes);
    // Asked again, 保存する is the answer when none is given.
    press(w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(w.dialogs.faultyValueQuestions.size(), 2);
    QVERIFY(fileBytes(file).contains(R"(<ROW ID="x" DAY="19880105" FLAG="TRUE"/>)"));

    // A key typed anew: its repeat goes when the typing pauses.
    QVERIFY(model->setData(model->index(2, 0), QStringLiteral("3")));
    QTRY_COMPARE(group->title(), QStringLiteral("データ（型に合わない値 3 か所: F8 / Shift+F8 で移動）"));

    // The XML page's save of a text edited by hand checks that text, which the data page has not read.
    w.pages->setCurrentIndex(1);
    w.xml->setFocus();
    w.xml->setSelection(w.xmlText().indexOf(QStringLiteral("ID=\"x\"")) + 4, 1);
    typeText(w.xml, QStringLiteral("y"));
    const QString other = dir.filePath(QStringLiteral("other.xml"));
    w.dialogs.fileNames = {other};
    w.dialogs.faultyValueAnswers = {false};
    QTest::mouseClick(w.form->findChild<QPushButton*>(QStringLiteral("B_XmlSave")), Qt::LeftButton);
    QCOMPARE(w.dialogs.faultyValueQuestions.size(), 3);
    QVERIFY2(w.dialogs.faultyValueQuestions.last().contains(QStringLiteral("\n\n2 行目「ID」の値 \"y\"")),
             qPrintable(w.dialogs.faultyValueQuestions.last()));
    QVERIFY(!QFileInfo::exists(other));
}
