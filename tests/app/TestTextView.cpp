#include "textview/TTextView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <memory>

using namespace torvane;

namespace {

std::unique_ptr<TTextView> shownView(const QString& text, qsizetype cursor = 0)
{
    auto view = std::make_unique<TTextView>();
    view->resize(600, 300);
    view->setPlainText(text);
    view->setSelection(cursor, 0);
    view->show();
    view->activateWindow();
    view->setFocus();
    if (!QTest::qWaitForWindowExposed(view.get())) {
        return nullptr;
    }
    return view;
}

QPoint pointOf(const TTextView& view, int position)
{
    return view.cursorRect(position).center();
}

void sendInputMethod(TTextView& view, const QString& preedit, const QString& commit)
{
    QList<QInputMethodEvent::Attribute> attributes;
    attributes.append({QInputMethodEvent::Cursor, static_cast<int>(preedit.size()), 1, QVariant()});
    QInputMethodEvent event(preedit, attributes);
    if (!commit.isNull()) {
        event.setCommitString(commit);
    }
    QApplication::sendEvent(&view, &event);
}

// A user's road through the view, steps separated by '|':
//   type:TEXT    one key event per character (Japanese too, which QTest::keyClicks cannot send)
//   key:SEQ      a key with modifiers as QKeySequence writes it (key:Shift+Left, key:Ctrl+Z)
//   preedit:T    the input method's text being composed;  commit:T  the input method's final text
//   click:N  shiftclick:N  dclick:N  drag:A-B   the left mouse button at the caret places of positions
//   clip:T       puts T on the clipboard
void runScript(TTextView& view, const QString& script)
{
    for (const QString& step : script.split(u'|')) {
        const qsizetype colon = step.indexOf(u':');
        const QString verb = step.left(colon);
        const QString arg = step.mid(colon + 1);
        QWidget* viewport = view.viewport();
        if (verb == u"type") {
            for (const QChar c : arg) {
                QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
                QApplication::sendEvent(&view, &press);
            }
        } else if (verb == u"key") {
            const QKeyCombination combination = QKeySequence::fromString(arg)[0];
            QTest::keyClick(&view, combination.key(), combination.keyboardModifiers());
        } else if (verb == u"preedit") {
            sendInputMethod(view, arg, QString());
        } else if (verb == u"commit") {
            sendInputMethod(view, QString(), arg);
        } else if (verb == u"click" || verb == u"shiftclick") {
            QTest::mouseClick(viewport, Qt::LeftButton, verb == u"click" ? Qt::NoModifier : Qt::ShiftModifier,
                              pointOf(view, arg.toInt()));
        } else if (verb == u"dclick") {
            QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, pointOf(view, arg.toInt()));
        } else if (verb == u"drag") {
            const QStringList ends = arg.split(u'-');
            QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, pointOf(view, ends[0].toInt()));
            QTest::mouseMove(viewport, pointOf(view, ends[1].toInt()));
            QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, pointOf(view, ends[1].toInt()));
        } else if (verb == u"clip") {
            QGuiApplication::clipboard()->setText(arg);
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }
}

} // namespace

class TestTextView : public QObject {
    Q_OBJECT
private slots:
    void roads_data();
    void roads();
    void preeditShownInPlace();
    void signalsAndModified();
    void ctrlTabPassesToWindow();
    void drops_data();
    void drops();
    void contextMenu();
    void find_data();
    void find();
    void veryLongLineEditedInTheMiddle();
    void millionLinesEditedAtTheEnd();
    void widerLineFoundByPainting();
    void windowFont();
    void longLinesWrap_data();
    void longLinesWrap();
    void longLineKeyMeasuresAroundIt_data();
    void longLineKeyMeasuresAroundIt();
};

void TestTextView::roads_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<QString>("clipboard"); // null: not looked at

    const QString row = QStringLiteral("<ROW a=\"\"/>");
    QTest::newRow("Japanese through the input method")
        << row << 8 << QString::fromUtf8("preedit:にほん|preedit:日本|commit:日本語|commit:、")
        << QString::fromUtf8("<ROW a=\"日本語、\"/>") << 12 << 12 << QString();
    QTest::newRow("input method replaces the selection")
        << "abc" << 0 << QString::fromUtf8("key:Shift+Right|preedit:か|commit:火") << QString::fromUtf8("火bc") << 1
        << 1 << QString();
    QTest::newRow("Shift+arrows select, Ctrl+C copies")
        << "abc def" << 0 << "key:Shift+Right|key:Shift+Right|key:Ctrl+C"
        << "abc def" << 0 << 2 << "ab";
    QTest::newRow("Ctrl+X then Ctrl+V elsewhere")
        << "abc def" << 0 << "key:Ctrl+Shift+Right|key:Ctrl+X|key:End|key:Ctrl+V"
        << "defabc " << 7 << 7 << "abc ";
    QTest::newRow("pasted CR LF becomes line breaks") << "xy" << 1 << "clip:a\r\nb\rc|key:Ctrl+V"
                                                      << "xa\nb\ncy" << 8 << 8 << QString();
    QTest::newRow("Enter and Shift+Enter break lines") << "ab" << 1 << "key:Return|key:Shift+Return"
                                                       << "a\n\nb" << 5 << 5 << QString();
    QTest::newRow("Tab inserts a tab") << "ab" << 1 << "key:Tab"
                                       << "a\tb" << 2 << 2 << QString();
    QTest::newRow("Backspace and Delete") << "ab日本cd" << 3 << "key:Backspace|key:Delete|key:Backspace"
                                          << "acd" << 1 << 1 << QString();
    QTest::newRow("typing replaces the selection") << "abcd" << 0 << "key:Shift+Right|key:Shift+Right|type:XY"
                                                   << "XYcd" << 2 << 2 << QString();
    QTest::newRow("Ctrl+Z undoes a typing run, Ctrl+Y redoes it") << "ab" << 2 << "type:xyz|key:Ctrl+Z"
                                                                  << "ab" << 2 << 2 << QString();
    QTest::newRow("Ctrl+Y and Ctrl+Shift+Z redo")
        << "ab" << 2 << "type:x|key:Left|type:y|key:Ctrl+Z|key:Ctrl+Z|key:Ctrl+Y|key:Ctrl+Shift+Z"
        << "abyx" << 3 << 3 << QString();
    QTest::newRow("click, then Shift+click selects") << "hello world" << 0 << "click:2|shiftclick:7"
                                                     << "hello world" << 2 << 7 << QString();
    QTest::newRow("mouse drag selects") << "hello world" << 0 << "drag:1-4"
                                        << "hello world" << 1 << 4 << QString();
    QTest::newRow("double-click selects a word") << "hello world" << 0 << "dclick:8"
                                                 << "hello world" << 6 << 11 << QString();
    // Positions count a line break as the two characters CR LF, as the view holds it.
    QTest::newRow("Home, Shift+End, Shift+Down") << "ab\ncd\nef" << 5 << "key:Home|key:Shift+End|key:Shift+Down"
                                                 << "ab\ncd\nef" << 4 << 10 << QString();
    QTest::newRow("Up and Down keep the column") << "abcd\nx\nabcd" << 3 << "key:Down|key:Down"
                                                 << "abcd\nx\nabcd" << 12 << 12 << QString();
    QTest::newRow("Up on the first line stays, Shift+Up selects to the start")
        << "ab\ncd" << 1 << "key:Up|key:Down|key:Up|key:Up|key:Shift+Up"
        << "ab\ncd" << 1 << 0 << QString();
    QTest::newRow("double-click selects a kanji name, Ctrl+Backspace takes one back")
        << QString::fromUtf8("<A N=\"山田太郎\"/>") << 0 << "dclick:8|key:Right|key:Ctrl+Backspace"
        << QString::fromUtf8("<A N=\"\"/>") << 6 << 6 << QString();
    QTest::newRow("Ctrl+Right steps over kana words and punctuation runs")
        << QString::fromUtf8("さくら ヤマダ=\"x") << 0 << "key:Ctrl+Right|key:Ctrl+Shift+Right|key:Ctrl+Shift+Right"
        << QString::fromUtf8("さくら ヤマダ=\"x") << 4 << 9 << QString();
    QTest::newRow("Ctrl+Home and Ctrl+Shift+End") << "ab\ncd" << 4 << "key:Ctrl+Home|key:Ctrl+Shift+End"
                                                  << "ab\ncd" << 0 << 6 << QString();
    QTest::newRow("Backspace at a line's start, Delete at a line's end")
        << "ab\ncd\nef" << 4 << "key:Backspace|key:End|key:Delete"
        << "abcdef" << 4 << 4 << QString();
    QTest::newRow("Ctrl+A, then typing replaces all") << "abc\ndef" << 1 << "key:Ctrl+A|key:Ctrl+C|type:z"
                                                      << "z" << 1 << 1 << "abc\ndef";
    QTest::newRow("Right over a surrogate pair") << QString::fromUtf8("a😀b") << 1 << "key:Shift+Right|key:Ctrl+C"
                                                 << QString::fromUtf8("a😀b") << 1 << 3 << QString::fromUtf8("😀");
}

void TestTextView::roads()
{
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(QString, script);
    QFETCH(QString, clipboard);

    QGuiApplication::clipboard()->clear();
    const auto view = shownView(text, start);
    QVERIFY(view);
    runScript(*view, script);
    QTEST(view->toPlainText(), "expected");
    QTEST(static_cast<int>(view->cursorPosition()), "cursor");
    QFETCH(int, anchor);
    QCOMPARE(static_cast<int>(view->cursorPosition() == view->selectionStart() ? view->selectionEnd()
                                                                               : view->selectionStart()),
             anchor);
    if (!clipboard.isNull()) {
        QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
    }
    // Never a U+2028 line separator, whatever road was taken.
    QVERIFY(!view->toPlainText().contains(QChar::LineSeparator));
    QCOMPARE(view->lineCount(), static_cast<int>(view->toPlainText().count(u'\n')) + 1);
}

void TestTextView::preeditShownInPlace()
{
    const auto view = shownView(QStringLiteral("<ROW a=\"\"/>"), 8);
    QVERIFY(view);
    const QRect before = view->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    sendInputMethod(*view, QString::fromUtf8("にほん"), QString());
    // Composing changes no text, but the caret stands after the composed text, where the input method puts
    // its candidate window.
    QCOMPARE(view->toPlainText(), QStringLiteral("<ROW a=\"\"/>"));
    QVERIFY(!view->isModified());
    const QRect during = view->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    QCOMPARE(during.top(), before.top());
    QVERIFY2(during.left() > before.left() + 20,
             qPrintable(QStringLiteral("%1 %2").arg(during.left()).arg(before.left())));
    QCOMPARE(view->inputMethodQuery(Qt::ImSurroundingText).toString(), QStringLiteral("<ROW a=\"\"/>"));
    QCOMPARE(view->inputMethodQuery(Qt::ImCursorPosition).toInt(), 8);
    QVERIFY(view->inputMethodQuery(Qt::ImEnabled).toBool());
    // The composed text is drawn: the line's pixels differ from those without it.
    const QImage composing = view->viewport()->grab().toImage();
    sendInputMethod(*view, QString(), QString());
    const QImage cancelled = view->viewport()->grab().toImage();
    QVERIFY(composing != cancelled);
    QCOMPARE(view->inputMethodQuery(Qt::ImCursorRectangle).toRect(), before);
    sendInputMethod(*view, QString::fromUtf8("にほん"), QString());
    sendInputMethod(*view, QString(), QString::fromUtf8("日本"));
    QCOMPARE(view->toPlainText(), QString::fromUtf8("<ROW a=\"日本\"/>"));
    QCOMPARE(view->inputMethodQuery(Qt::ImTextBeforeCursor).toString(), QString::fromUtf8("<ROW a=\"日本"));
}

void TestTextView::signalsAndModified()
{
    const auto view = shownView(QString());
    QVERIFY(view);
    QSignalSpy changed(view.get(), &TTextView::textChanged);
    QSignalSpy modification(view.get(), &TTextView::modificationChanged);

    view->setPlainText(QStringLiteral("<a>\r\n<b/>\r\n</a>"));
    QCOMPARE(changed.count(), 1); // a set text is a change too
    QCOMPARE(view->lineCount(), 3);
    QCOMPARE(view->toPlainText(), QStringLiteral("<a>\n<b/>\n</a>"));
    QVERIFY(!view->isModified());
    QCOMPARE(modification.count(), 0);

    runScript(*view, QStringLiteral("key:Down|key:End|type:xy"));
    QCOMPARE(changed.count(), 3);
    QVERIFY(view->isModified());
    QCOMPARE(modification.count(), 1);
    QCOMPARE(modification.last().at(0).toBool(), true);
    QCOMPARE(view->crLfText(), QStringLiteral("<a>\r\n<b/>xy\r\n</a>"));

    view->setModified(false); // saved
    QCOMPARE(modification.last().at(0).toBool(), false);
    runScript(*view, QStringLiteral("key:Ctrl+Z"));
    QCOMPARE(view->toPlainText(), QStringLiteral("<a>\n<b/>\n</a>"));
    QVERIFY(view->isModified());
    QCOMPARE(changed.count(), 4);
    runScript(*view, QStringLiteral("key:Ctrl+Y"));
    QVERIFY(!view->isModified()); // back to what was saved
    QCOMPARE(modification.count(), 4);

    view->setModified(true);
    view->setPlainText(QStringLiteral("new"));
    QVERIFY(!view->isModified());
    QVERIFY(!view->isUndoAvailable());
    QCOMPARE(changed.count(), 6);
    QCOMPARE(modification.last().at(0).toBool(), false);
}

void TestTextView::ctrlTabPassesToWindow()
{
    QWidget window;
    auto* view = new TTextView(&window);
    view->setPlainText(QStringLiteral("ab"));
    window.resize(400, 200);
    view->resize(400, 200);
    int next = 0;
    int previous = 0;
    auto* nextPage = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), &window);
    connect(nextPage, &QShortcut::activated, &window, [&] { ++next; });
    auto* previousPage = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), &window);
    connect(previousPage, &QShortcut::activated, &window, [&] { ++previous; });
    window.show();
    window.activateWindow();
    view->setFocus();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QTest::keyClick(view, Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(next, 1);
    QCOMPARE(previous, 1);
    QCOMPARE(view->toPlainText(), QStringLiteral("ab"));
    // A plain Tab stays in the text and keeps the focus.
    QTest::keyClick(view, Qt::Key_Tab);
    QCOMPARE(view->toPlainText(), QStringLiteral("\tab"));
    QVERIFY(view->hasFocus());
}

void TestTextView::drops_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("expected");

    QTest::newRow("text is inserted where dropped")
        << QString::fromUtf8("日本\r\n語") << QString() << true << QString::fromUtf8("ab日本\n語cd");
    QTest::newRow("a file is left to the window") << "/tmp/x.xml"
                                                  << "file:///tmp/x.xml" << false << "abcd";
    QTest::newRow("a web address is text") << "https://example.org/"
                                           << "https://example.org/" << true << "abhttps://example.org/cd";
}

void TestTextView::drops()
{
    QFETCH(QString, text);
    QFETCH(QString, url);
    QFETCH(bool, accepted);

    const auto view = shownView(QStringLiteral("abcd"));
    QVERIFY(view);
    QMimeData mime;
    mime.setText(text);
    if (!url.isEmpty()) {
        mime.setUrls({QUrl(url)});
    }
    const QPointF at = pointOf(*view, 2);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &enter);
    QCOMPARE(enter.isAccepted(), accepted);
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &drop);
    QCOMPARE(drop.isAccepted(), accepted);
    QTEST(view->toPlainText(), "expected");
    if (accepted) {
        QCOMPARE(drop.dropAction(), Qt::CopyAction); // the source keeps its text
    }
}

void TestTextView::contextMenu()
{
    const auto view = shownView(QStringLiteral("abc def"));
    QVERIFY(view);
    QGuiApplication::clipboard()->clear();
    const auto captions = [](QMenu* menu) {
        QStringList out;
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                out << action->text() + (action->isEnabled() ? QString() : QStringLiteral("-"));
            }
        }
        return out;
    };
    const auto trigger = [&](const char* caption) {
        std::unique_ptr<QMenu> menu(view->createContextMenu());
        for (QAction* action : menu->actions()) {
            if (action->text() == QString::fromUtf8(caption)) {
                action->trigger();
                return;
            }
        }
        QFAIL(caption);
    };
    {
        std::unique_ptr<QMenu> menu(view->createContextMenu());
        QCOMPARE(
            captions(menu.get()),
            QString::fromUtf8("元に戻す(&U)- やり直す(&R)- 切り取り(&T)- コピー(&C)- 貼り付け(&P)- 削除- すべてを選択")
                .split(u' '));
    }
    trigger("すべてを選択");
    QCOMPARE(view->selectedText(), QStringLiteral("abc def"));
    trigger("コピー(&C)");
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("abc def"));
    view->setSelection(3, 4);
    trigger("削除");
    QCOMPARE(view->toPlainText(), QStringLiteral("abc"));
    trigger("貼り付け(&P)");
    QCOMPARE(view->toPlainText(), QStringLiteral("abcabc def"));
    {
        std::unique_ptr<QMenu> menu(view->createContextMenu());
        QCOMPARE(
            captions(menu.get()),
            QString::fromUtf8("元に戻す(&U) やり直す(&R)- 切り取り(&T)- コピー(&C)- 貼り付け(&P) 削除- すべてを選択")
                .split(u' '));
    }
    trigger("元に戻す(&U)");
    QCOMPARE(view->toPlainText(), QStringLiteral("abc"));
    trigger("やり直す(&R)");
    QCOMPARE(view->toPlainText(), QStringLiteral("abcabc def"));
    view->setSelection(0, 3);
    trigger("切り取り(&T)");
    QCOMPARE(view->toPlainText(), QStringLiteral("abc def"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("abc"));
}

void TestTextView::find_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<bool>("backward");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<bool>("wrap");
    QTest::addColumn<int>("found"); // selection start, -1: not found and the selection stays

    const QString text = QString::fromUtf8("<ROW 名前=\"Abc\"/>\n<ROW 名前=\"abc\"/>");
    QTest::newRow("forward, any case") << text << 0 << "ABC" << false << false << true << 9;
    QTest::newRow("forward, case") << text << 0 << "abc" << false << true << true << 26;
    QTest::newRow("forward wraps") << text << 29 << "abc" << false << false << true << 9;
    QTest::newRow("forward without wrap") << text << 29 << "abc" << false << false << false << -1;
    QTest::newRow("backward") << text << 26 << "abc" << true << false << false << 9;
    QTest::newRow("backward wraps") << text << 5 << "abc" << true << false << true << 26;
    QTest::newRow("Japanese over a line break")
        << text << 0 << QString::fromUtf8(">\n<ROW 名前") << false << true << false << 14;
    QTest::newRow("absent") << text << 0 << "xyz" << false << false << true << -1;
}

void TestTextView::find()
{
    QFETCH(QString, text);
    QFETCH(int, from);
    QFETCH(QString, needle);
    QFETCH(bool, backward);
    QFETCH(bool, caseSensitive);
    QFETCH(bool, wrap);
    QFETCH(int, found);

    const auto view = shownView(text, from);
    QVERIFY(view);
    QCOMPARE(view->find(needle, backward, caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive, wrap), found >= 0);
    QCOMPARE(static_cast<int>(view->selectionStart()), found >= 0 ? found : from);
    QCOMPARE(view->selectedText().size(), found >= 0 ? needle.size() : 0);
    if (found >= 0) {
        QCOMPARE(view->selectedText().compare(needle, Qt::CaseInsensitive), 0);
    }
}

void TestTextView::veryLongLineEditedInTheMiddle()
{
    // A 4 MB single-line packet, as images in base64 make them.
    QString line = QStringLiteral("<ROW IMAGE=\"");
    for (int i = 0; i < 4 * 1024 * 1024; ++i) {
        line += QChar(u'A' + i % 26);
    }
    line += QString::fromUtf8("\" 名前=\"山田\"/>");
    const auto view = shownView(QStringLiteral("<ROWDATA>\n") + line + QStringLiteral("\n</ROWDATA>"));
    QVERIFY(view);
    const qsizetype middle = 11 + line.size() / 2;
    view->setSelection(middle, 0);
    runScript(*view, QString::fromUtf8("type:xy|commit:日本|key:Shift+Left"));
    QCOMPARE(view->crLfText().mid(middle - 1, 5), QString(line.at(line.size() / 2 - 1)) + QString::fromUtf8("xy日本"));
    QCOMPARE(view->lineCount(), 3);
    QCOMPARE(view->selectedText(), QString::fromUtf8("本"));

    // The line wraps: no sideways scrolling, the caret is on screen many rows down, and drawn where
    // clicking puts it.
    QVERIFY(!view->horizontalScrollBar()->isVisible());
    const QRect caret = view->cursorRect();
    QVERIFY(view->viewport()->rect().contains(caret.center()));
    QVERIFY(view->verticalScrollBar()->value() > 1000);
    QCOMPARE(view->positionAt(caret.center()), view->cursorPosition());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->cursorRect(middle + 1).center());
    QCOMPARE(view->cursorPosition(), middle + 1);

    // The line's end and its Japanese text, then back to the start.
    runScript(*view,
              QStringLiteral("key:End|key:Shift+Left|key:Shift+Left|key:Shift+Left|key:Shift+Left|key:Shift+Left"));
    QCOMPARE(view->selectedText(), QString::fromUtf8("山田\"/>"));
    QVERIFY(view->viewport()->rect().contains(view->cursorRect().center()));
    runScript(*view, QStringLiteral("key:Home"));
    QCOMPARE(view->verticalScrollBar()->value(), 1);
    QVERIFY(view->viewport()->rect().contains(view->cursorRect().center()));
    // What was typed and committed there is one undo step.
    runScript(*view, QStringLiteral("key:Ctrl+Z"));
    QCOMPARE(view->toPlainText(), QStringLiteral("<ROWDATA>\n") + line + QStringLiteral("\n</ROWDATA>"));
    QVERIFY(!view->isUndoAvailable());
}

void TestTextView::millionLinesEditedAtTheEnd()
{
    QString text;
    text.reserve(1000000 * 24);
    for (int i = 0; i < 1000000; ++i) {
        text += QStringLiteral("<ROW N=\"%1\"/>\n").arg(i);
    }
    text.chop(1);
    const auto view = shownView(text);
    QVERIFY(view);
    QCOMPARE(view->lineCount(), 1000000);
    runScript(*view, QString::fromUtf8("key:Ctrl+End|key:Return|type:東京"));
    QCOMPARE(view->lineCount(), 1000001);
    QCOMPARE(view->buffer().lineText(1000000).toString(), QString::fromUtf8("東京"));
    QCOMPARE(view->buffer().lineText(999999).toString(), QStringLiteral("<ROW N=\"999999\"/>"));
    QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
    QVERIFY(view->viewport()->rect().contains(view->cursorRect().center()));

    view->goToLine(500001);
    QCOMPARE(view->cursorPosition(), view->buffer().lineStart(500000));
    QVERIFY(view->viewport()->rect().contains(view->cursorRect().center()));
    QVERIFY(view->find(QStringLiteral("N=\"123456\"")));
    QCOMPARE(view->buffer().lineOf(view->cursorPosition()), 123456);
    QVERIFY(view->viewport()->rect().contains(view->cursorRect().center()));
    runScript(*view, QStringLiteral("key:Ctrl+Z|key:Ctrl+Z"));
    QCOMPARE(view->toPlainText(), text);
}

void TestTextView::widerLineFoundByPainting()
{
    // Lines off screen count rows estimated from their length; a line of fewer but wider characters wraps
    // into more rows once it is painted, and the vertical range follows after the paint.
    QStringList lines(1, QString(199, QChar(u'漢')));
    lines.append(QStringList(40, QString(20, u'.')));
    const auto view = shownView(lines.join(u'\n'));
    QVERIFY(view);
    const QFontMetricsF metrics(view->font());
    const int wideRows = static_cast<int>(metrics.horizontalAdvance(lines.first()) / view->viewport()->width());
    QVERIFY(wideRows >= 2);
    QScrollBar* vertical = view->verticalScrollBar();
    QTRY_VERIFY(vertical->maximum() + vertical->pageStep() >= 40 + wideRows);
    runScript(*view, QStringLiteral("key:Ctrl+End"));
    QVERIFY(view->viewport()->rect().contains(view->cursorRect().center()));
}

void TestTextView::windowFont()
{
    QWidget window;
    auto* view = new TTextView(&window);
    view->resize(400, 200); // wide enough that the line does not wrap in the large font either
    view->setPlainText(QString::fromUtf8("日本語 abc"));
    QFont small = window.font();
    small.setPixelSize(10);
    window.setFont(small);
    const int smallHeight = view->cursorRect(3).height();
    const int smallX = view->cursorRect(3).x();
    QFont large = small;
    large.setPixelSize(30);
    window.setFont(large);
    QCOMPARE(view->font().pixelSize(), 30);
    QVERIFY(view->cursorRect(3).height() > 2 * smallHeight);
    QVERIFY(view->cursorRect(3).x() > 2 * smallX);
}

void TestTextView::longLinesWrap_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("spaces"); // rows break after a space, else anywhere
    QString base64;
    for (int i = 0; i < 3000; ++i) {
        base64 += QLatin1Char("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[(i * 7) % 64]);
    }
    QTest::newRow("base64, no spaces") << base64 << false;
    QString row = QStringLiteral("<ROW");
    for (int field = 1; field <= 60; ++field) {
        row += QString::fromUtf8(" FIELD%1=\"東京都千代田区 %1\"").arg(field);
    }
    QTest::newRow("a record's attributes") << row + QStringLiteral("/>") << true;
    // In the 600-pixel view two words never share a row, and a word's first letter fits beside another.
    const QString word(static_cast<int>(330 / QFontMetricsF(QApplication::font()).horizontalAdvance(u'A')), u'A');
    QTest::newRow("words half a row wide") << QStringList(30, word).join(u' ') << true;
}

// Every row of a wrapped line fits the view; clicks, Down and the caret agree on positions; a narrower
// view wraps into more rows.
void TestTextView::longLinesWrap()
{
    QFETCH(QString, line);
    QFETCH(bool, spaces);
    const auto view = shownView(QStringLiteral("<ROWDATA>\n") + line + QStringLiteral("\n</ROWDATA>"), 11);
    QVERIFY(view);
    QVERIFY(!view->horizontalScrollBar()->isVisible());
    const qsizetype start = 11;
    const qsizetype end = start + line.size();
    const int width = view->viewport()->width();
    int rows = 1;
    qsizetype secondRow = -1;
    int top = view->cursorRect(start).top();
    for (qsizetype position = start; position < end; ++position) {
        const QRect caret = view->cursorRect(position);
        QVERIFY2(caret.right() < width, qPrintable(QString::number(position)));
        if (caret.top() != top) {
            // A new row: one row further down, starting at the left margin, after a space where there are
            // spaces.
            QCOMPARE(caret.top(), top + caret.height());
            QVERIFY(caret.left() < 8);
            QCOMPARE(view->crLfText().at(position - 1) == u' ', spaces);
            top = caret.top();
            ++rows;
            secondRow = secondRow < 0 ? position : secondRow;
        }
        if (caret.top() >= 0 && caret.bottom() < view->viewport()->height()) {
            QCOMPARE(view->positionAt(caret.center() + QPoint(1, 0)), position);
        }
    }
    QVERIFY(rows > 3);
    QCOMPARE(view->cursorRect(end + 2).top(), top + view->cursorRect(end).height()); // the next line's row

    // Down goes a row down in the same line, keeping its x.
    view->setSelection(start + 5, 0);
    const QRect before = view->cursorRect();
    QTest::keyClick(view.get(), Qt::Key_Down);
    QCOMPARE(view->buffer().lineOf(view->cursorPosition()), 1);
    QCOMPARE(view->cursorRect().top(), before.top() + before.height());
    QVERIFY(std::abs(view->cursorRect().left() - before.left()) < 20);

    // The word starting the second row cut to its first letter (which may then go up to the first row), and
    // text typed into the middle: the line wraps as it would wrapped afresh.
    const qsizetype space = line.indexOf(u' ', secondRow - start);
    const qsizetype wordEnd = std::min(space < 0 ? end : start + space, secondRow + 100);
    view->setSelection(secondRow + 1, wordEnd - secondRow - 1);
    runScript(*view, QStringLiteral("key:Delete"));
    view->setSelection(start + line.size() / 2, 0);
    runScript(*view, QStringLiteral("type:wrap it |key:Backspace|key:Backspace|key:Backspace"));
    const auto fresh = shownView(view->toPlainText());
    QVERIFY(fresh);
    const auto place = [&](const TTextView& v, qsizetype position) {
        return v.cursorRect(position).topLeft() - v.cursorRect(start).topLeft();
    };
    for (qsizetype position = start; position < start + view->buffer().lineLength(1); ++position) {
        QCOMPARE(place(*view, position), place(*fresh, position));
    }

    // Narrower, the line takes more rows; the caret stays where it was in the text and on screen.
    const int maximum = view->verticalScrollBar()->maximum();
    const qsizetype caret = view->cursorPosition();
    view->resize(view->width() / 2, view->height());
    QTRY_VERIFY(view->verticalScrollBar()->maximum() > maximum);
    QCOMPARE(view->cursorPosition(), caret);
    QVERIFY(view->cursorRect().right() < view->viewport()->width());
    QCOMPARE(view->positionAt(view->cursorRect().center()), caret);
}

void TestTextView::longLineKeyMeasuresAroundIt_data()
{
    QTest::addColumn<double>("at"); // where in the line the caret is, as a fraction of its length
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("keys");
    QTest::newRow("typed at the start") << 0.0 << QStringLiteral("type:AAA") << 3;
    QTest::newRow("typed in the middle") << 0.5 << QStringLiteral("type:A") << 1;
    QTest::newRow("deleted in the middle") << 0.5 << QStringLiteral("key:Backspace|key:Delete") << 2;
    QTest::newRow("typed and undone") << 0.25 << QStringLiteral("type:AA|key:Ctrl+Z") << 3;
    QTest::newRow("broken in two and joined") << 0.5 << QStringLiteral("key:Return|key:Backspace|key:Return") << 3;
}

// A key in a long line without spaces whose rows never fall in step with the old ones again (each as
// many letters wide as the others) measures the characters around it, not the line, also where it breaks
// the line in two or joins two; the rest of the line is rewrapped while the view is idle, into the rows a
// fresh wrap gives.
void TestTextView::longLineKeyMeasuresAroundIt()
{
    QFETCH(double, at);
    QFETCH(QString, script);
    QFETCH(int, keys);
    const QString line = QStringLiteral("<ROW IMAGE=\"") + QString(400000, u'A') + QStringLiteral("\"/>");
    const qsizetype start = 11;
    const auto view = shownView(QStringLiteral("<ROWDATA>\n") + line + QStringLiteral("\n</ROWDATA>"),
                                start + 12 + static_cast<qsizetype>(at * 400000));
    QVERIFY(view);
    const qsizetype measured = view->measuredCharacters();
    runScript(*view, script);
    QVERIFY2(view->measuredCharacters() - measured <= keys * 40000,
             qPrintable(QString::number(view->measuredCharacters() - measured)));
    QVERIFY(view->viewport()->rect().contains(view->cursorRect().center()));
    QTRY_VERIFY(!view->isWrapping());

    const auto fresh = shownView(view->toPlainText());
    QVERIFY(fresh);
    const auto place = [&](const TTextView& v, qsizetype position) {
        return v.cursorRect(position).topLeft() - v.cursorRect(start).topLeft();
    };
    for (int line = 1; line + 1 < view->lineCount(); ++line) {
        const qsizetype end = view->buffer().lineEnd(line);
        for (qsizetype position = view->buffer().lineStart(line); position < end + 997; position += 997) {
            QCOMPARE(place(*view, std::min(position, end)), place(*fresh, std::min(position, end)));
        }
    }
    QTRY_COMPARE(view->verticalScrollBar()->maximum(), fresh->verticalScrollBar()->maximum());
}

QTEST_MAIN(TestTextView)
#include "TestTextView.moc"
