#include "TXmlPage.h"

#include "TFindBar.h"
#include "TLineBreaks.h"
#include "TPushButton.h"
#include "TXmlView.h"

#include <QResizeEvent>
#include <QShortcut>
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

    m_findBar = new TFindBar(*Te_Xml, this);
    m_findBar->hide();
    connect(m_findBar, &TFindBar::closeRequested, this, &TXmlPage::closeFindBar);
    const auto add = [this](const QKeySequence& keys, auto&& slot) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, slot);
        return shortcut;
    };
    add(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { openFind(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_G), [this] { openGoToLine(); });
    add(QKeySequence(Qt::Key_F3), [this] {
        if (!m_findBar->isVisible() || m_findBar->isGoToLine()) {
            openFind();
        }
        m_findBar->findNext();
    });
    add(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] {
        if (!m_findBar->isVisible() || m_findBar->isGoToLine()) {
            openFind();
        }
        m_findBar->findPrevious();
    });
    // Esc in the text view closes an open bar as well.
    add(QKeySequence(Qt::Key_Escape), [this] { closeFindBar(); });
    placeControls();
}

void TXmlPage::placeControls()
{
    const int cw = width();
    const int ch = height();
    B_XmlLoad->setGeometry(cw - 190, 0, 89, 22);
    B_XmlSave->setGeometry(cw - 94, 0, 89, 22);
    const int barHeight = m_findBar && m_findBar->isVisible() ? m_findBar->sizeHint().height() : 0;
    Te_Xml->setGeometry(0, 24, cw + 1, std::max(0, ch - 25 - barHeight));
    if (barHeight > 0) {
        m_findBar->setGeometry(0, ch - barHeight, cw, barHeight);
    }
}

void TXmlPage::openFind()
{
    m_findBar->openFind(Te_Xml->textCursor().selectedText());
    placeControls();
}

void TXmlPage::openGoToLine()
{
    m_findBar->openGoToLine();
    placeControls();
}

void TXmlPage::closeFindBar()
{
    if (!m_findBar->isVisible()) {
        return;
    }
    m_findBar->hide();
    placeControls();
    Te_Xml->setFocus();
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
