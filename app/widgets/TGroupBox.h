#pragma once

#include <QFontMetrics>
#include <QGroupBox>
#include <QPainter>

namespace torvane {

// A group box whose frame line runs through the middle of its caption, as on the desktop this layout was
// drawn for. The controls' positions inside a group (some as near the top as 10 pixels) assume it: with the
// style's own frame, which starts below the caption, the line would cross them.
class TGroupBox : public QGroupBox {
public:
    TGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        const int captionHeight = metrics.height();
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(rect().adjusted(0, captionHeight / 2, -1, -1));
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(rect().adjusted(1, captionHeight / 2 + 1, -2, -2));

        const QRect caption(6, 0, metrics.horizontalAdvance(title()) + 4, captionHeight);
        painter.fillRect(caption, palette().color(QPalette::Window));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(caption, Qt::AlignCenter, title());
    }
};

} // namespace torvane
