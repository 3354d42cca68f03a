#pragma once

#include <QComboBox>

#include <optional>

namespace torvane {

// The type box: editable text with the type list as drop-down. Typed text is completed inline to the
// first item it begins (without regard to case), which becomes the chosen item; Backspace un-chooses.
// The chosen item is tracked here because the box's text alone never counts as a choice.
class TFieldTypeBox : public QComboBox {
    Q_OBJECT
public:
    explicit TFieldTypeBox(QWidget* parent = nullptr);

    std::optional<int> chosenIndex() const { return m_chosen; }
    std::optional<QString> chosenText() const;
    // Makes an item the chosen one and shows its text.
    void choose(int index);
    // Replaces the items, keeping the box's text and the chosen item.
    void setTypeList(const QStringList& items);

signals:
    // Enter was pressed; the window decides what it means.
    void enterPressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void textTyped();

    std::optional<int> m_chosen;
    bool m_backspacing = false;
};

} // namespace torvane
