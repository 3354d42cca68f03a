#pragma once

#include "TDialogs.h"
#include "TWorkspace.h"
#include "TXmlCheck.h"

#include <QString>
#include <QStringView>

#include <vector>

namespace torvane {

// The rules every road of the reader follows for what comes before the records: how a field is added, what
// of its start tag becomes its other settings, which attributes of the settings are the packet's own, how key
// numbers select fields. Each road finds the tags in its own way and reads them through these.

// What a search that finds nothing returns.
constexpr qsizetype NotFound = -1;

// Whether two element or attribute names are the same with letter case ignored, as the reader compares them.
bool sameNameIgnoringCase(QStringView a, QStringView b);

// The attribute named `name`: one written in that letter case, as the writer writes it, before one in
// another case; nullptr when there is none.
const TXmlAttribute* findAttribute(const std::vector<TXmlAttribute>& attributes, QStringView name);

// An attribute value of a well-formed text as XML reads it.
QString attributeText(QStringView written);

// A stretch of a start tag's text.
struct TSpan {
    qsizetype begin;
    qsizetype end;
};

// Where an attribute starts and ends (after its closing quote) in `text`.
TSpan spanOf(QStringView text, const TXmlAttribute& attribute);

// Each attribute a field's own settings come from is cut out of the other-settings text with the separator
// before it: one character, or a line break.
qsizetype separatorBefore(QStringView text, qsizetype a);

// A field's other settings: its start tag's text from `from` (after the tag's name) to `end` (where the
// attributes end), as written, less the `taken` attributes, and less the separator after the tag's name.
QString otherSettings(QStringView text, qsizetype from, qsizetype end, TSpan* taken, size_t count);

// Fields mostly share their type and width texts: one equal to the previous field's (`last`) is shared with
// it rather than copied again.
QString sharedText(QString& last, QStringView value);

// Adds a field through AddFieldRow, which reports a refused one through `dialogs`; the field keeps `content`
// (its element's content, written back with it), also when its width is not an integer and the add throws.
void addFieldRow(TWorkspace& ws, TDialogs& dialogs, const QString& name, const QString& type, const QString& etc,
                 const QString& width, const QString& content);

// The attributes of the packet's settings that are not kept as written: the keys and the LCID, read on their
// own, and the change log, which goes with the change-log rows it describes.
bool isOwnParamsName(QStringView name);

// Selects in `list` the field numbers written from `v` on, separated by spaces, up to a double quote, "<" or ">"
// (which end the value in the text) or the end of `chars`. Returns where the numbers ended.
qsizetype selectKeyNumbers(TWorkspace& ws, QStringView chars, qsizetype v, TKeyKind list);

} // namespace torvane
