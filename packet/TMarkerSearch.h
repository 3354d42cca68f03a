#pragma once

#include <QString>
#include <QStringView>

#include <algorithm>
#include <limits>

namespace torvane {

// Position of the first occurrence of `marker` lying wholly inside text positions [from, to), letter case
// ignored exactly as QStringView::indexOf(..., Qt::CaseInsensitive) ignores it; -1 when there is none. The
// reader's markers begin with an ASCII character, which this finds with a plain character scan, far faster
// than the general case-insensitive search on texts of many megabytes.
qsizetype findIgnoringCase(QStringView text, QStringView marker, qsizetype from, qsizetype to);

// Whether two texts of the same length are equal with letter case ignored, exactly as
// QStringView::compare(..., Qt::CaseInsensitive) ignores it; ASCII is compared unit by unit.
bool equalIgnoringCase(QStringView a, QStringView b);

// Appends `text` case-folded code point by code point, the folding that case-insensitive comparison uses.
void appendFolded(QString& out, QStringView text);

// Searches one marker through the text. A search that starts inside the stretch an earlier search of the
// same marker has already covered reuses that answer, so that the same stretch is never scanned twice
// (for example when many fields lack their own marker and each search would otherwise run to the end).
// Defined here so that the reader's row loop, which asks for every row, has it inline.
class TMarkerFinder {
public:
    static constexpr qsizetype NotFound = -1;

    TMarkerFinder(QStringView text, QStringView marker) : m_text(text), m_marker(marker) {}

    // First occurrence starting at or after `from` and lying wholly before `to`.
    qsizetype find(qsizetype from, qsizetype to = std::numeric_limits<qsizetype>::max())
    {
        const qsizetype n = m_marker.size();
        from = std::max<qsizetype>(from, 0);
        to = std::min(to, m_text.size());
        if (from >= m_absentFrom) {
            return NotFound;
        }
        if (m_absentFrom < to) {
            // An occurrence starting before m_absentFrom may end after it.
            to = std::min(to, m_absentFrom + n - 1);
        }
        if (m_known && m_from <= from) {
            if (m_found >= from) {
                return m_found + n <= to ? m_found : NotFound;
            }
            if (m_found == NotFound) {
                if (to <= m_limit) {
                    return NotFound;
                }
                const qsizetype found = findIgnoringCase(m_text, m_marker, std::max(from, m_limit - n + 1), to);
                remember(from, found, to);
                return found;
            }
        }
        const qsizetype found = findIgnoringCase(m_text, m_marker, from, to);
        remember(from, found, to);
        return found;
    }

    // Tells that no occurrence starts at or after `from`, as a search that found none there has shown: later
    // searches stop there, whatever searches came between.
    void knownAbsentFrom(qsizetype from) { m_absentFrom = std::min(m_absentFrom, std::max<qsizetype>(from, 0)); }

private:
    void remember(qsizetype from, qsizetype found, qsizetype to)
    {
        m_known = true;
        m_from = from;
        m_found = found;
        m_limit = to;
    }

    QStringView m_text;
    QStringView m_marker;
    bool m_known = false;
    // No occurrence starts in [m_from, m_found); when m_found is NotFound, none lies wholly in
    // [m_from, m_limit).
    qsizetype m_from = 0;
    qsizetype m_found = NotFound;
    qsizetype m_limit = 0;
    qsizetype m_absentFrom = std::numeric_limits<qsizetype>::max();
};

} // namespace torvane
