#include "textview/TTextBuffer.h"

#include "TLineBreaks.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace torvane {

namespace {

// How far around a position the caret and word moves look; a word longer than this is taken in pieces.
constexpr qsizetype CharacterReach = 32;
constexpr qsizetype WordReach = 256;

bool isSpace(QChar c)
{
    return c.isSpace();
}

bool isWordSeparator(QChar c)
{
    switch (c.unicode()) {
    case u'.':
    case u',':
    case u'?':
    case u'!':
    case u'@':
    case u'#':
    case u'$':
    case u':':
    case u';':
    case u'-':
    case u'<':
    case u'>':
    case u'[':
    case u']':
    case u'(':
    case u')':
    case u'{':
    case u'}':
    case u'=':
    case u'/':
    case u'+':
    case u'%':
    case u'&':
    case u'^':
    case u'*':
    case u'\'':
    case u'"':
    case u'`':
    case u'~':
    case u'|':
        return true;
    default:
        return false;
    }
}

} // namespace

TTextBuffer::TTextBuffer()
{
    m_lineStarts.push_back(0);
}

void TTextBuffer::setText(QString text)
{
    m_text = std::move(text);
    if (!indexLines()) {
        m_text = toCrLf(std::move(m_text));
        indexLines();
    }
    m_steps.clear();
    m_done = 0;
    m_clean = 0;
    m_mergeOpen = false;
}

bool TTextBuffer::indexLines()
{
    m_lineStarts.clear();
    m_lineStarts.push_back(0);
    return scanCrLfBreaks(m_text, [this](qsizetype lf) { m_lineStarts.push_back(lf + 1); });
}

qsizetype TTextBuffer::lineEnd(int line) const
{
    return line + 1 < lineCount() ? lineStart(line + 1) - 2 : m_text.size();
}

QStringView TTextBuffer::lineText(int line) const
{
    return QStringView(m_text).mid(lineStart(line), lineLength(line));
}

int TTextBuffer::lineOf(qsizetype position) const
{
    const auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), position);
    return static_cast<int>(it - m_lineStarts.begin()) - 1;
}

qsizetype TTextBuffer::positionOf(int line, qsizetype column) const
{
    line = std::clamp(line, 0, lineCount() - 1);
    return lineStart(line) + std::clamp<qsizetype>(column, 0, lineLength(line));
}

std::pair<qsizetype, qsizetype> TTextBuffer::lineWindow(qsizetype position, qsizetype reach) const
{
    const int line = lineOf(position);
    const qsizetype lineBegin = lineStart(line);
    const qsizetype lineFinish = lineEnd(line);
    qsizetype begin = std::max(lineBegin, position - reach);
    qsizetype end = std::min(lineFinish, position + reach);
    if (begin > lineBegin && m_text.at(begin).isLowSurrogate()) {
        --begin;
    }
    if (end < lineFinish && m_text.at(end).isLowSurrogate()) {
        ++end;
    }
    return {begin, end};
}

qsizetype TTextBuffer::graphemeBoundary(qsizetype position, bool forward) const
{
    const auto [begin, end] = lineWindow(position, CharacterReach);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, m_text.constData() + begin, end - begin);
    finder.setPosition(position - begin);
    const qsizetype boundary = forward ? finder.toNextBoundary() : finder.toPreviousBoundary();
    return boundary < 0 ? (forward ? end : begin) : begin + boundary;
}

qsizetype TTextBuffer::nextCharacter(qsizetype position) const
{
    if (position >= m_text.size()) {
        return m_text.size();
    }
    return m_text.at(position) == u'\r' ? position + 2 : graphemeBoundary(position, true);
}

qsizetype TTextBuffer::previousCharacter(qsizetype position) const
{
    if (position <= 0) {
        return 0;
    }
    return m_text.at(position - 1) == u'\n' ? position - 2 : graphemeBoundary(position, false);
}

// Words are what Qt's own editors step over and select: a run of anything but spaces and ASCII punctuation
// (a kanji compound, a kana word, a name, base64 between its "+" and "/"), or a run of punctuation such as
// `="`. A script's own word boundaries would split 山田太郎 into single kanji, which no plain editor does.
qsizetype TTextBuffer::runEnd(qsizetype position, qsizetype end) const
{
    const qsizetype limit = std::min(end, position + WordReach);
    if (position < end && isWordSeparator(m_text.at(position))) {
        ++position;
        while (position < limit && isWordSeparator(m_text.at(position))) {
            ++position;
        }
    } else {
        while (position < limit && !isSpace(m_text.at(position)) && !isWordSeparator(m_text.at(position))) {
            ++position;
        }
    }
    if (position < end && m_text.at(position).isLowSurrogate()) {
        ++position;
    }
    return position;
}

qsizetype TTextBuffer::runStart(qsizetype position, qsizetype begin) const
{
    while (position > begin && isSpace(m_text.at(position - 1))) {
        --position;
    }
    const qsizetype limit = std::max(begin, position - WordReach);
    if (position > begin && isWordSeparator(m_text.at(position - 1))) {
        --position;
        while (position > limit && isWordSeparator(m_text.at(position - 1))) {
            --position;
        }
    } else {
        while (position > limit && !isSpace(m_text.at(position - 1)) && !isWordSeparator(m_text.at(position - 1))) {
            --position;
        }
    }
    if (position > begin && m_text.at(position).isLowSurrogate()) {
        --position;
    }
    return position;
}

qsizetype TTextBuffer::nextWord(qsizetype position) const
{
    const int line = lineOf(position);
    const qsizetype end = lineEnd(line);
    if (position >= end) {
        return line + 1 < lineCount() ? lineStart(line + 1) : m_text.size();
    }
    position = runEnd(position, end);
    while (position < end && isSpace(m_text.at(position))) {
        ++position;
    }
    return position;
}

qsizetype TTextBuffer::previousWord(qsizetype position) const
{
    const qsizetype begin = lineStart(lineOf(position));
    if (position <= begin) {
        return begin > 0 ? begin - 2 : 0;
    }
    return runStart(position, begin);
}

std::pair<qsizetype, qsizetype> TTextBuffer::wordAt(qsizetype position) const
{
    const int line = lineOf(position);
    const qsizetype begin = lineStart(line);
    const qsizetype end = lineEnd(line);
    qsizetype start = position;
    if (position > begin) {
        // The run the position is in or ends; at the line's end after a space or punctuation, nothing.
        const QChar before = m_text.at(position - 1);
        if (position < end) {
            start = runStart(nextCharacter(position), begin);
        } else if (!isSpace(before) && !isWordSeparator(before)) {
            start = runStart(position, begin);
        }
    }
    return {start, start < end ? runEnd(start, end) : start};
}

bool TTextBuffer::mergeInto(Step& top, qsizetype position, const QString& removed, QStringView text,
                            TEditKind kind) const
{
    if (top.kind != kind) {
        return false;
    }
    if (kind == TEditKind::Typing) {
        if (!removed.isEmpty() || position != top.position + top.inserted.size()) {
            return false;
        }
        top.inserted += text;
        return true;
    }
    if (!text.isEmpty() || !top.inserted.isEmpty()) {
        return false;
    }
    if (position + removed.size() == top.position) { // Backspace again
        top.removed.prepend(removed);
        top.position = position;
        return true;
    }
    if (position == top.position) { // Delete again
        top.removed += removed;
        return true;
    }
    return false;
}

bool TTextBuffer::splitsBreak(qsizetype position) const
{
    return position > 0 && position < m_text.size() && m_text.at(position) == u'\n';
}

TTextChange TTextBuffer::replace(qsizetype position, qsizetype length, QStringView inserted, TEditKind kind)
{
    position = std::clamp<qsizetype>(position, 0, m_text.size());
    length = std::clamp<qsizetype>(length, 0, m_text.size() - position);
    // An edit never splits a line break, so that no lone CR or LF is left behind: an insertion there goes
    // before the break, a removal takes the break whole (Backspace at a line's start removes both).
    if (splitsBreak(position)) {
        --position;
        length += length > 0 ? 1 : 0;
    }
    if (length > 0 && splitsBreak(position + length)) {
        ++length;
    }
    const QString text = toCrLf(inserted.toString());
    if (length == 0 && text.isEmpty()) {
        TTextChange none;
        none.position = position;
        none.firstLine = lineOf(position);
        return none;
    }
    const QString removed = m_text.mid(position, length);
    if (m_done < static_cast<qsizetype>(m_steps.size())) {
        // A new edit after undo drops what could have been redone.
        m_steps.resize(static_cast<size_t>(m_done));
        if (m_clean > m_done) {
            m_clean = -1;
        }
        m_mergeOpen = false;
    }
    const bool merged = kind != TEditKind::Other && m_mergeOpen && m_done > 0 && m_clean != m_done &&
                        mergeInto(m_steps.back(), position, removed, text, kind);
    if (!merged) {
        m_steps.push_back(Step{position, removed, text, kind});
        ++m_done;
    }
    m_mergeOpen = kind != TEditKind::Other;
    return apply(position, length, text);
}

TTextChange TTextBuffer::apply(qsizetype position, qsizetype length, QStringView text)
{
    TTextChange change;
    change.position = position;
    change.removedLength = length;
    change.insertedLength = text.size();
    change.firstLine = lineOf(position);
    const int last = lineOf(position + length);
    change.removedBreaks = last - change.firstLine;

    std::vector<qsizetype> added;
    for (qsizetype i = text.indexOf(u'\n'); i >= 0; i = text.indexOf(u'\n', i + 1)) {
        added.push_back(position + i + 1);
    }
    change.insertedBreaks = static_cast<int>(added.size());
    m_text.replace(position, length, text.data(), text.size());

    const qsizetype delta = text.size() - length;
    for (size_t line = static_cast<size_t>(last) + 1; line < m_lineStarts.size(); ++line) {
        m_lineStarts[line] += delta;
    }
    const auto first = m_lineStarts.begin() + change.firstLine + 1;
    m_lineStarts.erase(first, first + change.removedBreaks);
    m_lineStarts.insert(m_lineStarts.begin() + change.firstLine + 1, added.begin(), added.end());
    return change;
}

std::optional<TTextChange> TTextBuffer::undo()
{
    if (!canUndo()) {
        return std::nullopt;
    }
    m_mergeOpen = false;
    const Step& step = m_steps[static_cast<size_t>(--m_done)];
    return apply(step.position, step.inserted.size(), step.removed);
}

std::optional<TTextChange> TTextBuffer::redo()
{
    if (!canRedo()) {
        return std::nullopt;
    }
    m_mergeOpen = false;
    const Step& step = m_steps[static_cast<size_t>(m_done++)];
    return apply(step.position, step.removed.size(), step.inserted);
}

void TTextBuffer::setModified(bool modified)
{
    m_clean = modified ? -1 : m_done;
}

} // namespace torvane
