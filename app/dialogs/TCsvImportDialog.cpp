#include "dialogs/TCsvImportDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace torvane {

TCsvImportDialog::TCsvImportDialog(const QString& fileName, TCsvPreviewOf preview, QWidget* parent)
    : QDialog(parent), m_preview(std::move(preview)), m_separator(new QComboBox(this)),
      m_header(new QCheckBox(QStringLiteral("先頭の行は見出し（フィールド名）"), this)),
      m_encoding(new QComboBox(this)), m_table(new QTableWidget(this)), m_outcome(new QLabel(this))
{
    setObjectName(QStringLiteral("CsvImportDialog"));
    setWindowTitle(QStringLiteral("CSVを読み込む - %1").arg(QFileInfo(fileName).fileName()));
    m_separator->setObjectName(QStringLiteral("CsvSeparator"));
    m_separator->addItem(QStringLiteral("カンマ（,）"), QChar(u','));
    m_separator->addItem(QStringLiteral("タブ"), QChar(u'\t'));
    m_separator->addItem(QStringLiteral("セミコロン（;）"), QChar(u';'));
    m_header->setObjectName(QStringLiteral("CsvHeader"));
    m_header->setChecked(true);
    m_encoding->setObjectName(QStringLiteral("CsvEncoding"));
    m_encoding->addItem(QStringLiteral("自動"), int(TCsvEncodingChoice::Automatic));
    m_encoding->addItem(QStringLiteral("UTF-8"), int(TCsvEncodingChoice::Utf8));
    m_encoding->addItem(QStringLiteral("Shift_JIS（CP932）"), int(TCsvEncodingChoice::Cp932));
    m_table->setObjectName(QStringLiteral("CsvPreview"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->setWordWrap(false);
    m_outcome->setObjectName(QStringLiteral("CsvOutcome"));
    m_outcome->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("区切り文字:"), m_separator);
    form->addRow(QString(), m_header);
    form->addRow(QStringLiteral("文字コード:"), m_encoding);
    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QStringLiteral("読み込む"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QStringLiteral("先頭のレコード:"), this));
    layout->addWidget(m_table, 1);
    layout->addWidget(m_outcome);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_separator, &QComboBox::currentIndexChanged, this, &TCsvImportDialog::showPreview);
    connect(m_encoding, &QComboBox::currentIndexChanged, this, &TCsvImportDialog::showPreview);
    connect(m_header, &QCheckBox::toggled, this, &TCsvImportDialog::showPreview);
    resize(560, 420);
    showPreview();
}

TCsvImportOptions TCsvImportDialog::options() const
{
    TCsvImportOptions options;
    options.separator = m_separator->currentData().toChar();
    options.header = m_header->isChecked();
    options.encoding = TCsvEncodingChoice(m_encoding->currentData().toInt());
    return options;
}

void TCsvImportDialog::showPreview()
{
    const TCsvImportPreview preview = m_preview(options());
    m_table->clear();
    m_table->setColumnCount(static_cast<int>(preview.names.size()));
    m_table->setHorizontalHeaderLabels(preview.names);
    m_table->setRowCount(static_cast<int>(preview.rows.size()));
    for (int r = 0; r < preview.rows.size(); ++r) {
        const QStringList& row = preview.rows[r];
        for (int c = 0; c < row.size(); ++c) {
            m_table->setItem(r, c, new QTableWidgetItem(row[c]));
        }
    }
    // As wide as the values, but no column wider than half the table.
    m_table->resizeColumnsToContents();
    for (int c = 0; c < m_table->columnCount(); ++c) {
        m_table->setColumnWidth(c, std::min(m_table->columnWidth(c), m_table->viewport()->width() / 2));
    }
    m_table->resizeRowsToContents();
    m_outcome->setText(preview.outcome);
    m_ok->setEnabled(preview.readable);
}

} // namespace torvane
