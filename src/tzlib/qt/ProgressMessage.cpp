#include "tzlib/qt/ProgressMessage.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <algorithm>
#include <vector>

#include "tzlib/Errors.h"
#include "tzlib/qt/ProgressMessageForm.h"
#include "tzlib/SystemHelpers.h"
#include "tzlib/TextFormats.h"

namespace {

constexpr size_t TipLength = 63;
constexpr size_t ShortMessageLength = 20;

// In creation order.
std::vector<TProgressMessage*>& ProgressForms() {
    static std::vector<TProgressMessage*> forms;
    return forms;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

QRect Scaled(int x, int y, int width, int height) {
    return {ScaleToScreenDpi(x), ScaleToScreenDpi(y), ScaleToScreenDpi(width), ScaleToScreenDpi(height)};
}

QIcon TrayIconImage(const QWidget& form) {
    const QIcon icon = QApplication::windowIcon();
    return icon.isNull() ? form.style()->standardIcon(QStyle::SP_MessageBoxInformation) : icon;
}

}  // namespace

TProgressMessage::TProgressMessage(TProgressCancelProc cancelProc, int32_t userValue)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      cancelProc_(std::move(cancelProc)),
      userValue_(userValue) {
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(ScaleToScreenDpi(348), ScaleToScreenDpi(68));
    imIcon = new QLabel(this);
    imIcon->setGeometry(Scaled(8, 8, 32, 32));
    laMsg = new QLabel(this);
    laMsg->setGeometry(Scaled(57, 8, 192, 52));
    laMsg->setWordWrap(true);
    laMsg->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    btCancel = new QPushButton(this);
    btCancel->setGeometry(Scaled(258, 8, 80, 24));
    connect(btCancel, &QPushButton::clicked, this, [this] { btCancelClick(); });

    const std::string title = ApplicationTitle();
    setWindowTitle(Q(title.empty() ? "Dovrant" : title));
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull()) imIcon->setPixmap(icon.pixmap(ScaleToScreenDpi(32)));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TProgressMessage::~TProgressMessage() {
    RemoveTrayIcon();
    std::erase(ProgressForms(), this);
}

void TProgressMessage::SetTexts(const std::string& message, const std::string& detail, const std::string& progress) {
    if (!message.empty()) message_ = message;
    if (!detail.empty()) detail_ = detail;
    if (!progress.empty()) progress_ = progress;
    laMsg->setText(Q(message_ + "\n" + detail_ + " " + progress_));
    if (inTray_) SendToTray();
    ProcessMessages();
}

// Counted in characters, so that no character is cut in half.
std::string TProgressMessage::TrayTip() const {
    const std::string line = CharacterCount(message_) <= ShortMessageLength ? message_ + " "
                                                                             : LeftCharacters(message_, 17) + "... ";
    return LeftCharacters(line + progress_, TipLength);
}

void TProgressMessage::SendToTray() {
    if (trayIcon_) {
        trayIcon_->setToolTip(Q(TrayTip()));
    } else if (QSystemTrayIcon::isSystemTrayAvailable()) {
        trayIcon_ = std::make_unique<QSystemTrayIcon>(TrayIconImage(*this));
        trayIcon_->setToolTip(Q(TrayTip()));
        connect(trayIcon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick) RestoreFromTray();
        });
        trayIcon_->show();
    }
    inTray_ = true;
    // Without a tray the task bar is the only way back for the user.
    if (trayIcon_)
        hide();
    else
        showMinimized();
    ProcessMessages();
}

void TProgressMessage::RestoreFromTray() {
    TProgressMessage* active = GetActiveProgressForm();
    if (active == this) return;
    if (active) active->SendToTray();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    RemoveTrayIcon();
}

void TProgressMessage::RemoveTrayIcon() {
    if (!inTray_) return;
    trayIcon_.reset();
    inTray_ = false;
}

void TProgressMessage::SetCancelVisible(bool visible) {
    cancelVisible_ = visible;
    btCancel->setVisible(visible);
    setFixedWidth(ScaleToScreenDpi(visible ? 356 : 275));
    ProcessMessages();
}

void TProgressMessage::CloseProgressForm() {
    closeQueryDetached_ = true;
    close();
}

void TProgressMessage::btCancelClick() {
    if (cancelProc_) {
        SendToTray();
        bool mayCancel = true;
        cancelProc_(userValue_, mayCancel);
        if (!mayCancel) {
            RestoreFromTray();
            return;
        }
    }
    CloseProgressForm();
}

// Only CloseProgressForm closes the form; any other attempt sends it to the tray.
void TProgressMessage::closeEvent(QCloseEvent* event) {
    if (!closeQueryDetached_) {
        event->ignore();
        SendToTray();
        return;
    }
    if (OnClosed) OnClosed(*this);
    std::erase(ProgressForms(), this);
    event->accept();
    ProcessMessages();
}

void TProgressMessage::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    if (isMinimized() && !inTray_)
        SendToTray();
    else if (!isMinimized() && inTray_ && !trayIcon_)
        inTray_ = false;  // the user brought it back from the task bar
}

TProgressMessage* CreateProgressMessage(int32_t code, TProgressCancelProc cancelProc, int32_t userValue) {
    if (SilentMode || !qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
    SetDefaultCursor();
    const bool withCancel = static_cast<bool>(cancelProc);
    auto* form = new TProgressMessage(std::move(cancelProc), userValue);
    form->SetCancelVisible(withCancel);
    form->btCancel->setText(Q(ErrorTextCallback ? ErrorTextCallback(3718) : "Abort"));
    if (TProgressMessage* active = GetActiveProgressForm()) active->SendToTray();
    if (ShowProgressForms)
        form->show();
    else
        form->SendToTray();
    if (code != 0) form->SetTexts(GetErrorText(code, "", ".", false), "", "");
    form->repaint();
    ProgressForms().push_back(form);
    return form;
}

void SetTexts(TProgressMessage* form, const std::string& message, const std::string& detail,
              const std::string& progress) {
    if (form) form->SetTexts(message, detail, progress);
}

void SendToTray(TProgressMessage* form) {
    if (form) form->SendToTray();
}

void RestoreFromTray(TProgressMessage* form) {
    if (form) form->RestoreFromTray();
}

void RemoveTrayIcon(TProgressMessage* form) {
    if (form) form->RemoveTrayIcon();
}

void SetCancelVisible(TProgressMessage* form, bool visible) {
    if (form) form->SetCancelVisible(visible);
}

void CloseProgressForm(TProgressMessage* form) {
    if (form) form->CloseProgressForm();
}

TProgressMessage* GetActiveProgressForm() {
    const auto& forms = ProgressForms();
    auto it = std::ranges::find_if(forms, [](const TProgressMessage* form) { return !form->InTray(); });
    return it == forms.end() ? nullptr : *it;
}

void CloseAllProgressForms() {
    ProcessMessages();
    const std::vector<QPointer<TProgressMessage>> forms(ProgressForms().begin(), ProgressForms().end());
    try {
        for (auto it = forms.rbegin(); it != forms.rend(); ++it)
            if (*it) (*it)->CloseProgressForm();
    } catch (...) {
        // Called on the way to showing another error: an exception here only ends the closing.
    }
    ProcessMessages();
}

int RunWithActiveProgressFormAside(const std::function<int()>& showBox) {
    const QPointer<TProgressMessage> aside = GetActiveProgressForm();
    if (aside) aside->SendToTray();
    const auto restore = [&] {
        if (aside) aside->RestoreFromTray();
    };
    int answer;
    try {
        answer = showBox();
    } catch (...) {
        restore();
        throw;
    }
    restore();
    return answer;
}
