#include "FakeWindowDialogs.h"
#include "dialogs/TQtDialogs.h"
#include "window/ManualText.h"
#include "window/TMainForm.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace torvane;

namespace {

const QString Example = QStringLiteral(TORVANE_TEST_DATA "/example.xml");

// The window with scripted dialogs, shown and active.
struct Window {
    FakeWindowDialogs dialogs;
    std::unique_ptr<TMainForm> form = std::make_unique<TMainForm>(dialogs);

    Window()
    {
        form->show();
        QApplication::setActiveWindow(form.get());
    }
    template <typename T> T* find(const char* name) const { return form->findChild<T*>(QString::fromLatin1(name)); }
    QTabWidget* pages() const { return find<QTabWidget>("PageControl1"); }
    QTableView* data() const { return find<QTableView>("SG_Data"); }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
    {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : form.get(), key, modifiers);
    }
    // What a user sees of the workspace: title, page, settings, field editor, tables, key lists.
    // Seen once the event loop has come round, as a user sees it.
    QStringList looks() const
    {
        QCoreApplication::processEvents();
        QStringList seen{form->windowTitle(), QString::number(pages()->currentIndex())};
        for (QLineEdit* edit : form->findChildren<QLineEdit*>()) {
            if (edit->isVisible()) {
                seen << edit->objectName() + u'=' + edit->text();
            }
        }
        for (QTableView* table : form->findChildren<QTableView*>()) {
            seen << QStringLiteral("%1 %2x%3")
                        .arg(table->objectName())
                        .arg(table->model()->rowCount())
                        .arg(table->model()->columnCount());
            for (int c = 0; c < table->model()->columnCount(); ++c) {
                seen << QString::number(table->columnWidth(c)) + table->model()->index(0, c).data().toString();
            }
        }
        for (const char* list : {"LB_PriKey", "LB_DefOrder"}) {
            seen << QString::number(find<QWidget>(list)->isVisible());
        }
        return seen;
    }
};

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    void newWorkspaceAndManualByKeys();
    void openDialogStartsAtTheCurrentFile();
    void csvExportNamesItsKind_data();
    void csvExportNamesItsKind();
    void fileDialogsKeepNothing();
    void everyKeyIsListed_data();
    void everyKeyIsListed();
    void labelsFitBesideTheirControls_data();
    void labelsFitBesideTheirControls();
};

void TestDesktop::newWorkspaceAndManualByKeys()
{
    Window fresh;
    QVERIFY(QTest::qWaitForWindowActive(fresh.form.get()));
    const QStringList start = fresh.looks();
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    // Untouched, Ctrl+N asks nothing and changes nothing.
    w.key(Qt::Key_N);
    QVERIFY(w.dialogs.saveQuestions.isEmpty());
    QCOMPARE(w.looks(), start);

    // A loaded file with a typed value: Ctrl+N from inside the cell editor asks; キャンセル keeps it all.
    QVERIFY(w.form->openFile(Example));
    const QModelIndex cell = w.data()->model()->index(0, 1);
    QTest::mouseClick(w.data()->viewport(), Qt::LeftButton, {}, w.data()->visualRect(cell).center());
    QTRY_VERIFY(qobject_cast<QLineEdit*>(QApplication::focusWidget()));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Pear"));
    w.key(Qt::Key_N);
    QCOMPARE(w.dialogs.saveQuestions, QStringList{Example});
    QCOMPARE(w.data()->model()->index(0, 1).data().toString(), QStringLiteral("Pear"));
    QCOMPARE(w.form->windowTitle(), QStringLiteral("example.xml[*] - Torvane"));

    // 保存しない: the window is as at start, and undo has nothing of the old work to bring back.
    w.dialogs.saveAnswers = {TSaveAnswer::Discard};
    w.key(Qt::Key_N);
    QCOMPARE(w.looks(), start);
    QVERIFY(!w.form->isWindowModified());
    QVERIFY(w.form->isAncestorOf(QApplication::focusWidget()));
    QTest::keyClick(w.data(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w.looks(), start);
    // Saving it asks for a name in the old file's folder, never offering the old file, and writes the empty
    // packet. A pattern for a name is refused and the dialog opens again in its folder.
    QTemporaryDir dir;
    const QString newFile = dir.filePath(QStringLiteral("new.xml"));
    w.dialogs.fileNames = {dir.filePath(QStringLiteral("*.xml")), newFile};
    w.key(Qt::Key_S);
    QCOMPARE(w.dialogs.saveInitialNames, QStringList({QFileInfo(Example).absolutePath() + u'/', dir.path() + u'/'}));
    QCOMPARE(w.dialogs.errors.size(), 1);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("*.xml"))));
    QFile written(newFile);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QFile empty(QStringLiteral(TORVANE_TEST_DATA "/empty.xml"));
    QVERIFY(empty.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), empty.readAll());
    QVERIFY(w.dialogs.notWellFormedQuestions.isEmpty());

    // F1 shows the manual page from any page.
    w.key(Qt::Key_F1, Qt::NoModifier);
    QCOMPARE(w.pages()->currentIndex(), 2);
    w.pages()->setCurrentIndex(1);
    w.key(Qt::Key_F1, Qt::NoModifier);
    QCOMPARE(w.pages()->currentIndex(), 2);
}

void TestDesktop::openDialogStartsAtTheCurrentFile()
{
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("copy.xml"));
    QVERIFY(QFile::copy(Example, copy));
    Window w;
    // Loaded from the command line (a name relative to the working folder), then saved elsewhere: the open
    // dialog starts at the file the window holds each time.
    const QString relative = QDir::current().relativeFilePath(Example);
    QVERIFY(w.form->openFile(relative));
    w.dialogs.fileNames = {std::nullopt, std::nullopt};
    w.key(Qt::Key_O);
    w.dialogs.fileNames = {copy};
    w.dialogs.replaceAnswers = {true};
    w.key(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    w.key(Qt::Key_O);
    QCOMPARE(w.dialogs.openInitialNames, (QStringList{QFileInfo(Example).absoluteFilePath(), copy}));
}

void TestDesktop::csvExportNamesItsKind_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    const QString utf8 = QStringLiteral("CSV UTF-8 BOM付き (*.csv)");
    const QString sjis = QStringLiteral("CSV Shift_JIS (*.csv)");
    QTest::newRow("UTF-8, no extension") << utf8 << "out"
                                         << "out.csv";
    QTest::newRow("Shift_JIS, no extension") << sjis << "out"
                                             << "out.csv";
    QTest::newRow("name ending in a dot") << utf8 << "out."
                                          << "out.csv";
    QTest::newRow("another extension kept") << sjis << "out.txt"
                                            << "out.txt";
    QTest::newRow("extension kept") << utf8 << "out.csv"
                                    << "out.csv";
}

void TestDesktop::csvExportNamesItsKind()
{
    QFETCH(QString, filter);
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QTemporaryDir dir;
    Window w;
    QVERIFY(w.form->openFile(Example));
    w.dialogs.fileNames = {dir.filePath(typed)};
    w.dialogs.chosenFilters = {filter};
    for (QAction* action : w.data()->actions()) {
        if (action->text() == QStringLiteral("CSVに書き出す…")) {
            action->trigger();
        }
    }
    QVERIFY(w.dialogs.errors.isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{written});
}

void TestDesktop::fileDialogsKeepNothing()
{
    // Where Qt's file dialogs keep what they remember once the program's dialogs exist: not among the
    // user's settings, and nowhere at all once one has closed.
    TQtDialogs dialogs;
    const QString kept = QSettings(QSettings::UserScope, QStringLiteral("QtProject")).fileName();
    QVERIFY2(!kept.startsWith(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)),
             qPrintable(kept));
    {
        QFileDialog dialog;
        dialog.setDirectory(QStringLiteral(TORVANE_TEST_DATA));
    }
    QVERIFY2(!QFileInfo::exists(QFileInfo(kept).absolutePath()), qPrintable(kept));
}

namespace {

// A manual page's text as it reads: groff's escaped minus and font changes taken out.
QString manPage(const char* path)
{
    QFile file(QStringLiteral(TORVANE_SOURCE_DIR "/") + QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll())
        .replace(QStringLiteral("\\-"), QStringLiteral("-"))
        .remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
}

// How the texts write a key the window binds: Qt's names, with arrows and Delete as the keyboard shows them.
QStringList spellings(const QKeySequence& key)
{
    QString text = key.toString(QKeySequence::PortableText);
    text.replace(QStringLiteral("Num+"), QString()).replace(QStringLiteral("Backtab"), QStringLiteral("Shift+Tab"));
    text.replace(QStringLiteral("Shift+Shift+"), QStringLiteral("Shift+"));
    text.replace(QStringLiteral("Del"), QStringLiteral("Delete"));
    QString arrows = text;
    arrows.replace(QStringLiteral("Up"), QStringLiteral("↑")).replace(QStringLiteral("Down"), QStringLiteral("↓"));
    return {text, arrows};
}

// Whether `text` names `key` on its own: "Ctrl+S" is not found in "Ctrl+Shift+S".
bool names(const QString& text, const QString& key)
{
    for (qsizetype at = text.indexOf(key); at >= 0; at = text.indexOf(key, at + 1)) {
        const qsizetype end = at + key.size();
        if ((end == text.size() || text[end].unicode() > 127 || !text[end].isLetterOrNumber()) &&
            (at == 0 || text[at - 1] != u'+')) {
            return true;
        }
    }
    return false;
}

} // namespace

void TestDesktop::everyKeyIsListed_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("manual page") << manualText();
    QTest::newRow("man page") << manPage("man/torvane.1");
    QTest::newRow("Japanese man page") << manPage("man/ja/torvane.1");
}

void TestDesktop::everyKeyIsListed()
{
    QFETCH(QString, text);
    QVERIFY(!text.isEmpty());
    Window w;
    // The keys bound to shortcuts and actions anywhere in the window, and those its controls take themselves.
    QList<QKeySequence> keys;
    for (const QShortcut* shortcut : w.form->findChildren<QShortcut*>()) {
        keys << shortcut->key();
    }
    for (const QAction* action : w.form->findChildren<QAction*>()) {
        keys << action->shortcuts();
    }
    QVERIFY(keys.size() >= 25);
    for (const char* key : {"Enter", "Shift+Enter", "Tab", "Shift+Tab", "Esc", "Backspace"}) {
        keys << QKeySequence::fromString(QString::fromLatin1(key));
    }
    for (const QKeySequence& key : std::as_const(keys)) {
        const QStringList ways = spellings(key);
        QVERIFY2(names(text, ways[0]) || names(text, ways[1]), qPrintable(ways[0]));
    }
}

void TestDesktop::labelsFitBesideTheirControls_data()
{
    QTest::addColumn<QString>("family");
    // The Japanese gothics the window asks for in place of its font, as far as they are installed here.
    Window w;
    for (const QString& family : QFontDatabase::families(QFontDatabase::Japanese)) {
        if (QFont::substitutes(w.form->font().family()).contains(family.toLower())) {
            QTest::newRow(qPrintable(family)) << family;
        }
    }
}

void TestDesktop::labelsFitBesideTheirControls()
{
    QFETCH(QString, family);
    Window w;
    QFont font = w.form->font();
    font.setFamily(family);
    w.form->setFont(font);
    w.form->resize(w.form->width() + 1, w.form->height());
    // The labels beside the settings and the field editor (the hidden find bar has its own).
    QWidget* page = w.find<QWidget>("TabSheet1");
    QList<QLabel*> labels = page->findChildren<QLabel*>();
    labels.removeIf([page](const QLabel* label) { return !label->isVisibleTo(page); });
    QCOMPARE(labels.size(), 7);
    for (const QLabel* label : labels) {
        QCOMPARE(QFontInfo(label->font()).family(), family);
        QVERIFY(label->font().pixelSize() >= 12);
        const int end = label->x() + label->fontMetrics().horizontalAdvance(label->text());
        for (const QWidget* other : label->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            const bool sameRow = other->y() < label->geometry().bottom() && label->y() < other->geometry().bottom();
            if (other != label && other->isVisible() && sameRow && other->x() > label->x()) {
                QVERIFY2(end <= other->x(), qPrintable(QStringLiteral("%1 ends at %2, %3 begins at %4")
                                                           .arg(label->text())
                                                           .arg(end)
                                                           .arg(other->objectName())
                                                           .arg(other->x())));
            }
        }
    }
}

QTEST_MAIN(TestDesktop)
#include "TestDesktop.moc"
