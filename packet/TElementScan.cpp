#include "TElementScan.h"

#include "TMarkerSearch.h"

#include <algorithm>

namespace torvane {

namespace {

constexpr qsizetype NotFound = -1;

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Position after the first `terminator` at or after `from`, or the text's length.
qsizetype after(QStringView text, QStringView terminator, qsizetype from)
{
    const qsizetype found = text.indexOf(terminator, from);
    return found == NotFound ? text.size() : found + terminator.size();
}

} // namespace

TTagEnd scanStartTag(QStringView text, qsizetype from, qsizetype to, std::vector<qsizetype>* attributes)
{
    to = std::min(to, text.size());
    bool afterSpace = false;
    const qsizetype first = std::max<qsizetype>(from, 0);
    for (qsizetype k = first; k < to; ++k) {
        const QChar c = text[k];
        if (c == u'>') {
            return {k, true, k > first && text[k - 1] == u'/'};
        }
        if (c == u'<') {
            return {k, false, false};
        }
        if (attributes && afterSpace && !isSpace(c)) {
            attributes->push_back(k);
        }
        afterSpace = isSpace(c);
        if (c == u'"' || c == u'\'') {
            qsizetype j = k + 1;
            while (j < to && text[j] != c && text[j] != u'<') {
                ++j;
            }
            if (j < to && text[j] == c) {
                k = j;
            }
        }
    }
    return {std::max(to, first), false, false};
}

// True when `text` at `at` holds `opening` and `name` (letter case ignored) followed by a character that ends
// a tag name: a space, tab, CR or LF, ">" and, when `slashEnds`, "/".
bool isTagAt(QStringView text, qsizetype at, QStringView opening, QStringView name, bool slashEnds)
{
    const qsizetype next = at + opening.size() + name.size();
    if (at < 0 || next >= text.size()) {
        return false;
    }
    const QChar c = text[next];
    if (!(isSpace(c) || c == u'>' || (slashEnds && c == u'/')) || text.mid(at, opening.size()) != opening) {
        return false;
    }
    return equalIgnoringCase(text.mid(at + opening.size(), name.size()), name);
}

bool isStartTagAt(QStringView text, qsizetype at, QStringView name)
{
    return isTagAt(text, at, u"<", name, true);
}

TElementNesting::TElementNesting(QStringView text, QString name) : m_text(text), m_name(std::move(name)) {}

std::optional<TElementNesting::TEndTag> TElementNesting::endTagOf(qsizetype start, qsizetype tagEnd)
{
    // Each pairing runs until its first tag is closed, and the reader goes on after that end tag; so a start
    // tag before the paired stretch was seen by the pairing already, and one after it starts a new pairing.
    if (start >= m_scanned) {
        m_open.assign(1, start);
        m_scanned = tagEnd + 1;
        pairUntilClosed();
    }
    const auto it = m_ends.constFind(start);
    if (it == m_ends.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

void TElementNesting::pairUntilClosed()
{
    const qsizetype length = m_text.size();
    while (m_scanned < length && !m_open.empty()) {
        const qsizetype k = m_text.indexOf(u'<', m_scanned);
        if (k == NotFound) {
            m_scanned = length;
            break;
        }
        const QStringView rest = m_text.mid(k);
        if (rest.startsWith(u"<!--")) {
            m_scanned = after(m_text, u"-->", k + 4);
        } else if (rest.startsWith(u"<![CDATA[")) {
            m_scanned = after(m_text, u"]]>", k + 9);
        } else if (rest.startsWith(u"<?")) {
            m_scanned = after(m_text, u"?>", k + 2);
        } else if (isStartTagAt(m_text, k, m_name)) {
            const TTagEnd end = scanStartTag(m_text, k + 1 + m_name.size(), length);
            if (!end.closed) {
                m_scanned = k + 1;
                continue;
            }
            if (!end.empty) {
                m_open.push_back(k);
            }
            m_scanned = end.at + 1;
        } else if (isTagAt(m_text, k, u"</", m_name, false)) {
            const qsizetype close = m_text.indexOf(u'>', k);
            const qsizetype next = close == NotFound ? length : close + 1;
            if (!m_open.empty()) {
                m_ends.insert(m_open.back(), TEndTag{k, next});
                m_open.pop_back();
            }
            m_scanned = next;
        } else {
            m_scanned = k + 1;
        }
    }
}

} // namespace torvane
