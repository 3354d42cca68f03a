// libFuzzer target for packet files: any bytes are loaded as the XML page loads a file (encoding choice,
// CP932 decoding, line breaks) and read into a workspace; the packet written from it is saved to bytes as
// the save button saves it, loaded and read again, and the second workspace must equal the first.
//
// The property is checked where it must hold: the first read ran to its end (a conversion failure leaves
// a half-read workspace whose written packet says something else), the written packet could be saved (a
// character CP932 cannot represent refuses the save), the reader's text scan finds in the written packet
// what it read (see scannable), and the saved file loads back as the text that was saved (see below).
#include "FuzzSupport.h"
#include "TLineBreaks.h"
#include "TPacketCodec.h"
#include "TPacketFile.h"
#include "TPacketWriter.h"

#include <QString>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace torvane;

namespace {

// The field table's rows. The writer writes a field's type code, the part of its type text before "(",
// so types are compared by their codes (and the type list, which gains the type texts read, not at all).
// Line breaks are compared as line breaks, whatever their form: the reader skips one character after the
// type and drops the one before `WIDTH="`, which may be half of a CR LF pair, and the view then writes the
// other half as a whole line break.
std::vector<std::vector<QString>> fieldRows(const TStringGrid& fields)
{
    std::vector<std::vector<QString>> rows;
    for (int r = 0; r < fields.rowCount(); ++r) {
        std::vector<QString> row = fields.row(r);
        for (QString& cell : row) {
            cell = toLfBreaks(cell);
        }
        row[1] = typeCodeOfText(row[1]);
        rows.push_back(std::move(row));
    }
    return rows;
}

// The data table's rows, header row first, each followed by which of its cells are empty strings (written
// `NAME=""`, read back as such). A record whose cells are all without value is written as `<ROW/>` and read
// back as such a record.
std::vector<std::vector<QString>> dataRows(const TStringGrid& data)
{
    std::vector<std::vector<QString>> rows{data.row(0)};
    for (int r = 1; r < data.rowCount(); ++r) {
        std::vector<QString> row = data.row(r);
        QString emptyStrings;
        for (int c = 0; c < data.colCount(); ++c) {
            emptyStrings += data.isEmptyString(c, r) ? u'1' : u'0';
        }
        row.push_back(emptyStrings);
        rows.push_back(std::move(row));
    }
    return rows;
}

bool sameKeys(const TKeyList& a, const TKeyList& b)
{
    return a.items() == b.items() && a.selectedPositions(a.count()) == b.selectedPositions(b.count());
}

bool sameWorkspace(const TWorkspace& a, const TWorkspace& b)
{
    return a.Ed_xmlVersion() == b.Ed_xmlVersion() && a.Ed_PacketVersion() == b.Ed_PacketVersion() &&
           a.Ed_LCID() == b.Ed_LCID() && a.FieldList() == b.FieldList() &&
           fieldRows(a.SG_Field()) == fieldRows(b.SG_Field()) && a.SG_Data().colCount() == b.SG_Data().colCount() &&
           dataRows(a.SG_Data()) == dataRows(b.SG_Data()) && sameKeys(a.LB_DefOrder(), b.LB_DefOrder()) &&
           sameKeys(a.LB_PriKey(), b.LB_PriKey());
}

bool isWellFormedUtf8(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// Whether the written packet can be scanned as the reader scans text: the writer writes names, type codes
// and other-settings texts raw, so a name holding white space, "<", ">" or "/" (a row key is looked for
// after white space, up to the row's "/>"), a type code holding "<" or ">" (a quoted value runs to the next
// quote, across lines and markers) or an other-settings text holding "<", ">", `WIDTH="` (markers of the
// field scan) or an odd number of double quotes (which puts the written WIDTH inside a quoted value) makes
// the reader find something else in the written packet than was read. So does kept content that is not
// well-formed. A written packet that is well-formed reads as XML reads it, references decoded and tabs and
// line breaks in values read as spaces: a name, type code, width, version or LCID holding "&", a tab or a
// line break, read as written from a text that was not well-formed, comes back otherwise.
bool scannable(const TWorkspace& workspace)
{
    const auto raw = [](const QString& text) {
        return text.contains(u'&') || text.contains(u'\t') || text.contains(u'\r') || text.contains(u'\n');
    };
    if (raw(workspace.Ed_xmlVersion()) || raw(workspace.Ed_PacketVersion()) || raw(workspace.Ed_LCID())) {
        return false;
    }
    for (int r = 1; r <= workspace.FieldCount(); ++r) {
        if (raw(workspace.SG_Field().cell(FieldNameColumn, r)) || raw(workspace.SG_Field().cell(FieldTypeColumn, r)) ||
            raw(workspace.SG_Field().cell(FieldWidthColumn, r))) {
            return false;
        }
    }
    // Kept element content is written back as it was read. Content that is not well-formed XML (a start tag
    // cut off, an end tag missing) can hold what the scan takes for markers of the packet itself.
    const auto wellFormed = [](const QString& content) {
        if (content.isEmpty()) {
            return true;
        }
        QXmlStreamReader xml(QStringLiteral("<x>") + content + QStringLiteral("</x>"));
        while (!xml.atEnd()) {
            xml.readNext();
        }
        return !xml.hasError();
    };
    for (const TStringGrid* grid : {&workspace.SG_Field(), &workspace.SG_Data()}) {
        for (int r = 0; r < grid->rowCount(); ++r) {
            if (!wellFormed(grid->rowContent(r))) {
                return false;
            }
        }
    }
    for (const QString& name : workspace.FieldList()) {
        for (const QChar c : name) {
            if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'<' || c == u'>' || c == u'/') {
                return false;
            }
        }
    }
    for (int r = 1; r <= workspace.FieldCount(); ++r) {
        const QString type = typeCodeOfText(workspace.SG_Field().cell(FieldTypeColumn, r));
        if (type.contains(u'<') || type.contains(u'>')) {
            return false;
        }
        const QString& etc = workspace.SG_Field().cell(FieldEtcColumn, r);
        if (etc.contains(u'<') || etc.contains(u'>') || etc.count(u'"') % 2 != 0 ||
            etc.contains(QLatin1String("WIDTH=\""), Qt::CaseInsensitive)) {
            return false;
        }
    }
    return true;
}

// A load decodes CP932 in the buffer the file's bytes were read into, placed at its far end: that must read
// what decoding the bytes apart reads.
void checkDecodedInPlace(QByteArrayView bytes)
{
    QString room(bytes.size() + TPacketCodec::DecodeInPlaceGap / 2, Qt::Uninitialized);
    char* far = reinterpret_cast<char*>(room.data()) + 2 * room.size() - bytes.size();
    std::memcpy(far, bytes.data(), static_cast<size_t>(bytes.size()));
    const TDecodedText apart = decodeText(bytes);
    const TDecodedText inPlace = decodeText(QByteArrayView(far, bytes.size()), &room);
    if (inPlace.text != apart.text || inPlace.faults.count != apart.faults.count ||
        inPlace.firstFaultLine != apart.firstFaultLine || inPlace.encoding.kind != apart.encoding.kind) {
        __builtin_trap();
    }
}

// The workspace a packet file's bytes give when loaded and shown on the data page; false when a failure
// ended the load or the reader.
bool loadAndRead(TWorkspace& workspace, QByteArrayView bytes, TDialogs& dialogs)
{
    workspace.ResetWorkspace();
    QString text;
    try {
        // As the XML view holds it: every line break CR LF.
        text = toCrLf(decodeFileText(bytes));
    } catch (const TFailure&) {
        return false;
    }
    return readSafely(workspace, text, dialogs);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        checkDecodedInPlace(bytes);
    } catch (const TFailure&) {
        // No CP932 converter: decoding fails either way, and the load below says so.
    }
    TSilentDialogs dialogs;
    TWorkspace first;
    if (!loadAndRead(first, QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
                     dialogs) ||
        !scannable(first)) {
        return 0;
    }
    // Raw texts kept from the packet may hold lone line breaks; the view holds them as CR LF.
    const QString viewText = toCrLf(writePacket(first));
    QByteArray saved;
    try {
        saved = encodePacketFile(viewText);
    } catch (const TFailure&) {
        return 0;
    }
    // The file gives back the text that was saved, apart from two known cases: CP932 bytes that happen to
    // be well-formed UTF-8 holding a sequence CP932 cannot read as half-width katakana are read as UTF-8
    // (the load's encoding rule cannot tell them apart), and characters written in their CP932 forms
    // (U+301C as U+FF5E and the like) come back in those forms.
    const QString loaded = decodeFileText(saved);
    if (loaded != viewText) {
        QByteArray again;
        const bool cp932Forms = TPacketCodec::cp932().encode(loaded, again) < 0 && again == saved;
        if (!cp932Forms && !isWellFormedUtf8(saved)) {
            __builtin_trap();
        }
        return 0;
    }
    TWorkspace second;
    if (!loadAndRead(second, saved, dialogs) || !sameWorkspace(first, second)) {
        __builtin_trap();
    }
    return 0;
}
