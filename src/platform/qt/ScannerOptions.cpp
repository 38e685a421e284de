#include "platform/qt/ScannerOptions.h"

#include <sane/sane.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

QString UnitText(int unit) {
    switch (unit) {
    case SANE_UNIT_PIXEL: return " pel";
    case SANE_UNIT_BIT: return " bit";
    case SANE_UNIT_MM: return " mm";
    case SANE_UNIT_DPI: return " dpi";
    case SANE_UNIT_PERCENT: return " %";
    case SANE_UNIT_MICROSECOND: return " µs";
    default: return {};
    }
}

// Digits after the point that show every value of a fixed-point range.
int Decimals(const TSaneOption& option) {
    if (option.Constraint != TSaneConstraint::Range) return 4;
    const bool whole = option.Step != 0 && std::floor(option.Step) == option.Step && std::floor(option.Min) == option.Min;
    return whole ? 0 : 4;
}

// A choice as wide as a short entry: long entries would widen the whole form.
QComboBox* NewChoice() {
    auto* combo = new QComboBox;
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(16);
    return combo;
}

TSaneChoice NumbersChoice(const TSaneOption& option, std::vector<double> numbers) {
    return {option.Name, std::move(numbers), {}, false};
}

}  // namespace

TScannerOptionsForm::TScannerOptionsForm(TSaneDevice& device, QWidget* parent) : QScrollArea(parent), device_(device) {
    setObjectName("ScannerOptions");
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Rebuild();
}

void TScannerOptionsForm::Write(const TSaneOption& option, const TSaneChoice& choice) {
    const bool written = device_.Apply(option.Index, choice);
    if (written) {
        std::erase_if(choices_, [&](const TSaneChoice& earlier) { return earlier.Option == choice.Option; });
        choices_.push_back(choice);
    }
    AfterWrite(written);
}

void TScannerOptionsForm::Press(int index) { AfterWrite(device_.Press(index)); }

void TScannerOptionsForm::AfterWrite(bool written) {
    // A refused or rounded value, or other options changed by this one: the form shows what the
    // device holds now. The control that wrote is still in its signal, so it goes afterwards.
    if (!written || device_.LastWriteReshaped()) QTimer::singleShot(0, this, [this] { Rebuild(); });
}

QWidget* TScannerOptionsForm::EditorFor(const TSaneOption& option) {
    // An inactive option is shown with its value where the device still gives one.
    std::vector<double> numbers;
    std::string text;
    if (option.Kind == TSaneValueKind::String) device_.GetText(option.Index, text, true);
    else device_.GetNumbers(option.Index, numbers, true);
    const double number = numbers.empty() ? 0 : numbers[0];

    switch (option.Kind) {
    case TSaneValueKind::Bool: {
        auto* box = new QCheckBox;
        box->setChecked(number != 0);
        connect(box, &QCheckBox::toggled, this, [this, option](bool on) { Write(option, NumbersChoice(option, {on ? 1.0 : 0.0})); });
        return box;
    }
    case TSaneValueKind::Int:
    case TSaneValueKind::Fixed: {
        if (option.Count > 1) {
            // A vector of values, written whole once every value keeps to the constraint.
            QStringList texts;
            for (double v : numbers) texts << QString::number(v);
            auto* edit = new QLineEdit(texts.join(", "));
            connect(edit, &QLineEdit::editingFinished, this, [this, option, edit] {
                if (!edit->isModified()) return;
                edit->setModified(false);
                std::vector<double> typed;
                for (const QString& part : edit->text().split(',', Qt::SkipEmptyParts)) {
                    bool ok = false;
                    typed.push_back(part.trimmed().toDouble(&ok));
                    // Values the device cannot take leave what it holds.
                    if (!ok) return AfterWrite(false);
                }
                Write(option, NumbersChoice(option, typed));
            });
            return edit;
        }
        if (option.Constraint == TSaneConstraint::NumberList) {
            auto* combo = NewChoice();
            for (double v : option.Numbers) combo->addItem(QString::number(v) + UnitText(option.Unit), v);
            combo->setCurrentIndex(combo->findData(number));
            connect(combo, &QComboBox::activated, this, [this, option, combo](int row) {
                Write(option, NumbersChoice(option, {combo->itemData(row).toDouble()}));
            });
            return combo;
        }
        const bool range = option.Constraint == TSaneConstraint::Range;
        const double step = range && option.Step != 0 ? option.Step : 1;
        if (option.Kind == TSaneValueKind::Fixed) {
            auto* spin = new QDoubleSpinBox;
            spin->setDecimals(Decimals(option));
            spin->setRange(range ? option.Min : SANE_UNFIX(INT_MIN), range ? option.Max : SANE_UNFIX(INT_MAX));
            spin->setSingleStep(step);
            spin->setSuffix(UnitText(option.Unit));
            spin->setValue(number);
            spin->setKeyboardTracking(false);
            connect(spin, &QDoubleSpinBox::valueChanged, this, [this, option](double v) { Write(option, NumbersChoice(option, {v})); });
            return spin;
        }
        auto* spin = new QSpinBox;
        spin->setRange(range ? static_cast<int>(option.Min) : INT_MIN, range ? static_cast<int>(option.Max) : INT_MAX);
        spin->setSingleStep(static_cast<int>(step));
        spin->setSuffix(UnitText(option.Unit));
        spin->setValue(static_cast<int>(number));
        spin->setKeyboardTracking(false);
        connect(spin, &QSpinBox::valueChanged, this, [this, option](int v) { Write(option, NumbersChoice(option, {double(v)})); });
        return spin;
    }
    case TSaneValueKind::String: {
        const auto write = [this, option](const QString& typed) {
            const QByteArray bytes = typed.toUtf8().left(std::max(option.TextSize - 1, 0));
            Write(option, {option.Name, {}, bytes.toStdString(), false});
        };
        const QString current = QString::fromStdString(text);
        if (option.Constraint == TSaneConstraint::StringList) {
            auto* combo = NewChoice();
            for (const std::string& entry : option.Strings) combo->addItem(QString::fromStdString(entry));
            combo->setCurrentIndex(combo->findText(current));
            connect(combo, &QComboBox::textActivated, this, write);
            return combo;
        }
        auto* edit = new QLineEdit(current);
        edit->setMaxLength(std::max(option.TextSize - 1, 0));
        connect(edit, &QLineEdit::editingFinished, this, [edit, write] {
            if (!edit->isModified()) return;
            edit->setModified(false);
            write(edit->text());
        });
        return edit;
    }
    case TSaneValueKind::Button: {
        auto* button = new QPushButton(QString::fromStdString(option.Title.empty() ? option.Name : option.Title));
        connect(button, &QPushButton::clicked, this, [this, index = option.Index] { Press(index); });
        return button;
    }
    default: return nullptr;
    }
}

void TScannerOptionsForm::Rebuild() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    const int count = device_.OptionCount();
    for (int i = 1; i < count; ++i) {
        TSaneOption option;
        if (!device_.Describe(i, option)) continue;
        const QString title = QString::fromStdString(option.Title.empty() ? option.Name : option.Title);
        if (option.Kind == TSaneValueKind::Group) {
            auto* group = new QLabel("<b>" + title.toHtmlEscaped() + "</b>");
            form->addRow(group);
            continue;
        }
        QWidget* editor = EditorFor(option);
        if (!editor) continue;
        const bool settable = option.Active && option.Settable;
        editor->setEnabled(settable);
        editor->setObjectName(QString::fromStdString(option.Name));
        editor->setToolTip(QString::fromStdString(option.Description));
        QWidget* field = editor;
        if (option.Automatic) {
            field = new QWidget;
            auto* row = new QHBoxLayout(field);
            row->setContentsMargins(0, 0, 0, 0);
            row->addWidget(editor, 1);
            auto* automatic = new QPushButton("Auto", field);
            automatic->setObjectName(editor->objectName() + "-auto");
            automatic->setEnabled(settable);
            connect(automatic, &QPushButton::clicked, this, [this, option] { Write(option, {option.Name, {}, {}, true}); });
            row->addWidget(automatic);
        }
        form->addRow(option.Kind == TSaneValueKind::Button ? QString() : title, field);
    }
    // The person stays where they were in a long form.
    const int scrolled = verticalScrollBar()->value();
    setWidget(page);
    const QSize wanted = page->sizeHint();
    setMinimumSize(wanted.width() + verticalScrollBar()->sizeHint().width() + 2 * frameWidth(),
                   std::min(wanted.height() + 2 * frameWidth(), 480));
    verticalScrollBar()->setValue(scrolled);
}
