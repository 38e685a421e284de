#include "app/dialogs/DialogHelpers.h"

#include <QEvent>
#include <QRadioButton>
#include <exception>

#include "tzlib/Errors.h"

namespace {

class TExitFilter : public QObject {
public:
    TExitFilter(QWidget* control, std::function<void()> handler) : QObject(control), handler_(std::move(handler)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) Guarded(handler_);
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> handler_;
};

}  // namespace

bool Guarded(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        ShowExceptionBox(e);
        return false;
    }
}

void OnExit(QWidget* control, std::function<void()> handler) {
    control->installEventFilter(new TExitFilter(control, std::move(handler)));
}

void OnCheck(QRadioButton* button, std::function<void()> handler) {
    QObject::connect(button, &QRadioButton::toggled, button, [handler = std::move(handler)](bool checked) {
        if (checked) Guarded(handler);
    });
}
