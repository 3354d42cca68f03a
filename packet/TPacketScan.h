#pragma once

#include "TDialogs.h"
#include "THeadRules.h"
#include "TElementScan.h"
#include "TMarkerSearch.h"
#include "TRowRules.h"
#include "TWorkspace.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace torvane {

// The markers the scan looks for. Where it goes on after one, or goes back from an attribute's value to
// where its name began, it moves by the marker's own length.
constexpr QStringView XmlMarker = u"<?xml version=\"";
constexpr QStringView PacketMarker = u"<DATAPACKET Version=\"";
constexpr QStringView FieldsMarker = u"<FIELDS";
constexpr QStringView FieldMarker = u"<FIELD";
constexpr QStringView ParamsMarker = u"<PARAMS";
constexpr QStringView DefaultOrderMarker = u"DEFAULT_ORDER=\"";
constexpr QStringView PrimaryKeyMarker = u"PRIMARY_KEY=\"";
constexpr QStringView RowDataMarker = u"<ROWDATA";
constexpr QStringView NameAttribute = u"attrname=\"";
constexpr QStringView TypeAttribute = u"fieldtype=\"";
constexpr QStringView WidthAttribute = u"WIDTH=\"";
constexpr QStringView LcidAttribute = u"LCID=\"";

// A field's start tag in the plain form, from right after its name: where its attributes end (NotFound for
// another form), and its name, type and width values, each taken as findAttribute takes it (a null view for
// one it lacks). A hundred thousand fields are taken apart without a list of attributes for each.
struct TPlainField {
    qsizetype end = NotFound;
    QStringView name;
    QStringView type;
    QStringView width;
};
TPlainField plainField(QStringView text, qsizetype k);

// A value cut out up to its closing double quote; `closing` is NotFound when it has none.
struct TQuoted {
    QStringView value;
    qsizetype closing = NotFound;
};

// Two roads of the reader over one text, sharing what they find. The marker scan (TPacketScan.cpp) reads any
// text, well-formed or not, by looking for the packet's markers. The plain road (TPlainRead.cpp) checks that a
// text is in the plain form the writer and the dataset library write, where the scan reads what an XML reader
// reads, and then reads the fields and rows in that form at the scan's speed.
class TPacketScan {
public:
    TPacketScan(TWorkspace& workspace, const QString& text, TDialogs& dialogs, std::optional<qint64> gridLimit);

    // The plain road: whether everything before the rows is in the plain form (one attribute after another,
    // each after one space and in double quotes without references; no comment, CDATA section, processing
    // instruction or document type; the fields, settings and rows each where the packet has them, and no
    // marker the scan looks for anywhere else).
    bool plainHead();
    // Reads the text by its markers; `plainRows` (after plainHead) reads the rows in their plain form only and
    // returns false, having read none, at the first row element or text between rows in another form.
    bool scan(bool plainRows);
    // Reads the rows again by their markers, after scan(true) found one in another form.
    void scanRowsAgain() { readRows(m_rowsAt, false); }

private:
    // The characters from v up to the next double quote. A double quote that is the text's last character
    // does not count, so the search ends before position L - 1.
    TQuoted quoted(qsizetype v)
    {
        // Most values are short: their first characters are looked at here before the finder is asked.
        const char16_t* chars = m_text.utf16();
        const qsizetype shortEnd = std::min(m_length - 1, v + 32);
        for (qsizetype k = std::max<qsizetype>(v, 0); k < shortEnd; ++k) {
            if (chars[k] == u'"') {
                return {m_text.mid(v, k - v), k};
            }
        }
        const qsizetype closing = m_quote.find(v, m_length - 1);
        if (closing == NotFound) {
            return {};
        }
        return {m_text.mid(v, closing - v), closing};
    }

    // Where the key search begins, for settings whose tag is at `params` (NotFound for none).
    static qsizetype keysFrom(qsizetype params);
    // For a key the settings tag `params` holds as attributes `attributes`: true when the scan finds it
    // there, or finds it nowhere and the tag has none.
    bool plainKey(const std::vector<TXmlAttribute>& attributes, QStringView key, TMarkerFinder& finder, qsizetype s0);

    // Among the attributes the last scanStartTag listed that start before `end`: the position right after
    // `marker` (an attribute name with its `="`), preferring one written in the marker's own letter case, as
    // the writer writes it, to one in another case; NotFound when there is none.
    qsizetype attributeValue(QStringView marker, qsizetype end) const;

    // Returns the field cursor where the key search begins.
    qsizetype readFields(qsizetype p, const TWorkspace::TFieldBatch& batch);
    // Adds the field whose empty-element tag, at `tag`, is `field`.
    void addPlainField(qsizetype tag, const TPlainField& field, QString& lastType, QString& lastWidth);
    // The next FIELD start tag at or after p.
    qsizetype findFieldTag(qsizetype p);
    // The LCID, and the other attributes the packet's settings keep (the keys are read on their own, and the
    // change log goes with the change-log rows it describes).
    void readParams(qsizetype params);
    // Returns the position of the character that ended the scan, or L when the text ended first.
    qsizetype scanNumbers(qsizetype v, TKeyKind list);
    // Where a row element's attributes end, where the row scan goes on (NotFound after a last row without
    // end), and the content of a row element that has one.
    struct TRowElement {
        qsizetype valuesEnd;
        qsizetype next;
        QStringView content;
    };
    TRowElement rowElement(qsizetype g);
    // The next row element at or after `from`; NotFound when there is none.
    qsizetype findRowElement(qsizetype from);
    // False when `plain` is asked for and the rows are not all in their plain form.
    bool readRows(qsizetype rowData, bool plain);
    // Whether the text from `from` to the next row element (at `next`, NotFound after the last) is in the plain
    // form: text only between rows, end tags only after the last.
    bool plainBetweenRows(qsizetype from, qsizetype next) const;
    // Gathers the row's values from the attributes in [begin, end); a value's closing quote must lie before
    // `end`.
    void readRowValues(qsizetype begin, qsizetype end);
    // The same for a row whose attributes are in the plain form; false when they are in another form.
    bool readPlainRowValues(qsizetype begin, qsizetype end);

    TWorkspace& m_ws;
    TDialogs& m_dialogs;
    QStringView m_text;
    qsizetype m_length;

    TMarkerFinder m_quote;
    TMarkerFinder m_xml;
    TMarkerFinder m_packet;
    TMarkerFinder m_fields;
    TMarkerFinder m_field;
    TMarkerFinder m_end;
    TMarkerFinder m_params;
    TMarkerFinder m_defaultOrder;
    TMarkerFinder m_primaryKey;
    TMarkerFinder m_rowData;
    TMarkerFinder m_row;
    TElementNesting m_fieldNesting;
    TElementNesting m_rowNesting;
    std::vector<qsizetype> m_attributes;

    // The name index the field adds built, handed to the row rules: rows that give their values in field
    // order, as written ones do, never look in it.
    TNameIndex m_fieldNames;
    TRowRules m_rows;
    std::optional<qint64> m_gridLimit;
    // Where the rows begin, once the scan has found them.
    qsizetype m_rowsAt = NotFound;
    // Whether the head is in the plain form, and how many field tags it holds.
    bool m_plainHead = false;
    qsizetype m_plainFieldCount = 0;
};

} // namespace torvane
