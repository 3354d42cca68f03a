#pragma once

#include <QHash>
#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace torvane {

// Helpers the reader uses to see the extent of an element: where its start tag ends and, for a start tag
// that ends in ">", where its content ends. Every search runs forward, so a text is scanned in linear time.

struct TTagEnd {
    // The ">" ending the tag, or the "<" or the limit that cut it short.
    qsizetype at = -1;
    bool closed = false;
    // Closed by "/>": an element without content.
    bool empty = false;
};

// Where a start tag ends: the first ">" at or after `from` and before `to` that lies outside quoted values. A
// quote opens a value only when its closing quote comes before any "<" (no well-formed value holds one), so a
// stray quote does not carry the tag into the elements after it. A "<" outside quoted values, or `to`, cuts
// the tag short. When `attributes` is given, it receives where each attribute name starts: every character
// outside quoted values that follows a space, tab, CR or LF.
TTagEnd scanStartTag(QStringView text, qsizetype from, qsizetype to, std::vector<qsizetype>* attributes = nullptr);

// True when `text` at `at` holds "<" and `name` (letter case ignored) followed by a space, tab, CR, LF, "/"
// or ">", so that "<FIELD" does not match "<FIELDS".
bool isStartTagAt(QStringView text, qsizetype at, QStringView name);

// Pairs the start and end tags of one element name as XML nests them, skipping comments, CDATA sections and
// processing instructions. Queries come in text order; the pairing runs only as far as they need.
class TElementNesting {
public:
    struct TEndTag {
        qsizetype start = -1; // its "<"
        qsizetype next = -1;  // the position after its ">"
    };

    TElementNesting(QStringView text, QString name);

    // The end tag matching the start tag at `start`, whose ">" is at `tagEnd` (not preceded by "/");
    // nullopt when none matches it before the text ends.
    std::optional<TEndTag> endTagOf(qsizetype start, qsizetype tagEnd);

private:
    // Pairs tags from m_scanned on until every open tag is closed or the text ends.
    void pairUntilClosed();

    QStringView m_text;
    QString m_name;
    qsizetype m_scanned = 0;
    std::vector<qsizetype> m_open;
    QHash<qsizetype, TEndTag> m_ends;
};

} // namespace torvane
