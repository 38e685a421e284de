#pragma once
// The progress window itself; most callers need only ProgressMessage.h.
#include <QWidget>
#include <memory>

#include "tzlib/qt/ProgressMessage.h"

class QLabel;
class QPushButton;
class QSystemTrayIcon;

class TProgressMessage : public QWidget {
public:
    TProgressMessage(TProgressCancelProc cancelProc, int32_t userValue);
    ~TProgressMessage() override;

    // Called when the form closes.
    std::function<void(TProgressMessage&)> OnClosed;

    void SetTexts(const std::string& message, const std::string& detail, const std::string& progress);
    // Into the tray where the desktop has one, else minimised to the task bar.
    void SendToTray();
    void RestoreFromTray();
    void RemoveTrayIcon();
    void SetCancelVisible(bool visible);
    void CloseProgressForm();
    void btCancelClick();

    bool InTray() const { return inTray_; }
    bool CancelVisible() const { return cancelVisible_; }
    // The tray icon's tool tip: the message line (shortened) and the progress text.
    std::string TrayTip() const;

    QLabel* imIcon;
    QLabel* laMsg;
    QPushButton* btCancel;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    TProgressCancelProc cancelProc_;
    int32_t userValue_;
    bool cancelVisible_ = false;
    std::string message_, detail_, progress_;
    bool inTray_ = false;
    bool closeQueryDetached_ = false;
    std::unique_ptr<QSystemTrayIcon> trayIcon_;
};
