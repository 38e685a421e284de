#include "app/dialogs/DialogHelpers.h"

#include <QEvent>
#include <QLayout>
#include <QRadioButton>
#include <QWidget>
#include <exception>

#include "tzlib/Errors.h"
#include "tzlib/SystemHelpers.h"

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

class TFitFilter : public QObject {
public:
    TFitFilter(QWidget* window, QSize drawn) : QObject(window), window_(window), drawn_(drawn) {}

    void Fit() {
        QLayout* layout = window_->layout();
        layout->activate();
        QSize size = drawn_.expandedTo(layout->totalMinimumSize());
        // Word-wrapped labels need the more lines the narrower they are.
        if (layout->hasHeightForWidth())
            size.setHeight(std::max(size.height(), layout->totalHeightForWidth(size.width())));
        if (size != window_->minimumSize() || size != window_->maximumSize()) window_->setFixedSize(size);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const bool handled = QObject::eventFilter(watched, event);
        if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show) Fit();
        return handled;
    }

private:
    QWidget* window_;
    QSize drawn_;
};

}  // namespace

void FitToContents(QWidget* window, QSize drawn) {
    auto* filter = new TFitFilter(window, QSize(ScaleToScreenDpi(drawn.width()), ScaleToScreenDpi(drawn.height())));
    window->installEventFilter(filter);
    filter->Fit();
}

void KeepRoomWhenHidden(QWidget* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

void OnExit(QWidget* control, std::function<void()> handler) {
    control->installEventFilter(new TExitFilter(control, std::move(handler)));
}

void OnCheck(QRadioButton* button, std::function<void()> handler) {
    QObject::connect(button, &QRadioButton::toggled, button, [handler = std::move(handler)](bool checked) {
        if (checked) Guarded(handler);
    });
}
