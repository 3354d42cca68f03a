#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <vector>

namespace torvane {

class TGridRow;
class TWorkspace;

// What the values of a field must look like for the dataset library to load them, read once from the
// field's type text, other settings and width, so that checking a cell is a switch and a loop over its
// characters.
struct TValueRule {
    enum class TKind : std::uint8_t {
        Unchecked, // nested, and codes this program does not know
        Integer,   // i1 .. i8, ui1 .. ui8, int: within [minimum, maximum]
        Real,      // r4, r8, float: a decimal number, an exponent allowed
        Fixed,     // fixed, fixedFMT: a decimal number, at most `decimals` digits after the point
        Boolean,   // TRUE, FALSE, 0, 1
        Date,      // yyyymmdd
        Time,      // hh:mm:ssmmm
        DateTime,  // yyyymmddThh:mm:ssmmm, or the date alone
        Text,      // string, char: longer than `width` characters is a warning
        Binary,    // bin.hex: base64 (any text with SUBTYPE="Text")
    };
    TKind kind = TKind::Unchecked;
    QString code;
    std::int64_t minimum = 0;
    std::uint64_t maximum = 0;
    // Fixed: the digits after the point allowed (-1 for any number). Text: the width (0 for none).
    int limit = -1;
    bool required = false;
};

// The value of the attribute `name` (letter case ignored) in a field's other settings, written as XML
// attributes are (`required="true" SUBTYPE='Text'`); a null string when the settings do not name it.
QString settingOf(QStringView etc, QStringView name);

// The rule of a field: `typeText` as the field table holds it ("i4（４バイト整数）" or a bare code), `etc` its
// other settings (`required="true"`, `DECIMALS="2"`, `SUBTYPE="Text"`, names and values as XML attributes,
// names in any letter case) and `widthText` its width.
TValueRule valueRuleOf(const QString& typeText, const QString& etc, const QString& widthText);

// What is wrong with one value. A warning is something the library loads but the user may not mean.
enum class TValueFault : std::uint8_t {
    None,
    Shape,       // the value does not have the type's shape or is out of its range
    Required,    // no value in a field that requires one
    TooLong,     // warning: longer than the field's width
    RepeatedKey, // warning: the primary key's values are those of another record
};

// Checks one value. `value` empty is a value not written unless `emptyString` (`NAME=""`): an empty string
// is a value, and one of the wrong shape for every type that is not text.
TValueFault checkValue(const TValueRule& rule, QStringView value, bool emptyString);

// What the field expects, for a fault found in it: "日付 yyyymmdd（例 19880412）" / "a date yyyymmdd (e.g.
// 19880412)". For a repeated key, the other record: "3 行目と違う主キー" / "a primary key unlike record 3's".
QString expectedText(const TValueRule& rule, TValueFault fault, int otherRow, bool japanese);

// One problem in the data table: its row (from 1, as the data page numbers them), its data column (from 0)
// and, for a repeated key, the row whose key it repeats (the key's first field carries the problem).
struct TValueProblem {
    int row = 0;
    int column = 0;
    TValueFault fault = TValueFault::None;
    int otherRow = 0;
};

// Whether a data row is a record to check: one holding a value (an empty string is one) or kept content. A
// blank row is left alone: it is the row standing in for a packet without records, or a row just added and not
// yet typed into, and marking each of its required fields at once would flag work the user has not begun.
bool isRecordRow(const TGridRow& row);

// Every problem of the workspace's records, in row order and within a row in column order.
std::vector<TValueProblem> checkValues(const TWorkspace& ws);
// The rules of the workspace's fields, in data column order.
std::vector<TValueRule> valueRulesOf(const TWorkspace& ws);

} // namespace torvane
