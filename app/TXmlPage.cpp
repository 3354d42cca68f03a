#include "TXmlPage.h"

#include "TLineBreaks.h"
#include "TPushButton.h"
#include "TXmlView.h"

#include <QResizeEvent>
#include <QTextDocument>

namespace torvane {

TXmlPage::TXmlPage(TWorkspace& workspace, const TErrorHandler& errors, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_errors(errors)
{
    B_XmlLoad = new TPushButton(QStringLiteral("読み込み"), this);
    B_XmlLoad->setObjectName(QStringLiteral("B_XmlLoad"));
    B_XmlSave = new TPushButton(QStringLiteral("保存"), this);
    B_XmlSave->setObjectName(QStringLiteral("B_XmlSave"));
    Te_Xml = new TXmlView(this);
    Te_Xml->setObjectName(QStringLiteral("Te_Xml"));
    Te_Xml->setLineWrapMode(QPlainTextEdit::NoWrap);
    Te_Xml->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Te_Xml->setTabChangesFocus(false);
    setTabOrder(B_XmlLoad, B_XmlSave);
    setTabOrder(B_XmlSave, Te_Xml);

    connect(B_XmlLoad, &QPushButton::clicked, this, &TXmlPage::loadClicked);
    connect(B_XmlSave, &QPushButton::clicked, this, &TXmlPage::saveClicked);
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

void TXmlPage::showLoadedText(const QString& text)
{
    {
        // A load is no hand edit: the window marks the text side itself and clears the unsaved mark.
        const QSignalBlocker blocker(Te_Xml);
        Te_Xml->setPlainText(text);
    }
    Te_Xml->document()->setModified(true);
}

bool TXmlPage::holdsView(const QWidget* widget) const
{
    return widget == Te_Xml || Te_Xml->isAncestorOf(widget);
}

void TXmlPage::Te_XmlChange()
{
    m_errors.run([this] {
        if (Te_Xml->document()->isModified()) {
            m_workspace.markTextEdited();
            emit edited();
        }
    });
}

} // namespace torvane
