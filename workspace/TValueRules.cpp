#include "TValueRules.h"

#include "StrToInt.h"
#include "TWorkspace.h"

#include <QDate>

#include <algorithm>
#include <limits>

namespace torvane {

namespace {

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

QString settingOf(QStringView etc, QStringView name)
{
    qsizetype i = 0;
    const qsizetype n = etc.size();
    while (i < n) {
        while (i < n && !(etc[i].isLetter() || etc[i] == u'_')) {
            ++i;
        }
        const qsizetype nameStart = i;
        while (i < n && !etc[i].isSpace() && etc[i] != u'=') {
            ++i;
        }
        const QStringView found = etc.mid(nameStart, i - nameStart);
        while (i < n && etc[i].isSpace()) {
            ++i;
        }
        if (i >= n || etc[i] != u'=') {
            continue;
        }
        ++i;
        while (i < n && etc[i].isSpace()) {
            ++i;
        }
        if (i >= n || (etc[i] != u'"' && etc[i] != u'\'')) {
            continue;
        }
        const QChar quote = etc[i++];
        const qsizetype valueStart = i;
        while (i < n && etc[i] != quote) {
            ++i;
        }
        if (found.compare(name, Qt::CaseInsensitive) == 0) {
            return etc.mid(valueStart, i - valueStart).toString();
        }
        ++i;
    }
    return QString();
}

namespace {

// Digits, as many as `count`, from `p`, as a number; -1 when any is no digit.
int digitsAt(QStringView text, qsizetype p, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = text[p + i].unicode();
        if (!isDigit(c)) {
            return -1;
        }
        value = value * 10 + (c - u'0');
    }
    return value;
}

// yyyymmdd, a day the calendar has.
bool isDate(QStringView text)
{
    if (text.size() != 8) {
        return false;
    }
    const int year = digitsAt(text, 0, 4);
    const int month = digitsAt(text, 4, 2);
    const int day = digitsAt(text, 6, 2);
    return year > 0 && month > 0 && day > 0 && QDate::isValid(year, month, day);
}

// hh:mm:ssmmm, the library's time of day with milliseconds after the seconds.
bool isTime(QStringView text)
{
    if (text.size() != 11 || text[2] != u':' || text[5] != u':') {
        return false;
    }
    const int hour = digitsAt(text, 0, 2);
    const int minute = digitsAt(text, 3, 2);
    const int second = digitsAt(text, 6, 2);
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
           digitsAt(text, 8, 3) >= 0;
}

// An optional minus (when `signedType`) and decimal digits, within [minimum, maximum].
bool isInteger(QStringView text, bool signedType, std::int64_t minimum, std::uint64_t maximum)
{
    qsizetype i = 0;
    const bool negative = signedType && !text.isEmpty() && text[0] == u'-';
    i += negative ? 1 : 0;
    if (i == text.size()) {
        return false;
    }
    // The magnitude allowed: for a negative value, that of the minimum.
    const std::uint64_t limit = negative ? std::uint64_t(0) - static_cast<std::uint64_t>(minimum) : maximum;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!isDigit(c)) {
            return false;
        }
        const auto digit = static_cast<std::uint64_t>(c - u'0');
        if (value > (limit - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    return true;
}

// A decimal number with "." as separator: an optional minus, digits, optionally a point and digits, and with
// `exponent` optionally E or e, a sign and digits. With `decimals` >= 0 at most that many digits after the point.
bool isDecimal(QStringView text, bool exponent, int decimals)
{
    qsizetype i = text.startsWith(u'-') ? 1 : 0;
    const qsizetype n = text.size();
    const qsizetype intStart = i;
    while (i < n && isDigit(text[i].unicode())) {
        ++i;
    }
    if (i == intStart) {
        return false;
    }
    if (i < n && text[i] == u'.') {
        const qsizetype fracStart = ++i;
        while (i < n && isDigit(text[i].unicode())) {
            ++i;
        }
        if (i == fracStart || (decimals >= 0 && i - fracStart > decimals)) {
            return false;
        }
    }
    if (exponent && i < n && (text[i] == u'E' || text[i] == u'e')) {
        ++i;
        if (i < n && (text[i] == u'+' || text[i] == u'-')) {
            ++i;
        }
        const qsizetype expStart = i;
        while (i < n && isDigit(text[i].unicode())) {
            ++i;
        }
        if (i == expStart) {
            return false;
        }
    }
    return i == n;
}

// Base64 as the library writes a binary value: groups of four of A-Z a-z 0-9 + /, the last padded with "=".
// Line breaks and spaces between are passed over.
bool isBase64(QStringView text)
{
    qsizetype count = 0;
    int padding = 0;
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == u' ' || c == u'\r' || c == u'\n' || c == u'\t') {
            continue;
        }
        if (c == u'=') {
            ++padding;
        } else if (padding > 0 ||
                   !((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || isDigit(c) || c == u'+' || c == u'/')) {
            return false;
        }
        ++count;
    }
    return padding <= 2 && count % 4 == 0;
}

// Characters, a surrogate pair counting once.
qsizetype characterCount(QStringView text)
{
    qsizetype count = text.size();
    for (const QChar c : text) {
        count -= c.isLowSurrogate() ? 1 : 0;
    }
    return count;
}

struct TIntegerType {
    const char16_t* code;
    std::int64_t minimum;
    std::uint64_t maximum;
};

// The list's "int（数字）" holds what the library's 4-byte integer does.
const TIntegerType IntegerTypes[] = {
    {u"i1", -128, 127},
    {u"i2", -32768, 32767},
    {u"i4", std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()},
    {u"int", std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()},
    {u"i8", std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()},
    {u"ui1", 0, 255},
    {u"ui2", 0, 65535},
    {u"ui4", 0, std::numeric_limits<std::uint32_t>::max()},
    {u"ui8", 0, std::numeric_limits<std::uint64_t>::max()},
};

} // namespace

TValueRule valueRuleOf(const QString& typeText, const QString& etc, const QString& widthText)
{
    using K = TValueRule::TKind;
    TValueRule rule;
    rule.code = typeCodeOfText(typeText);
    rule.required = settingOf(etc, u"required").compare(u"true", Qt::CaseInsensitive) == 0;
    const QString& code = rule.code;
    for (const TIntegerType& type : IntegerTypes) {
        if (code == QStringView(type.code)) {
            rule.kind = K::Integer;
            rule.minimum = type.minimum;
            rule.maximum = type.maximum;
            return rule;
        }
    }
    if (code == u"r4" || code == u"r8" || code == u"float") {
        rule.kind = K::Real;
    } else if (code == u"fixed" || code == u"fixedFMT") {
        rule.kind = K::Fixed;
        const std::optional<std::int32_t> decimals = tryStrToInt(settingOf(etc, u"DECIMALS"));
        rule.limit = decimals && *decimals >= 0 ? *decimals : -1;
    } else if (code == u"boolean") {
        rule.kind = K::Boolean;
    } else if (code == u"date") {
        rule.kind = K::Date;
    } else if (code == u"time") {
        rule.kind = K::Time;
    } else if (code == u"dateTime" || code == u"SQLdateTime") {
        rule.kind = K::DateTime;
    } else if (code == u"string" || code == u"char") {
        rule.kind = K::Text;
        const std::optional<std::int32_t> width = tryStrToInt(widthText);
        rule.limit = width && *width > 0 ? *width : 0;
    } else if (code == u"bin.hex") {
        rule.kind = settingOf(etc, u"SUBTYPE").compare(u"Text", Qt::CaseInsensitive) == 0 ? K::Text : K::Binary;
        rule.limit = 0;
    }
    return rule;
}

TValueFault checkValue(const TValueRule& rule, QStringView value, bool emptyString)
{
    using K = TValueRule::TKind;
    if (value.isEmpty() && !emptyString) {
        return rule.required ? TValueFault::Required : TValueFault::None;
    }
    bool fits = true;
    switch (rule.kind) {
    case K::Unchecked:
        break;
    case K::Integer:
        fits = isInteger(value, rule.minimum < 0, rule.minimum, rule.maximum);
        break;
    case K::Real:
        fits = isDecimal(value, true, -1);
        break;
    case K::Fixed:
        fits = isDecimal(value, false, rule.limit);
        break;
    case K::Boolean:
        fits = value == u"TRUE" || value == u"FALSE" || value == u"0" || value == u"1";
        break;
    case K::Date:
        fits = isDate(value);
        break;
    case K::Time:
        fits = isTime(value);
        break;
    case K::DateTime:
        fits = isDate(value.left(8)) &&
               (value.size() == 8 || (value.size() == 20 && value[8] == u'T' && isTime(value.mid(9))));
        break;
    case K::Text:
        return rule.limit > 0 && value.size() > rule.limit && characterCount(value) > rule.limit ? TValueFault::TooLong
                                                                                                 : TValueFault::None;
    case K::Binary:
        fits = isBase64(value);
        break;
    }
    return fits ? TValueFault::None : TValueFault::Shape;
}

QString expectedText(const TValueRule& rule, TValueFault fault, int otherRow, bool japanese)
{
    using K = TValueRule::TKind;
    switch (fault) {
    case TValueFault::None:
        return QString();
    case TValueFault::Required:
        return japanese ? QStringLiteral("値（必須のフィールド）") : QStringLiteral("a value (the field is required)");
    case TValueFault::TooLong:
        return japanese ? QStringLiteral("%1 文字まで（幅）").arg(rule.limit)
                        : QStringLiteral("at most %1 characters (the width)").arg(rule.limit);
    case TValueFault::RepeatedKey:
        return japanese ? QStringLiteral("%1 行目と違う主キー").arg(otherRow)
                        : QStringLiteral("a primary key unlike record %1's").arg(otherRow);
    case TValueFault::Shape:
        break;
    }
    switch (rule.kind) {
    case K::Integer:
        return japanese ? QStringLiteral("整数 %1 ～ %2").arg(rule.minimum).arg(rule.maximum)
                        : QStringLiteral("an integer from %1 to %2").arg(rule.minimum).arg(rule.maximum);
    case K::Real:
        return japanese ? QStringLiteral("実数（小数点は .、例 4.5、1E-5）")
                        : QStringLiteral("a number (. as the decimal point, e.g. 4.5, 1E-5)");
    case K::Fixed:
        if (rule.limit >= 0) {
            return japanese ? QStringLiteral("小数点以下 %1 桁までの数").arg(rule.limit)
                            : QStringLiteral("a number with at most %1 digits after the point").arg(rule.limit);
        }
        return japanese ? QStringLiteral("数（小数点は .）") : QStringLiteral("a number (. as the decimal point)");
    case K::Boolean:
        return japanese ? QStringLiteral("TRUE、FALSE、0 か 1") : QStringLiteral("TRUE, FALSE, 0 or 1");
    case K::Date:
        return japanese ? QStringLiteral("日付 yyyymmdd（例 19880412）")
                        : QStringLiteral("a date yyyymmdd (e.g. 19880412)");
    case K::Time:
        return japanese ? QStringLiteral("時刻 hh:mm:ssmmm（例 10:00:00000）")
                        : QStringLiteral("a time hh:mm:ssmmm (e.g. 10:00:00000)");
    case K::DateTime:
        return japanese ? QStringLiteral("日時 yyyymmddThh:mm:ssmmm か日付 yyyymmdd（例 19880503T12:00:00000）")
                        : QStringLiteral("a date and time yyyymmddThh:mm:ssmmm or a date yyyymmdd "
                                         "(e.g. 19880503T12:00:00000)");
    case K::Binary:
        return japanese ? QStringLiteral("base64") : QStringLiteral("base64");
    case K::Unchecked:
    case K::Text:
        break;
    }
    return QString();
}

std::vector<TValueRule> valueRulesOf(const TWorkspace& ws)
{
    std::vector<TValueRule> rules;
    const TStringGrid& fields = ws.SG_Field();
    for (int r = 1; r <= ws.FieldCount(); ++r) {
        rules.push_back(valueRuleOf(fields.cell(FieldTypeColumn, r), fields.cell(FieldEtcColumn, r),
                                    fields.cell(FieldWidthColumn, r)));
    }
    return rules;
}

bool isRecordRow(const TGridRow& row)
{
    return !row.chars().isEmpty() || row.holdsEmptyString() || !row.content.isEmpty();
}

std::vector<TValueProblem> checkValues(const TWorkspace& ws)
{
    const std::vector<TValueRule> rules = valueRulesOf(ws);
    const TStringGrid& data = ws.SG_Data();
    const int columns = std::min(data.colCount(), static_cast<int>(rules.size()));
    const int rows = data.rowCount();

    std::vector<TValueProblem> problems;
    // The columns whose every value is valid (unchecked, or text without a width, not required) are passed
    // over: most packets hold many of them.
    std::vector<int> checked;
    for (int c = 0; c < columns; ++c) {
        const TValueRule& rule = rules[static_cast<size_t>(c)];
        if (rule.required ||
            (rule.kind != TValueRule::TKind::Unchecked && !(rule.kind == TValueRule::TKind::Text && rule.limit == 0))) {
            checked.push_back(c);
        }
    }

    // The primary key: rows are sorted by a hash of their key's values, and rows of equal hash compared.
    const std::vector<int> key = columns > 0 ? ws.LB_PriKey().selectedPositions(columns) : std::vector<int>();
    std::vector<std::pair<size_t, int>> hashes;
    if (!key.empty()) {
        hashes.reserve(static_cast<size_t>(std::max(0, rows - 1)));
    }

    std::vector<QStringView> cells(static_cast<size_t>(std::max(columns, 1)));
    for (int r = 1; r < rows; ++r) {
        const TGridRow& row = data.gridRow(r);
        if (!isRecordRow(row)) {
            continue;
        }
        row.views(cells.data(), columns);
        const bool anyEmptyString = row.holdsEmptyString();
        for (const int c : checked) {
            const QStringView value = cells[static_cast<size_t>(c)];
            const TValueFault fault =
                checkValue(rules[static_cast<size_t>(c)], value, anyEmptyString && row.isEmptyString(c));
            if (fault != TValueFault::None) {
                problems.push_back({r, c, fault, 0});
            }
        }
        if (!key.empty()) {
            size_t hash = 0;
            for (const int position : key) {
                hash = qHashMulti(hash, cells[static_cast<size_t>(position - 1)]);
            }
            hashes.emplace_back(hash, r);
        }
    }

    if (hashes.size() > 1) {
        std::sort(hashes.begin(), hashes.end());
        const auto sameKey = [&](int a, int b) {
            for (const int position : key) {
                if (data.cellView(position - 1, a) != data.cellView(position - 1, b) ||
                    data.isEmptyString(position - 1, a) != data.isEmptyString(position - 1, b)) {
                    return false;
                }
            }
            return true;
        };
        std::vector<TValueProblem> repeats;
        size_t groupStart = 0;
        for (size_t i = 1; i < hashes.size(); ++i) {
            if (hashes[i].first != hashes[groupStart].first) {
                groupStart = i;
                continue;
            }
            // Rows of one hash come in row order: a row names the first before it with the same key.
            for (size_t j = groupStart; j < i; ++j) {
                if (sameKey(hashes[j].second, hashes[i].second)) {
                    repeats.push_back({hashes[i].second, key.front() - 1, TValueFault::RepeatedKey, hashes[j].second});
                    break;
                }
            }
        }
        if (!repeats.empty()) {
            problems.insert(problems.end(), repeats.begin(), repeats.end());
            std::stable_sort(problems.begin(), problems.end(), [](const TValueProblem& a, const TValueProblem& b) {
                return a.row != b.row ? a.row < b.row : a.column < b.column;
            });
        }
    }
    return problems;
}

} // namespace torvane
