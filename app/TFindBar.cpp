#include "TFindBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace torvane {

TFindBar::TFindBar(TFindTarget& target, QWidget* parent)
    : QWidget(parent), m_target(target), m_label(new QLabel(this)), m_edit(new QLineEdit(this)),
      m_previous(new QPushButton(QStringLiteral("前へ"), this)), m_next(new QPushButton(QStringLiteral("次へ"), this)),
      m_matchCase(new QCheckBox(QStringLiteral("大文字と小文字を区別"), this)), m_status(new QLabel(this)),
      m_close(new QPushButton(QStringLiteral("閉じる"), this))
{
    setObjectName(QStringLiteral("FindBar"));
    m_edit->setObjectName(QStringLiteral("FindText"));
    m_status->setObjectName(QStringLiteral("FindStatus"));
    m_matchCase->setObjectName(QStringLiteral("FindMatchCase"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(m_label);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_previous);
    layout->addWidget(m_next);
    layout->addWidget(m_matchCase);
    layout->addWidget(m_status, 1);
    layout->addWidget(m_close);
    for (QPushButton* button : {m_previous, m_next, m_close}) {
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::NoFocus);
    }
    m_edit->installEventFilter(this);
    connect(m_previous, &QPushButton::clicked, this, &TFindBar::findPrevious);
    connect(m_next, &QPushButton::clicked, this, &TFindBar::findNext);
    connect(m_close, &QPushButton::clicked, this, &TFindBar::closeRequested);
    connect(m_edit, &QLineEdit::textEdited, this, [this] { setStatus(QString()); });
}

void TFindBar::openFind(const QString& initial)
{
    m_goToLine = false;
    m_label->setText(QStringLiteral("検索:"));
    for (QWidget* widget :
         {static_cast<QWidget*>(m_previous), static_cast<QWidget*>(m_next), static_cast<QWidget*>(m_matchCase)}) {
        widget->show();
    }
    if (!initial.isEmpty() && !initial.contains(u'\n')) {
        m_findText = initial;
    }
    m_edit->setText(m_findText);
    setStatus(QString());
    show();
    m_edit->setFocus();
    m_edit->selectAll();
}

void TFindBar::openGoToLine()
{
    m_goToLine = true;
    m_label->setText(QStringLiteral("行番号 (1～%1):").arg(m_target.lineCount()));
    for (QWidget* widget :
         {static_cast<QWidget*>(m_previous), static_cast<QWidget*>(m_next), static_cast<QWidget*>(m_matchCase)}) {
        widget->hide();
    }
    m_edit->setText(QString::number(m_target.cursorLine()));
    setStatus(QString());
    show();
    m_edit->setFocus();
    m_edit->selectAll();
}

void TFindBar::findNext()
{
    find(false);
}

void TFindBar::findPrevious()
{
    find(true);
}

void TFindBar::find(bool backward)
{
    if (m_goToLine) {
        return;
    }
    m_findText = m_edit->text();
    if (m_findText.isEmpty()) {
        return;
    }
    const Qt::CaseSensitivity cs = m_matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    if (m_target.find(m_findText, backward, cs, false)) {
        setStatus(QString());
        return;
    }
    // Past the end (or the start) the search goes on from the other end.
    if (m_target.find(m_findText, backward, cs, true)) {
        setStatus(backward ? QStringLiteral("末尾から続けて検索しました")
                           : QStringLiteral("先頭から続けて検索しました"));
    } else {
        setStatus(QStringLiteral("見つかりません"));
    }
}

void TFindBar::goToLine()
{
    bool ok = false;
    const int line = m_edit->text().trimmed().toInt(&ok);
    if (!ok || line < 1 || line > m_target.lineCount()) {
        setStatus(QStringLiteral("1～%1 の行番号を入力してください").arg(m_target.lineCount()));
        return;
    }
    m_target.goToLine(line);
    emit closeRequested();
}

void TFindBar::setStatus(const QString& status)
{
    m_status->setText(status);
}

bool TFindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (m_goToLine) {
                goToLine();
            } else {
                find(key->modifiers() & Qt::ShiftModifier);
            }
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            emit closeRequested();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace torvane
