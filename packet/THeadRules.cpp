#include "THeadRules.h"

#include "StrToInt.h"
#include "TCharacterReferences.h"

#include <QScopeGuard>

#include <algorithm>

namespace torvane {

void addFieldRow(TWorkspace& ws, TDialogs& dialogs, const QString& name, const QString& type, const QString& etc,
                 const QString& width, const QString& content)
{
    const int before = ws.FieldCount();
    // A width that is not an integer throws once the field is added; the field keeps its content all the same.
    const auto keepContent = qScopeGuard([&] {
        if (ws.FieldCount() > before) {
            ws.setFieldRowContent(ws.FieldCount(), content);
        }
    });
    ws.AddFieldRow(name, type, etc, width, dialogs);
}

bool sameNameIgnoringCase(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

const TXmlAttribute* findAttribute(const std::vector<TXmlAttribute>& attributes, QStringView name)
{
    const TXmlAttribute* found = nullptr;
    for (const TXmlAttribute& a : attributes) {
        if (a.name == name) {
            return &a;
        }
        if (!found && sameNameIgnoringCase(a.name, name)) {
            found = &a;
        }
    }
    return found;
}

QString attributeText(QStringView written)
{
    QString out;
    appendAttributeValue(out, written);
    return out;
}

qsizetype separatorBefore(QStringView text, qsizetype a)
{
    return a >= 2 && text.mid(a - 2, 2) == u"\r\n" ? a - 2 : a - 1;
}

QString otherSettings(QStringView text, qsizetype from, qsizetype end, TSpan* taken, size_t count)
{
    std::sort(taken, taken + count, [](const TSpan& a, const TSpan& b) { return a.begin < b.begin; });
    // Nearly always the taken attributes are all the tag holds.
    qsizetype covered = from;
    for (size_t t = 0; t < count && taken[t].begin <= covered; ++t) {
        covered = std::max(covered, taken[t].end);
    }
    if (covered >= end) {
        return QString();
    }
    QString etc;
    qsizetype k = from;
    for (size_t t = 0; t < count; ++t) {
        const TSpan& span = taken[t];
        const qsizetype begin = std::clamp(span.begin, k, end);
        etc += text.mid(k, begin - k);
        k = std::max(k, std::min(span.end, end));
    }
    etc += text.mid(k, end - k);
    // The separator between the tag's name and the other settings is not part of them.
    if (etc.startsWith(u"\r\n")) {
        etc.remove(0, 2);
    } else if (!etc.isEmpty() && (etc[0] == u' ' || etc[0] == u'\t' || etc[0] == u'\r' || etc[0] == u'\n')) {
        etc.remove(0, 1);
    }
    return etc;
}

TSpan spanOf(QStringView text, const TXmlAttribute& attribute)
{
    return {attribute.name.utf16() - text.utf16(), attribute.value.utf16() + attribute.value.size() + 1 - text.utf16()};
}

bool isOwnParamsName(QStringView name)
{
    return sameNameIgnoringCase(name, u"DEFAULT_ORDER") || sameNameIgnoringCase(name, u"PRIMARY_KEY") || sameNameIgnoringCase(name, u"LCID") ||
           sameNameIgnoringCase(name, u"CHANGE_LOG");
}

QString sharedText(QString& last, QStringView value)
{
    if (value.isEmpty()) {
        return value.toString();
    }
    // Compared unit by unit, as the library's comparison costs a call.
    if (value.size() != last.size() || !std::equal(value.begin(), value.end(), last.cbegin())) {
        last = value.toString();
    }
    return last;
}

qsizetype selectKeyNumbers(TWorkspace& ws, QStringView chars, qsizetype v, TKeyKind list)
{
    const qsizetype names = ws.FieldList().size();
    QString pending;
    // Emptied after every conversion: a number that selects nothing must not run into the next one.
    const auto apply = [&] {
        if (pending.isEmpty()) {
            return;
        }
        const qsizetype n = StrToInt(pending);
        if (n >= 1 && n <= names) {
            ws.setKeySelected(list, static_cast<int>(n - 1), true);
        }
        pending.clear();
    };
    for (qsizetype k = std::max<qsizetype>(v, 0); k < chars.size(); ++k) {
        const QChar c = chars[k];
        if (c == u'"' || c == u'<' || c == u'>') {
            apply();
            return k;
        }
        if (c == u' ') {
            apply();
        } else {
            pending += c;
        }
    }
    apply();
    return chars.size();
}

} // namespace torvane
