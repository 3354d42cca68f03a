#pragma once

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace torvane {

// The first place where a text breaks the well-formedness rules of XML 1.0, and what is wrong there.
struct TXmlFault {
    qsizetype position = 0; // in the text, in UTF-16 units
    qsizetype line = 1;     // from 1; a CR LF pair, a lone CR and a lone LF each end a line
    qsizetype column = 1;   // from 1, in UTF-16 units
    QString message;        // what is wrong, in Japanese, with no full stop
};

// The first place where `text` breaks the rules of a well-formed XML 1.0 document, or nullopt when it keeps
// them all: one root element, names as XML allows them, quoted and unique attributes, matching end tags, legal
// characters and references, and correct comments, processing instructions, CDATA sections and document type
// declaration. Entities declared in an internal subset are
// known by name only; their replacement text is not checked. One pass over the text, with fast paths for
// plain character data and attribute values, so that a save of hundreds of megabytes barely notices it.
std::optional<TXmlFault> firstXmlFault(QStringView text);

// One attribute of a start tag: its name, and its value as written between the quotes (references not
// decoded, white space not normalised).
struct TXmlAttribute {
    QStringView name;
    QStringView value;
};

// What a reading of a well-formed text is told, in text order, as the check passes over it. Comments,
// processing instructions, CDATA sections, the document type declaration and character data are passed
// over; a reader that keeps an element's content cuts it out of the text between the positions given.
class TXmlEvents {
public:
    virtual ~TXmlEvents() = default;
    // The version of the XML declaration, when the text has one.
    virtual void xmlDeclaration(QStringView version) = 0;
    // A start tag from its "<" at `tagStart` up to `tagEnd`, the position after its ">"; `empty` for "/>",
    // which no endElement follows. The attributes are in the order written.
    virtual void startElement(QStringView name, const std::vector<TXmlAttribute>& attributes, qsizetype tagStart,
                              qsizetype tagEnd, bool empty) = 0;
    // An end tag from its "<" at `tagStart` up to `tagEnd`, the position after its ">".
    virtual void endElement(QStringView name, qsizetype tagStart, qsizetype tagEnd) = 0;
};

// The same pass as firstXmlFault, telling `events` what it meets up to the first fault; nullopt when the text is
// well-formed. Events told before a fault stand: a reader that must not act on a text that is not
// well-formed checks it first.
std::optional<TXmlFault> readXml(QStringView text, TXmlEvents& events);

// Where a fault sits in a packet as the writer lays it out, in the words of the data page: "フィールド「X」"
// for a FIELD element, "データ 3 行目、フィールド「X」" for an attribute of the third ROW (without the field
// when the attribute cannot be told); empty elsewhere.
QString packetPlaceOf(QStringView text, qsizetype position);

// The question asked before a text that is not well-formed is saved, or the message `convert` prints:
// "<line> 行 <column> 列: <message>" with the place on the data page after it when there is one.
QString describeXmlFault(QStringView text, const TXmlFault& fault);

} // namespace torvane
