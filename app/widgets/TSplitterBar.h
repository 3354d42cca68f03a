#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

namespace torvane {

// The bar between the field group and the data group. Dragging it with the left button moves a line
// across the page; releasing sets the size of the control above, held to the limits the page allows;
// Esc cancels the drag.
class TSplitterBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int MinSize = 60;

    explicit TSplitterBar(QWidget* parent = nullptr);

    // The current size of the control above and the largest size the page allows it now.
    void setSizeSource(std::function<int()> currentSize, std::function<int()> maxSize);
    bool isDragging() const { return m_dragging; }

    // The size a drag to `proposed` ends in: 60 or less collapses to 0, otherwise at most the page's limit.
    static int clampedSize(int proposed, int maxSize);

signals:
    // A drag ended on a new size for the control above.
    void moved(int newSize);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int proposedSize(int globalY) const;
    void placeLine(int size);
    void endDrag();

    std::function<int()> m_currentSize;
    std::function<int()> m_maxSize;
    QWidget* m_line = nullptr;
    QPointer<QWidget> m_previousFocus;
    bool m_dragging = false;
    int m_pressY = 0;
    int m_startSize = 0;
};

} // namespace torvane
