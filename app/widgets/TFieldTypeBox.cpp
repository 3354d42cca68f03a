#include "widgets/TFieldTypeBox.h"

#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>

namespace torvane {

TFieldTypeBox::TFieldTypeBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    // New type codes enter the list only through the confirmation on Enter.
    setInsertPolicy(QComboBox::NoInsert);
    auto* completer = new QCompleter(model(), this);
    completer->setCompletionMode(QCompleter::InlineCompletion);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    setCompleter(completer);
    setEditText(QStringLiteral("選択"));
    connect(this, &QComboBox::activated, this, &TFieldTypeBox::choose);
    connect(lineEdit(), &QLineEdit::textEdited, this, &TFieldTypeBox::textTyped);
}

std::optional<QString> TFieldTypeBox::chosenText() const
{
    if (!m_chosen || *m_chosen < 0 || *m_chosen >= count()) {
        return std::nullopt;
    }
    return itemText(*m_chosen);
}

void TFieldTypeBox::choose(int index)
{
    if (index < 0 || index >= count()) {
        return;
    }
    m_chosen = index;
    setCurrentIndex(index);
    setEditText(itemText(index));
}

void TFieldTypeBox::setTypeList(const QStringList& items)
{
    QStringList current;
    current.reserve(count());
    for (int i = 0; i < count(); ++i) {
        current.append(itemText(i));
    }
    if (current == items) {
        return;
    }
    const QString text = currentText();
    const QSignalBlocker blocker(this);
    clear();
    addItems(items);
    setCurrentIndex(m_chosen.value_or(-1));
    setEditText(text);
}

void TFieldTypeBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        emit enterPressed();
        return;
    }
    if (event->key() == Qt::Key_Backspace) {
        m_backspacing = true;
        QComboBox::keyPressEvent(event);
        m_backspacing = false;
        m_chosen.reset();
        return;
    }
    QComboBox::keyPressEvent(event);
    // The completion may be filled in after the text change was signalled; look again once it is.
    if (!event->text().isEmpty() && event->text().at(0).isPrint()) {
        textTyped();
    }
}

void TFieldTypeBox::textTyped()
{
    if (m_backspacing) {
        return;
    }
    // The line edit has filled in the completion and selected it; what the user typed is the part before
    // the selection.
    QLineEdit* edit = lineEdit();
    const QString typed = edit->hasSelectedText() ? edit->text().left(edit->selectionStart()) : edit->text();
    if (typed.isEmpty()) {
        m_chosen.reset();
        return;
    }
    for (int i = 0; i < count(); ++i) {
        if (itemText(i).startsWith(typed, Qt::CaseInsensitive)) {
            if (edit->text().compare(itemText(i), Qt::CaseInsensitive) == 0) {
                m_chosen = i;
                return;
            }
            break;
        }
    }
    m_chosen.reset();
}

} // namespace torvane
