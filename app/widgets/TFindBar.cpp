#include "widgets/TFindBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace torvane {

TFindBar::TFindBar(TFindTarget& target, QWidget* parent)
    : QWidget(parent), m_target(target), m_label(new QLabel(this)), m_edit(new QLineEdit(this)),
      m_previous(new QPushButton(QStringLiteral("前へ"), this)), m_next(new QPushButton(QStringLiteral("次へ"), this)),
      m_matchCase(new QCheckBox(QStringLiteral("大文字と小文字を区別"), this)),
      m_wholeCells(new QCheckBox(QStringLiteral("セル全体"), this)), m_status(new QLabel(this)),
      m_close(new QPushButton(QStringLiteral("閉じる"), this)), m_replaceRow(new QWidget(this)),
      m_replaceEdit(new QLineEdit(m_replaceRow))
{
    setObjectName(QStringLiteral("FindBar"));
    m_edit->setObjectName(QStringLiteral("FindText"));
    m_status->setObjectName(QStringLiteral("FindStatus"));
    m_matchCase->setObjectName(QStringLiteral("FindMatchCase"));
    m_wholeCells->setObjectName(QStringLiteral("FindWholeCells"));
    m_replaceEdit->setObjectName(QStringLiteral("ReplaceText"));
    auto* findRow = new QHBoxLayout;
    findRow->setContentsMargins(0, 0, 0, 0);
    findRow->addWidget(m_label);
    findRow->addWidget(m_edit, 1);
    findRow->addWidget(m_previous);
    findRow->addWidget(m_next);
    findRow->addWidget(m_matchCase);
    findRow->addWidget(m_wholeCells);
    findRow->addWidget(m_status, 1);
    findRow->addWidget(m_close);
    auto* replaceOne = new QPushButton(QStringLiteral("置換"), m_replaceRow);
    replaceOne->setObjectName(QStringLiteral("ReplaceOne"));
    auto* replaceAll = new QPushButton(QStringLiteral("すべて置換"), m_replaceRow);
    replaceAll->setObjectName(QStringLiteral("ReplaceAll"));
    auto* replaceRow = new QHBoxLayout(m_replaceRow);
    replaceRow->setContentsMargins(0, 0, 0, 0);
    replaceRow->addWidget(new QLabel(QStringLiteral("置換後:"), m_replaceRow));
    replaceRow->addWidget(m_replaceEdit, 1);
    replaceRow->addWidget(replaceOne);
    replaceRow->addWidget(replaceAll);
    replaceRow->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
    layout->addLayout(findRow);
    layout->addWidget(m_replaceRow);
    m_replaceRow->hide();
    for (QPushButton* button : {m_previous, m_next, m_close, replaceOne, replaceAll}) {
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::NoFocus);
    }
    // Tab goes from the text to find to its replacement, then to the options.
    setTabOrder(m_edit, m_replaceEdit);
    setTabOrder(m_replaceEdit, m_matchCase);
    setTabOrder(m_matchCase, m_wholeCells);
    m_edit->installEventFilter(this);
    m_replaceEdit->installEventFilter(this);
    connect(m_previous, &QPushButton::clicked, this, &TFindBar::findPrevious);
    connect(m_next, &QPushButton::clicked, this, &TFindBar::findNext);
    connect(replaceOne, &QPushButton::clicked, this, &TFindBar::replaceOne);
    connect(replaceAll, &QPushButton::clicked, this, &TFindBar::replaceEvery);
    connect(m_close, &QPushButton::clicked, this, &TFindBar::closeRequested);
    connect(m_edit, &QLineEdit::textEdited, this, [this] { setStatus(QString()); });
    connect(m_wholeCells, &QCheckBox::toggled, this, [this](bool whole) { m_target.setWholeCells(whole); });
}

void TFindBar::showFindControls(bool shown)
{
    for (QWidget* widget :
         {static_cast<QWidget*>(m_previous), static_cast<QWidget*>(m_next), static_cast<QWidget*>(m_matchCase)}) {
        widget->setVisible(shown);
    }
    m_wholeCells->setVisible(shown && m_target.hasCells());
}

void TFindBar::openFind(const QString& initial)
{
    m_goToLine = false;
    m_label->setText(QStringLiteral("検索:"));
    showFindControls(true);
    m_replaceRow->hide();
    if (!initial.isEmpty() && !initial.contains(u'\n')) {
        m_findText = initial;
    }
    m_edit->setText(m_findText);
    setStatus(QString());
    show();
    m_edit->setFocus();
    m_edit->selectAll();
}

void TFindBar::openReplace(const QString& initial)
{
    openFind(initial);
    m_replaceRow->show();
}

void TFindBar::openGoToLine()
{
    m_goToLine = true;
    m_label->setText(QStringLiteral("行番号 (1～%1):").arg(m_target.lineCount()));
    showFindControls(false);
    m_replaceRow->hide();
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

Qt::CaseSensitivity TFindBar::caseSensitivity() const
{
    return m_matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

void TFindBar::replaceOne()
{
    m_findText = m_edit->text();
    if (m_goToLine || m_findText.isEmpty()) {
        return;
    }
    // The first press finds a match to show; each press after replaces it and shows the next.
    if (m_target.replaceFound(m_findText, m_replaceEdit->text(), caseSensitivity())) {
        setStatus(QString());
        if (!m_target.find(m_findText, false, caseSensitivity(), true)) {
            setStatus(QStringLiteral("見つかりません"));
        }
        return;
    }
    find(false);
}

void TFindBar::replaceEvery()
{
    m_findText = m_edit->text();
    if (m_goToLine || m_findText.isEmpty()) {
        return;
    }
    const int count = m_target.replaceAll(m_findText, m_replaceEdit->text(), caseSensitivity());
    setStatus(count > 0 ? QStringLiteral("%1 件置換しました").arg(count) : QStringLiteral("見つかりません"));
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
    // Past the end (or the start) the search goes on from the other end.
    switch (m_target.findAround(m_findText, backward, caseSensitivity())) {
    case TFindTarget::Found::Yes:
        setStatus(QString());
        break;
    case TFindTarget::Found::FromOtherEnd:
        setStatus(backward ? QStringLiteral("末尾から続けて検索しました")
                           : QStringLiteral("先頭から続けて検索しました"));
        break;
    case TFindTarget::Found::No:
        setStatus(QStringLiteral("見つかりません"));
        break;
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
    if ((watched == m_edit || watched == m_replaceEdit) && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (watched == m_replaceEdit) {
                replaceOne();
            } else if (m_goToLine) {
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
