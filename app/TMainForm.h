#pragma once

#include "TErrorHandler.h"
#include "TWorkspace.h"

#include <QMainWindow>

class QTabWidget;

namespace torvane {

class TDataPage;
class TManualPage;
class TXmlPage;

// The main window: owns the workspace for the whole run and the three pages that show it. Showing a
// working page rebuilds it from the other one when the workspace asks for it.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int DesignLeft = 71;
    static constexpr int DesignTop = 55;
    static constexpr int DesignWidth = 783;
    static constexpr int DesignHeight = 583;
    // The window springs back to these when sized smaller.
    static constexpr int MinWidth = 783;
    static constexpr int MinHeight = 553;

    explicit TMainForm(TDialogs& dialogs, QWidget* parent = nullptr);
    ~TMainForm() override;

    void FormCreate();
    void FormDestroy();
    void FormResize();
    void PageControl1Resize();
    void TabSheet1Show();
    void TabSheet2Show();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pageChanged(int index);
    void switchPage(int step);

    TDialogs& m_dialogs;
    TErrorHandler m_errors;
    TWorkspace m_workspace;
    bool m_firstShow = true;

    QTabWidget* PageControl1 = nullptr;
    TDataPage* TabSheet1 = nullptr;
    TXmlPage* TabSheet2 = nullptr;
    TManualPage* TabSheet3 = nullptr;
};

} // namespace torvane
