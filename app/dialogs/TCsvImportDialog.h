#pragma once

#include "dialogs/TWindowDialogs.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace torvane {

// The CSV import's options: separator, header row and encoding, with the first records and what the import
// will do shown for the options as they are chosen. OK is enabled only where the file can be read so.
class TCsvImportDialog : public QDialog {
    Q_OBJECT
public:
    TCsvImportDialog(const QString& fileName, TCsvPreviewOf preview, QWidget* parent = nullptr);

    TCsvImportOptions options() const;

private:
    void showPreview();

    TCsvPreviewOf m_preview;
    QComboBox* m_separator;
    QCheckBox* m_header;
    QComboBox* m_encoding;
    QTableWidget* m_table;
    QLabel* m_outcome;
    QPushButton* m_ok;
};

} // namespace torvane
