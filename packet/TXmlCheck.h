#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace torvane {

// The first place where a text breaks the well-formedness rules of XML 1.0, and what is wrong there.
struct TXmlFault {
    qsizetype position = 0; // in the text, in UTF-16 units
    qsizetype line = 1;     // from 1; a CR LF pair, a lone CR and a lone LF each end a line
    qsizetype column = 1;   // from 1, in UTF-16 units
    QString message;        // what is wrong, in Japanese, with no full stop
};

// Whether `text` is a well-formed XML 1.0 document: one root element, names as XML allows them, quoted and
// unique attributes, matching end tags, legal characters and references, and correct comments, processing
// instructions, CDATA sections and document type declaration. Entities declared in an internal subset are
// known by name only; their replacement text is not checked. One pass over the text, with fast paths for
// plain character data and attribute values, so that a save of hundreds of megabytes barely notices it.
std::optional<TXmlFault> checkXml(QStringView text);

// Where a fault sits in a packet as the writer lays it out, in the words of the data page: "フィールド「X」"
// for a FIELD element, "データ 3 行目、フィールド「X」" for an attribute of the third ROW (without the field
// when the attribute cannot be told); empty elsewhere.
QString packetPlaceOf(QStringView text, qsizetype position);

// The question asked before a text that is not well-formed is saved, or the message `convert` prints:
// "<line> 行 <column> 列: <message>" with the place on the data page after it when there is one.
QString describeXmlFault(QStringView text, const TXmlFault& fault);

} // namespace torvane
