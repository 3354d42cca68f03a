#include "TPacketReader.h"

#include "TPacketScan.h"
#include "TTextEncoding.h"
#include "TWellFormedRead.h"
#include "TXmlCheck.h"

#include <QRegularExpression>

namespace torvane {

namespace {

// A declared encoding name as the writer may write it again: XML's EncName ([A-Za-z][A-Za-z0-9._-]*); ""
// for anything else, which a text that is not well-formed may hold.
QString writableEncodingName(const QString& name)
{
    static const QRegularExpression encName(QStringLiteral("^[A-Za-z][A-Za-z0-9._-]*$"));
    return encName.match(name).hasMatch() ? name : QString();
}

} // namespace

TReadRoad readPacket(TWorkspace& workspace, const QString& text, TDialogs& dialogs,
                     std::optional<qint64> gridBytesLimit)
{
    workspace.setXmlEncoding(writableEncodingName(declaredEncodingName(text)));
    TPacketScan scan(workspace, text, dialogs, gridBytesLimit);
    if (!scan.plainHead()) {
        // Another form: an XML reader's reading when the text is well-formed, else the scan's.
        if (!firstXmlFault(text)) {
            readWellFormed(workspace, text, dialogs, gridBytesLimit, false);
            return TReadRoad::Xml;
        }
        scan.scan(false);
        return TReadRoad::Scan;
    }
    if (scan.scan(true)) {
        return TReadRoad::Plain;
    }
    // A row in another form: the head was read alike both ways (its messages shown once), the rows are read
    // again.
    workspace.clearDataRows(1);
    workspace.setDataRowCount(2);
    if (!firstXmlFault(text)) {
        readWellFormed(workspace, text, dialogs, gridBytesLimit, true);
        return TReadRoad::Xml;
    }
    scan.scanRowsAgain();
    return TReadRoad::Scan;
}

void readPacketAsXml(TWorkspace& workspace, const QString& text, TDialogs& dialogs,
                     std::optional<qint64> gridBytesLimit)
{
    workspace.setXmlEncoding(writableEncodingName(declaredEncodingName(text)));
    readWellFormed(workspace, text, dialogs, gridBytesLimit, false);
}

void readPacketByScan(TWorkspace& workspace, const QString& text, TDialogs& dialogs)
{
    workspace.setXmlEncoding(writableEncodingName(declaredEncodingName(text)));
    TPacketScan(workspace, text, dialogs, std::nullopt).scan(false);
}

bool readTextIntoWorkspace(TWorkspace& workspace, const std::function<QString()>& crlfText, TDialogs& dialogs)
{
    if (!workspace.needsRead()) {
        return false;
    }
    workspace.rebuilt();
    readPacket(workspace, crlfText(), dialogs);
    return true;
}

} // namespace torvane
