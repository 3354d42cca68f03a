#pragma once

#include <QAbstractSpinBox>

namespace torvane {

// The width box: free text limited, as typed, to digits, signs and the decimal separator; it may be
// empty, has no range and keeps whatever it holds. The up and down steps count from 0 when the text is
// not a number. The text is the field's width text exactly as typed.
class TFieldWidthEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit TFieldWidthEdit(QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    StepEnabled stepEnabled() const override;
};

} // namespace torvane
