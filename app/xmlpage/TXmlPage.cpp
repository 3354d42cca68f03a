#include "xmlpage/TXmlPage.h"

#include "textview/TTextView.h"
#include "widgets/TFindBar.h"
#include "widgets/TPushButton.h"

#include <QResizeEvent>
#include <QShortcut>
#include <QShowEvent>

namespace torvane {

TXmlPage::TXmlPage(TWorkspace& workspace, const TErrorHandler& errors, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_errors(errors)
{
    B_XmlLoad = new TPushButton(QStringLiteral("読み込み"), this);
    B_XmlLoad->setObjectName(QStringLiteral("B_XmlLoad"));
    B_XmlSave = new TPushButton(QStringLiteral("保存"), this);
    B_XmlSave->setObjectName(QStringLiteral("B_XmlSave"));
    // Long lines wrap: the view lays out only what is on screen (see TTextView).
    Te_Xml = new TTextView(this);
    Te_Xml->setObjectName(QStringLiteral("Te_Xml"));
    Te_Xml->setAccessibleName(QStringLiteral("XML"));
    Te_Xml->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabOrder(B_XmlLoad, B_XmlSave);
    setTabOrder(B_XmlSave, Te_Xml);

    connect(B_XmlLoad, &QPushButton::clicked, this, &TXmlPage::loadClicked);
    connect(B_XmlSave, &QPushButton::clicked, this, &TXmlPage::saveClicked);
    connect(Te_Xml, &TTextView::textChanged, this, &TXmlPage::Te_XmlChange);

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
    add(QKeySequence(Qt::CTRL | Qt::Key_H), [this] { openReplace(); });
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
    m_findBar->openFind(Te_Xml->selectedText());
    placeControls();
}

void TXmlPage::openReplace()
{
    m_findBar->openReplace(Te_Xml->selectedText());
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

void TXmlPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The page is there to be typed in: shown by Ctrl+Tab or a click on its tab, it gives the text the keys.
    // (The tab widget then finds the focus already on its new page and leaves it there.)
    if (!event->spontaneous() && !m_findBar->isVisible()) {
        Te_Xml->setFocus(Qt::OtherFocusReason);
    }
}

const QString& TXmlPage::crLfText() const
{
    return Te_Xml->crLfText();
}

QString TXmlPage::takeText()
{
    const QSignalBlocker blocker(Te_Xml);
    return Te_Xml->takeText();
}

void TXmlPage::showPacket(QString crlfText)
{
    {
        const QSignalBlocker blocker(Te_Xml);
        Te_Xml->setPlainText(std::move(crlfText));
    }
    Te_Xml->setModified(false);
    m_handEdited = false;
}

void TXmlPage::showLoadedText(QString text)
{
    {
        // A load is no hand edit: the window marks the text side itself and clears the unsaved mark.
        const QSignalBlocker blocker(Te_Xml);
        Te_Xml->setPlainText(std::move(text));
    }
    // Modified until the data page reads it: undoing a hand edit back to it leaves it to be read.
    Te_Xml->setModified(true);
    m_handEdited = false;
}

void TXmlPage::textRead()
{
    Te_Xml->setModified(false);
    m_handEdited = false;
}

bool TXmlPage::isTextEdited() const
{
    return Te_Xml->isModified();
}

bool TXmlPage::holdsView(const QWidget* widget) const
{
    return widget == Te_Xml || Te_Xml->isAncestorOf(widget);
}

void TXmlPage::Te_XmlChange()
{
    m_errors.run([this] {
        if (Te_Xml->isModified()) {
            if (!m_handEdited) {
                m_handEdited = true;
                m_readWasPending = m_workspace.needsRead();
            }
            m_workspace.markTextEdited();
        } else if (m_handEdited) {
            // Undone back to the text as it was loaded, written or read: the workspace is as it was then, and
            // a read the data page does not owe it would only throw away its undo history.
            m_handEdited = false;
            if (!m_readWasPending) {
                m_workspace.rebuilt();
            }
        }
        emit edited();
    });
}

} // namespace torvane
