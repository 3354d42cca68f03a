#include "widgets/TSplitterBar.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

#include <algorithm>

namespace torvane {

TSplitterBar::TSplitterBar(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::SizeVerCursor);
    // The bar takes the keyboard only during a drag (for Esc); a click must not move the focus to it first,
    // or it could not give the focus back.
    setFocusPolicy(Qt::NoFocus);
    // The line lives in the page so that it can be drawn across the groups above and below the bar.
    m_line = new QWidget(parent);
    m_line->setObjectName(QStringLiteral("Splitter1Line"));
    m_line->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_line->setAutoFillBackground(true);
    QPalette palette = m_line->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Dark));
    m_line->setPalette(palette);
    m_line->hide();
}

void TSplitterBar::setSizeSource(std::function<int()> currentSize, std::function<int()> maxSize)
{
    m_currentSize = std::move(currentSize);
    m_maxSize = std::move(maxSize);
}

int TSplitterBar::clampedSize(int proposed, int maxSize)
{
    if (proposed <= MinSize) {
        return 0;
    }
    return std::max(MinSize, std::min(proposed, maxSize));
}

int TSplitterBar::proposedSize(int globalY) const
{
    return clampedSize(m_startSize + globalY - m_pressY, m_maxSize ? m_maxSize() : m_startSize);
}

void TSplitterBar::placeLine(int size)
{
    // The bar's top edge sits right under the control above, whose top is the bar's top minus its size.
    const int top = y() - m_startSize + size;
    m_line->setGeometry(x(), top, width(), height());
    m_line->raise();
    m_line->show();
}

void TSplitterBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_currentSize) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_pressY = event->globalPosition().toPoint().y();
    m_startSize = m_currentSize();
    // Esc must reach the bar while the mouse is held; the focus goes back where it was after the drag.
    m_previousFocus = QApplication::focusWidget();
    setFocus(Qt::MouseFocusReason);
    placeLine(m_startSize);
}

void TSplitterBar::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging) {
        placeLine(proposedSize(event->globalPosition().toPoint().y()));
    }
}

void TSplitterBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_dragging || event->button() != Qt::LeftButton) {
        return;
    }
    const int size = proposedSize(event->globalPosition().toPoint().y());
    endDrag();
    emit moved(size);
}

void TSplitterBar::keyPressEvent(QKeyEvent* event)
{
    if (m_dragging && event->key() == Qt::Key_Escape) {
        endDrag();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TSplitterBar::endDrag()
{
    m_dragging = false;
    m_line->hide();
    if (m_previousFocus) {
        m_previousFocus->setFocus(Qt::OtherFocusReason);
    } else {
        clearFocus();
    }
    m_previousFocus = nullptr;
}

void TSplitterBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawControl(QStyle::CE_Splitter, &option, &painter, this);
}

} // namespace torvane
