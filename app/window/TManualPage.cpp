#include "window/TManualPage.h"

#include "window/ManualText.h"

#include <QPlainTextEdit>
#include <QResizeEvent>

namespace torvane {

TManualPage::TManualPage(QWidget* parent) : QWidget(parent)
{
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(manualText());
}

void TManualPage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Memo1->setGeometry(0, 0, width() + 2, height() + 1);
}

} // namespace torvane
