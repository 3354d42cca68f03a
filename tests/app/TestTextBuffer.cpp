#include "textview/TTextBuffer.h"

#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

using namespace torvane;

namespace {

// The line index must always be the one a fresh scan of the text gives.
void checkIndex(const TTextBuffer& buffer)
{
    TTextBuffer fresh;
    fresh.setText(buffer.text());
    QCOMPARE(buffer.lineCount(), fresh.lineCount());
    for (int line = 0; line < fresh.lineCount(); ++line) {
        QCOMPARE(buffer.lineStart(line), fresh.lineStart(line));
    }
    for (qsizetype position = 0; position <= buffer.size(); ++position) {
        if (position < buffer.size() && buffer.text().at(position) == u'\n') {
            QVERIFY(position > 0 && buffer.text().at(position - 1) == u'\r'); // no lone LF, no position inside a break
            continue;
        }
        const int line = buffer.lineOf(position);
        QCOMPARE(buffer.positionOf(line, buffer.columnOf(position)), position);
        QVERIFY(buffer.lineStart(line) <= position && position <= buffer.lineEnd(line));
    }
}

} // namespace

class TestTextBuffer : public QObject {
    Q_OBJECT
private slots:
    void edits_data();
    void edits();
    void undoGrouping_data();
    void undoGrouping();
    void lineBreaks_data();
    void lineBreaks();
    void moves_data();
    void moves();
    void wordsAsQtsEditorsHaveThem_data();
    void wordsAsQtsEditorsHaveThem();
};

void TestTextBuffer::edits_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QString>("edits"); // position:length:text, separated by ';'
    QTest::addColumn<QString>("expected");

    // Inserted line breaks of any form are held as CR LF.
    QTest::newRow("insert lines in the middle") << "ab\r\ncd\r\nef"
                                                << "5:0:X\nY\r"
                                                << "ab\r\ncX\r\nY\r\nd\r\nef";
    QTest::newRow("remove across lines") << "ab\r\ncd\r\nef\r\ngh"
                                         << "1:8:"
                                         << "af\r\ngh";
    QTest::newRow("replace lines by lines") << "ab\r\ncd\r\nef"
                                            << "2:6:\r\n1\r\n2\r\n"
                                            << "ab\r\n1\r\n2\r\nef";
    QTest::newRow("join at the end, then break the first") << "a\r\nb\r\n"
                                                           << "4:2:;0:0:\r\n"
                                                           << "\r\na\r\nb";
    QTest::newRow("edits one after another") << ""
                                             << "0:0:一\n二;1:0:x;0:2:;0:0:\n\n"
                                             << "\r\n\r\n\r\n二";
    // Between a CR and its LF: an insertion goes before the break, a removal takes the break whole.
    QTest::newRow("edits never split a break") << "ab\r\ncd"
                                               << "3:0:X;4:1:;1:2:"
                                               << "acd";
    QTest::newRow("past the end is clamped") << "ab"
                                             << "9:3:c"
                                             << "abc";
}

void TestTextBuffer::edits()
{
    QFETCH(QString, initial);
    QFETCH(QString, edits);
    QFETCH(QString, expected);

    TTextBuffer buffer;
    buffer.setText(initial);
    QVERIFY(!buffer.isModified());
    int steps = 0;
    for (const QString& edit : edits.split(u';')) {
        const QStringList parts = edit.split(u':');
        buffer.replace(parts[0].toInt(), parts[1].toInt(), parts[2]);
        ++steps;
        checkIndex(buffer);
    }
    QCOMPARE(buffer.text(), expected);
    QVERIFY(buffer.isModified());

    // Back to the start and forward again, one step per edit, the index right all the way.
    for (int i = 0; i < steps; ++i) {
        QVERIFY(buffer.undo().has_value());
        checkIndex(buffer);
    }
    QVERIFY(!buffer.canUndo());
    QCOMPARE(buffer.text(), initial);
    QVERIFY(!buffer.isModified());
    while (buffer.redo()) {
        checkIndex(buffer);
    }
    QCOMPARE(buffer.text(), expected);
}

void TestTextBuffer::undoGrouping_data()
{
    // A script from the caret at the text's end: tXY types X then Y, <N Backspace N times, >N Delete N
    // times, eT inserts T as an own step, @N moves the caret to N, s marks the text unmodified.
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("steps");
    QTest::addColumn<QString>("afterOneUndo");
    QTest::addColumn<bool>("modifiedAfterOneUndo");

    QTest::newRow("typing run is one step") << "tXYZ"
                                            << "abcXYZ" << 1 << "abc" << false;
    QTest::newRow("a caret move ends the run") << "tXY @0 tZ"
                                               << "ZabcXY" << 2 << "abcXY" << true;
    QTest::newRow("Backspace run") << "<2"
                                   << "a" << 1 << "abc" << false;
    QTest::newRow("Delete run") << "@0 >2"
                                << "c" << 1 << "abc" << false;
    QTest::newRow("typing then Backspace") << "tXY <1"
                                           << "abcX" << 2 << "abcXY" << true;
    QTest::newRow("line break is its own step") << "tX e\r\n tY"
                                                << "abcX\r\nY" << 3 << "abcX\r\n"
                                                << true;
    QTest::newRow("Backspace at a line's start") << "e\r\n <1"
                                                 << "abc" << 2 << "abc\r\n"
                                                 << true;
    QTest::newRow("save point ends the run") << "tX s tY"
                                             << "abcXY" << 2 << "abcX" << false;
    QTest::newRow("Japanese typing") << "t日本語"
                                     << "abc日本語" << 1 << "abc" << false;
}

void TestTextBuffer::undoGrouping()
{
    QFETCH(QString, script);
    QFETCH(QString, expected);
    QFETCH(int, steps);
    QFETCH(QString, afterOneUndo);
    QFETCH(bool, modifiedAfterOneUndo);

    TTextBuffer buffer;
    buffer.setText(QStringLiteral("abc"));
    qsizetype caret = buffer.size();
    for (const QString& op : script.split(u' ')) {
        const QString rest = op.mid(1);
        switch (op.at(0).unicode()) {
        case u't':
            for (const QChar c : rest) {
                buffer.replace(caret++, 0, QString(c), TEditKind::Typing);
            }
            break;
        case u'<':
            for (int i = 0; i < rest.toInt(); ++i) {
                buffer.replace(--caret, 1, QString(), TEditKind::Deleting);
            }
            break;
        case u'>':
            for (int i = 0; i < rest.toInt(); ++i) {
                buffer.replace(caret, 1, QString(), TEditKind::Deleting);
            }
            break;
        case u'e':
            buffer.replace(caret, 0, rest);
            caret += rest.size();
            break;
        case u'@':
            caret = rest.toInt();
            buffer.endMerge();
            break;
        case u's':
            buffer.setModified(false);
            break;
        }
    }
    QCOMPARE(buffer.text(), expected);
    int undone = 0;
    TTextBuffer copy = buffer;
    while (copy.undo()) {
        ++undone;
    }
    QCOMPARE(undone, steps);
    QCOMPARE(copy.text(), QStringLiteral("abc"));
    QVERIFY(buffer.undo().has_value());
    QCOMPARE(buffer.text(), afterOneUndo);
    QCOMPARE(buffer.isModified(), modifiedAfterOneUndo);
    // A new edit after undo drops the redo, and a state that cannot come back is never unmodified.
    buffer.replace(0, 0, QStringLiteral("!"), TEditKind::Typing);
    QVERIFY(!buffer.canRedo());
    QVERIFY(buffer.isModified());
}

void TestTextBuffer::lineBreaks_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("held");
    QTest::addColumn<int>("lines");

    QTest::newRow("CR LF") << "<a>\r\n<b/>\r\n"
                           << "<a>\r\n<b/>\r\n"
                           << 3;
    QTest::newRow("lone CR and LF") << "a\rb\nc"
                                    << "a\r\nb\r\nc" << 3;
    QTest::newRow("LF then CR is two breaks") << "a\n\rb"
                                              << "a\r\n\r\nb" << 3;
    QTest::newRow("CR at the end") << "a\r\nb\r"
                                   << "a\r\nb\r\n"
                                   << 3;
    // Longer texts go eight characters at a time; a break may straddle two blocks.
    QTest::newRow("breaks across blocks") << "1234567\r\n123456\r\n\r\nabcdefghij"
                                          << "1234567\r\n123456\r\n\r\nabcdefghij" << 4;
    QTest::newRow("lone LF starting a block") << "12345678\nabcdefghij\r\n"
                                              << "12345678\r\nabcdefghij\r\n"
                                              << 3;
    QTest::newRow("lone CR ending a block") << "1234567\rabcdefghij"
                                            << "1234567\r\nabcdefghij" << 2;
    QTest::newRow("no break") << "東京"
                              << "東京" << 1;
    QTest::newRow("empty") << ""
                           << "" << 1;
}

void TestTextBuffer::lineBreaks()
{
    QFETCH(QString, given);
    QFETCH(QString, held);
    QFETCH(int, lines);

    TTextBuffer buffer;
    buffer.setText(given);
    QCOMPARE(buffer.text(), held);
    QCOMPARE(buffer.lineCount(), lines);
    checkIndex(buffer);
    // A text whose breaks are all CR LF is held as it was given, not copied.
    QCOMPARE(buffer.text().constData() == given.constData(), given == held);
}

void TestTextBuffer::moves_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("previous");
    QTest::addColumn<int>("nextWord");
    QTest::addColumn<int>("previousWord");
    QTest::addColumn<int>("wordStart");
    QTest::addColumn<int>("wordEnd");

    QTest::newRow("inside an ASCII word") << "<ROW a=\"1\"/>" << 2 << 3 << 1 << 5 << 1 << 1 << 4;
    QTest::newRow("surrogate pair is one step") << QString::fromUtf8("a😀b") << 1 << 3 << 0 << 4 << 0 << 0 << 4;
    QTest::newRow("combining mark goes with its letter")
        << QString::fromUtf8("xe\u0301 y") << 1 << 3 << 0 << 4 << 0 << 0 << 3;
    QTest::newRow("line break is one step, forward") << "ab\r\ncd" << 2 << 4 << 1 << 4 << 0 << 0 << 2;
    QTest::newRow("line break is one step, back") << "ab\r\ncd" << 4 << 5 << 2 << 6 << 2 << 4 << 6;
    QTest::newRow("Japanese words") << QString::fromUtf8("テスト 東京") << 1 << 2 << 0 << 4 << 0 << 0 << 3;
}

void TestTextBuffer::moves()
{
    QFETCH(QString, text);
    QFETCH(int, position);

    TTextBuffer buffer;
    buffer.setText(text);
    QTEST(static_cast<int>(buffer.nextCharacter(position)), "next");
    QTEST(static_cast<int>(buffer.previousCharacter(position)), "previous");
    QTEST(static_cast<int>(buffer.nextWord(position)), "nextWord");
    QTEST(static_cast<int>(buffer.previousWord(position)), "previousWord");
    const auto [start, end] = buffer.wordAt(position);
    QTEST(static_cast<int>(start), "wordStart");
    QTEST(static_cast<int>(end), "wordEnd");
}

void TestTextBuffer::wordsAsQtsEditorsHaveThem_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("kanji name") << QString::fromUtf8("山田太郎");
    QTest::newRow("hiragana between kanji") << QString::fromUtf8("東京 さくら 山田太郎");
    QTest::newRow("katakana in an attribute") << QString::fromUtf8("<ROW NAME=\"ヤマダ\" KANA=\"さくら\"/>");
    QTest::newRow("XML punctuation") << QString::fromUtf8("a=\"\"  b=\"1.5\"/>\t=\"");
    QTest::newRow("base64 and spaces at the end") << QString::fromUtf8("iVBOR+w0KG/go=  a😀b");
}

// Double-click, Ctrl+Right, Ctrl+Left and Ctrl+Backspace at every position land where Qt's own text cursor
// lands in a document of the same text.
void TestTextBuffer::wordsAsQtsEditorsHaveThem()
{
    QFETCH(QString, text);
    TTextBuffer buffer;
    buffer.setText(text);
    QTextDocument document(text);
    for (int position = 0; position <= text.size(); ++position) {
        const auto moved = [&](QTextCursor::MoveOperation operation) {
            QTextCursor cursor(&document);
            cursor.setPosition(position);
            cursor.movePosition(operation);
            return static_cast<qsizetype>(cursor.position());
        };
        QTextCursor word(&document);
        word.setPosition(position);
        word.select(QTextCursor::WordUnderCursor);
        const auto [start, end] = buffer.wordAt(position);
        const QByteArray where = QByteArray::number(position);
        QVERIFY2(start == word.selectionStart() && end == word.selectionEnd(), where);
        QVERIFY2(buffer.nextWord(position) == moved(QTextCursor::NextWord), where);
        QVERIFY2(buffer.previousWord(position) == moved(QTextCursor::PreviousWord), where);
    }
}

QTEST_MAIN(TestTextBuffer)
#include "TestTextBuffer.moc"
