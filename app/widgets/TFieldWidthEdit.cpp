#include "widgets/TFieldWidthEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

namespace torvane {

TFieldWidthEdit::TFieldWidthEdit(QWidget* parent) : QAbstractSpinBox(parent)
{
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setText(QStringLiteral("10"));
}

QString TFieldWidthEdit::text() const
{
    return lineEdit()->text();
}

void TFieldWidthEdit::setText(const QString& text)
{
    lineEdit()->setText(text);
}

void TFieldWidthEdit::stepBy(int steps)
{
    bool ok = false;
    const long long value = text().trimmed().toLongLong(&ok);
    setText(QString::number((ok ? value : 0) + steps));
    lineEdit()->selectAll();
}

QValidator::State TFieldWidthEdit::validate(QString&, int&) const
{
    // Typed keys are filtered in keyPressEvent; any text already in the box is kept as it is.
    return QValidator::Acceptable;
}

void TFieldWidthEdit::fixup(QString&) const {}

QAbstractSpinBox::StepEnabled TFieldWidthEdit::stepEnabled() const
{
    return StepUpEnabled | StepDownEnabled;
}

void TFieldWidthEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        QApplication::beep();
        event->accept();
        return;
    }
    const QString typed = event->text();
    const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (!command && !typed.isEmpty() && typed.at(0).isPrint()) {
        const QString separator = locale().decimalPoint();
        for (const QChar c : typed) {
            const bool allowed = (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || separator.contains(c);
            if (!allowed) {
                QApplication::beep();
                event->accept();
                return;
            }
        }
    }
    QAbstractSpinBox::keyPressEvent(event);
}

} // namespace torvane
