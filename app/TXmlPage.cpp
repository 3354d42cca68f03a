#include "TXmlPage.h"

#include "TLineBreaks.h"
#include "TPacketFile.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QTextDocument>

namespace torvane {

namespace {

// "xmlファイル|*.xml|総て|*.*" in the file dialog's own notation.
const QString SaveFilter = QStringLiteral("xmlファイル (*.xml);;総て (*)");

} // namespace

TXmlPage::TXmlPage(TWorkspace& workspace, TDialogs& dialogs, const TErrorHandler& errors, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_dialogs(dialogs), m_errors(errors)
{
    B_XmlLoad = new QPushButton(QStringLiteral("読み込み"), this);
    B_XmlLoad->setObjectName(QStringLiteral("B_XmlLoad"));
    B_XmlSave = new QPushButton(QStringLiteral("保存"), this);
    B_XmlSave->setObjectName(QStringLiteral("B_XmlSave"));
    Te_Xml = new QPlainTextEdit(this);
    Te_Xml->setObjectName(QStringLiteral("Te_Xml"));
    Te_Xml->setLineWrapMode(QPlainTextEdit::NoWrap);
    Te_Xml->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Te_Xml->setTabChangesFocus(false);
    setTabOrder(B_XmlLoad, B_XmlSave);
    setTabOrder(B_XmlSave, Te_Xml);

    connect(B_XmlLoad, &QPushButton::clicked, this, &TXmlPage::B_XmlLoadClick);
    connect(B_XmlSave, &QPushButton::clicked, this, &TXmlPage::B_XmlSaveClick);
    connect(Te_Xml, &QPlainTextEdit::textChanged, this, &TXmlPage::Te_XmlChange);
    placeControls();
}

void TXmlPage::placeControls()
{
    const int cw = width();
    const int ch = height();
    B_XmlLoad->setGeometry(cw - 190, 0, 89, 22);
    B_XmlSave->setGeometry(cw - 94, 0, 89, 22);
    Te_Xml->setGeometry(0, 24, cw + 1, std::max(0, ch - 25));
}

void TXmlPage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeControls();
}

QString TXmlPage::viewText() const
{
    // toPlainText() would turn no-break spaces into spaces and so change values; the raw text keeps them
    // and separates paragraphs with U+2029.
    QString text = Te_Xml->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

void TXmlPage::showPacket(const QString& crlfText)
{
    {
        const QSignalBlocker blocker(Te_Xml);
        Te_Xml->setPlainText(toViewText(crlfText));
    }
    Te_Xml->document()->setModified(false);
}

void TXmlPage::B_XmlLoadClick()
{
    m_errors.run([this] {
        const std::optional<QString> name = m_dialogs.openFileName(m_openName);
        if (!name) {
            return;
        }
        m_openName = *name;
        // The flag goes up before the file is opened, so that a failed open still re-parses the view.
        m_workspace.NeedsRebuild = true;
        const QString text = loadPacketFile(*name);
        Te_Xml->setPlainText(text);
        Te_Xml->document()->setModified(true);
    });
}

void TXmlPage::B_XmlSaveClick()
{
    m_errors.run([this] {
        const std::optional<QString> name = m_dialogs.saveFileName(m_saveName, SaveFilter);
        if (!name) {
            return;
        }
        m_saveName = *name;
        savePacketFile(*name, viewText());
    });
}

void TXmlPage::Te_XmlChange()
{
    m_errors.run([this] {
        if (Te_Xml->document()->isModified()) {
            m_workspace.NeedsRebuild = true;
        }
    });
}

} // namespace torvane
