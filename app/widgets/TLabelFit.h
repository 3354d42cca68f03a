#pragma once

#include <QFontMetrics>
#include <QLabel>

#include <climits>

namespace torvane {

// The layout's places were drawn for a proportional Japanese gothic at 13 px. A font whose kana are wider
// (Noto Sans CJK sets every one a full em) would run a label under the control beside it, so such a label
// is set a pixel smaller at a time until it ends where that control begins.
inline void fitLabelsToTheirControls(QWidget* container)
{
    for (QLabel* label : container->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        int room = INT_MAX;
        for (const QWidget* other : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            const bool beside = other != label && other->x() > label->x() &&
                                other->y() < label->y() + label->height() && label->y() < other->y() + other->height();
            if (beside && !other->isHidden()) {
                room = std::min(room, other->x() - label->x());
            }
        }
        label->setFont(QFont());
        QFont font = label->font();
        while (QFontMetrics(font).horizontalAdvance(label->text()) > room && font.pixelSize() > 9) {
            font.setPixelSize(font.pixelSize() - 1);
        }
        if (font != label->font()) {
            label->setFont(font);
        }
        label->adjustSize();
    }
}

} // namespace torvane
