#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace torvane {

// What a group of edits does to the kept text; consecutive edits of the same group merge into one undo step.
enum class TEditKind {
    Other,    // a step of its own: paste, cut, drop, line break, replacing a selection by a command
    Typing,   // characters typed or committed by the input method, one after another
    Deleting, // Backspace or Delete pressed again and again
};

// One change of the text: `removedLength` characters at `position` were replaced by `insertedLength` others.
// Lines from `firstLine` on are touched; `removedBreaks` line breaks went and `insertedBreaks` came.
struct TTextChange {
    qsizetype position = 0;
    qsizetype removedLength = 0;
    qsizetype insertedLength = 0;
    int firstLine = 0;
    int removedBreaks = 0;
    int insertedBreaks = 0;
};

// The text of the XML view, held once as one string with CR LF line breaks (as packets and their files
// hold them, so that the text is handed to the reader and the save, and taken from the writer and a load,
// without another pass), beside an index of where each line starts. An edit moves the characters after it
// once (as any single string does) and updates the index in place, shifting the starts after it, so no
// edit ever rescans the text; a 1,000,000-line text is indexed by one scan for line breaks when it is set.
// The buffer keeps its own undo history: each step is the removed and inserted characters only, never a
// copy of the text.
//
// Positions are UTF-16 indexes into text(); a line's column is the index from the line's start. No
// position lies between a CR and its LF: the caret moves over a line break as one character, and an edit
// that would split one takes the whole break.
class TTextBuffer {
public:
    TTextBuffer();

    // Replaces the whole text and forgets the undo history; not modified after. A CR LF pair, a lone LF and
    // a lone CR each end a line; the text is kept as it is when all its breaks are CR LF already.
    void setText(QString text);
    // The text, every line break CR LF.
    const QString& text() const { return m_text; }

    qsizetype size() const { return m_text.size(); }
    int lineCount() const { return static_cast<int>(m_lineStarts.size()); }
    qsizetype lineStart(int line) const { return m_lineStarts[static_cast<size_t>(line)]; }
    // Where the line's characters end, before its line break.
    qsizetype lineEnd(int line) const;
    qsizetype lineLength(int line) const { return lineEnd(line) - lineStart(line); }
    QStringView lineText(int line) const;
    // The line holding `position` (a position at a line's end belongs to that line).
    int lineOf(qsizetype position) const;
    qsizetype columnOf(qsizetype position) const { return position - lineStart(lineOf(position)); }
    // Clamped into the text: a column past the line's end gives the line's end.
    qsizetype positionOf(int line, qsizetype column) const;

    // Where the caret goes from `position` one step right or left: a character with its combining marks,
    // a surrogate pair, or a line break count as one.
    qsizetype nextCharacter(qsizetype position) const;
    qsizetype previousCharacter(qsizetype position) const;
    // Ctrl+Right and Ctrl+Left: to the start of the next word, to the start of this or the previous word. A
    // word is what Qt's own editors take as one: a run of anything but spaces and ASCII punctuation (山田太郎
    // whole), or a run of that punctuation (`="`).
    qsizetype nextWord(qsizetype position) const;
    qsizetype previousWord(qsizetype position) const;
    // The word (or run of spaces or symbols) under `position`, as a double-click selects it: [start, end).
    std::pair<qsizetype, qsizetype> wordAt(qsizetype position) const;

    // Replaces `length` characters at `position` by `text` (its line breaks made CR LF) and records the
    // step for undo; a `kind` other than Other merges with the step before when it continues it (typing
    // on, deleting on).
    TTextChange replace(qsizetype position, qsizetype length, QStringView text, TEditKind kind = TEditKind::Other);
    // Ends the current typing or deleting run: the next edit starts a step of its own (the caret moved).
    void endMerge() { m_mergeOpen = false; }

    bool canUndo() const { return m_done > 0; }
    bool canRedo() const { return m_done < static_cast<qsizetype>(m_steps.size()); }
    // Undoes or redoes one step; the caret belongs at the change's position + insertedLength.
    std::optional<TTextChange> undo();
    std::optional<TTextChange> redo();

    // Modified: the text differs from the state last marked unmodified (undoing back to it clears it).
    bool isModified() const { return m_done != m_clean; }
    void setModified(bool modified);

private:
    struct Step {
        qsizetype position = 0;
        QString removed;
        QString inserted;
        TEditKind kind = TEditKind::Other;
    };

    TTextChange apply(qsizetype position, qsizetype length, QStringView text);
    bool mergeInto(Step& top, qsizetype position, const QString& removed, QStringView text, TEditKind kind) const;
    // False, with the index incomplete, when the text holds a line break other than CR LF.
    bool indexLines();
    // Whether `position` lies between a CR and its LF.
    bool splitsBreak(qsizetype position) const;
    // The boundary finder works on a window of the line around `position`, so that a 4 MB line costs no
    // more than a short one.
    std::pair<qsizetype, qsizetype> lineWindow(qsizetype position, qsizetype reach) const;
    qsizetype graphemeBoundary(qsizetype position, bool forward) const;
    // Where the word run starting at `position` ends, and where the one ending at `position` (spaces before
    // it skipped) starts; within the line's [begin, end) and taken in pieces of WordReach characters.
    qsizetype runEnd(qsizetype position, qsizetype end) const;
    qsizetype runStart(qsizetype position, qsizetype begin) const;

    QString m_text;
    std::vector<qsizetype> m_lineStarts;
    std::vector<Step> m_steps;
    qsizetype m_done = 0;  // steps applied; those after it are redoable
    qsizetype m_clean = 0; // m_done when last marked unmodified; -1 when no state is unmodified
    bool m_mergeOpen = false;
};

} // namespace torvane
