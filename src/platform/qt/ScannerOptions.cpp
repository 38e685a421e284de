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
#include <cstring>
#include <vector>

namespace {

QString UnitText(SANE_Unit unit) {
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

double FromWord(const SANE_Option_Descriptor& d, SANE_Word word) {
    return d.type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : word;
}

SANE_Word ToWord(const SANE_Option_Descriptor& d, double value) {
    return d.type == SANE_TYPE_FIXED ? SANE_FIX(value) : static_cast<SANE_Word>(std::lround(value));
}

QString WordText(const SANE_Option_Descriptor& d, SANE_Word word) { return QString::number(FromWord(d, word)); }

std::vector<SANE_Word> WordList(const SANE_Option_Descriptor& d) {
    if (d.constraint_type != SANE_CONSTRAINT_WORD_LIST) return {};
    return {d.constraint.word_list + 1, d.constraint.word_list + 1 + d.constraint.word_list[0]};
}

bool Allowed(const SANE_Option_Descriptor& d, SANE_Word word) {
    if (d.constraint_type == SANE_CONSTRAINT_RANGE) return word >= d.constraint.range->min && word <= d.constraint.range->max;
    const std::vector<SANE_Word> list = WordList(d);
    return d.constraint_type != SANE_CONSTRAINT_WORD_LIST || std::find(list.begin(), list.end(), word) != list.end();
}

// Digits after the point that show every value of a fixed-point range.
int Decimals(const SANE_Option_Descriptor& d) {
    if (d.constraint_type != SANE_CONSTRAINT_RANGE) return 4;
    const SANE_Range& r = *d.constraint.range;
    const bool whole = r.quant != 0 && r.quant % SANE_FIX(1) == 0 && r.min % SANE_FIX(1) == 0;
    return whole ? 0 : 4;
}

// A choice as wide as a short entry: long entries would widen the whole form.
QComboBox* NewChoice() {
    auto* combo = new QComboBox;
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(16);
    return combo;
}

}  // namespace

TScannerOptionsForm::TScannerOptionsForm(void* saneHandle, QWidget* parent) : QScrollArea(parent), handle_(saneHandle) {
    setObjectName("ScannerOptions");
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Rebuild();
}

void TScannerOptionsForm::Write(int index, void* value, bool automatic) {
    SANE_Int info = 0;
    const SANE_Status status = sane_control_option(handle_, index, automatic ? SANE_ACTION_SET_AUTO : SANE_ACTION_SET_VALUE,
                                                   value, &info);
    // A refused or rounded value, or other options changed by this one: the form shows what the
    // device holds now. The control that wrote is still in its signal, so it goes afterwards.
    if (status != SANE_STATUS_GOOD || (info & (SANE_INFO_INEXACT | SANE_INFO_RELOAD_OPTIONS)))
        QTimer::singleShot(0, this, [this] { Rebuild(); });
}

QWidget* TScannerOptionsForm::EditorFor(int index) {
    const SANE_Option_Descriptor& d = *sane_get_option_descriptor(handle_, index);
    const size_t words = static_cast<size_t>(std::max<SANE_Int>(d.size, 1)) / sizeof(SANE_Word);
    std::vector<char> value(static_cast<size_t>(std::max<SANE_Int>(d.size, sizeof(SANE_Word))) + 1, 0);
    // An inactive option is shown with its value where the device still gives one.
    if ((d.cap & SANE_CAP_SOFT_DETECT) && d.type != SANE_TYPE_BUTTON)
        sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, value.data(), nullptr);
    SANE_Word word = 0;
    std::memcpy(&word, value.data(), sizeof word);

    switch (d.type) {
    case SANE_TYPE_BOOL: {
        auto* box = new QCheckBox;
        box->setChecked(word != 0);
        connect(box, &QCheckBox::toggled, this, [this, index](bool on) {
            SANE_Bool flag = on ? SANE_TRUE : SANE_FALSE;
            Write(index, &flag);
        });
        return box;
    }
    case SANE_TYPE_INT:
    case SANE_TYPE_FIXED: {
        if (words > 1) {
            // A vector of values, written whole once every value keeps to the constraint.
            std::vector<SANE_Word> current(words);
            std::memcpy(current.data(), value.data(), words * sizeof(SANE_Word));
            QStringList texts;
            for (SANE_Word w : current) texts << WordText(d, w);
            auto* edit = new QLineEdit(texts.join(", "));
            connect(edit, &QLineEdit::editingFinished, this, [this, index, edit, words] {
                if (!edit->isModified()) return;
                edit->setModified(false);
                const SANE_Option_Descriptor& option = *sane_get_option_descriptor(handle_, index);
                const QStringList parts = edit->text().split(',', Qt::SkipEmptyParts);
                std::vector<SANE_Word> typed;
                for (const QString& part : parts) {
                    bool ok = false;
                    const double v = part.trimmed().toDouble(&ok);
                    if (!ok || !Allowed(option, ToWord(option, v))) break;
                    typed.push_back(ToWord(option, v));
                }
                // Values the device cannot take leave what it holds.
                if (typed.size() != words || parts.size() != static_cast<qsizetype>(words))
                    return QTimer::singleShot(0, this, [this] { Rebuild(); });
                Write(index, typed.data());
            });
            return edit;
        }
        if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST) {
            auto* combo = NewChoice();
            for (SANE_Word w : WordList(d)) combo->addItem(WordText(d, w) + UnitText(d.unit), w);
            combo->setCurrentIndex(combo->findData(word));
            connect(combo, &QComboBox::activated, this, [this, index, combo](int row) {
                SANE_Word chosen = combo->itemData(row).toInt();
                Write(index, &chosen);
            });
            return combo;
        }
        const bool range = d.constraint_type == SANE_CONSTRAINT_RANGE;
        if (d.type == SANE_TYPE_FIXED) {
            auto* spin = new QDoubleSpinBox;
            spin->setDecimals(Decimals(d));
            spin->setRange(range ? SANE_UNFIX(d.constraint.range->min) : SANE_UNFIX(INT_MIN),
                           range ? SANE_UNFIX(d.constraint.range->max) : SANE_UNFIX(INT_MAX));
            spin->setSingleStep(range && d.constraint.range->quant ? SANE_UNFIX(d.constraint.range->quant) : 1);
            spin->setSuffix(UnitText(d.unit));
            spin->setValue(SANE_UNFIX(word));
            spin->setKeyboardTracking(false);
            connect(spin, &QDoubleSpinBox::valueChanged, this, [this, index](double v) {
                SANE_Word chosen = SANE_FIX(v);
                Write(index, &chosen);
            });
            return spin;
        }
        auto* spin = new QSpinBox;
        spin->setRange(range ? d.constraint.range->min : INT_MIN, range ? d.constraint.range->max : INT_MAX);
        spin->setSingleStep(range && d.constraint.range->quant ? d.constraint.range->quant : 1);
        spin->setSuffix(UnitText(d.unit));
        spin->setValue(word);
        spin->setKeyboardTracking(false);
        connect(spin, &QSpinBox::valueChanged, this, [this, index](int v) {
            SANE_Word chosen = v;
            Write(index, &chosen);
        });
        return spin;
    }
    case SANE_TYPE_STRING: {
        const auto write = [this, index, size = static_cast<size_t>(std::max<SANE_Int>(d.size, 1))](const QString& text) {
            QByteArray bytes = text.toUtf8().left(static_cast<qsizetype>(size - 1));
            bytes.resize(static_cast<qsizetype>(size), '\0');
            Write(index, bytes.data());
        };
        const QString current = QString::fromUtf8(value.data());
        if (d.constraint_type == SANE_CONSTRAINT_STRING_LIST) {
            auto* combo = NewChoice();
            for (const SANE_String_Const* s = d.constraint.string_list; *s; ++s) combo->addItem(QString::fromUtf8(*s));
            combo->setCurrentIndex(combo->findText(current));
            connect(combo, &QComboBox::textActivated, this, write);
            return combo;
        }
        auto* edit = new QLineEdit(current);
        edit->setMaxLength(std::max(d.size - 1, 0));
        connect(edit, &QLineEdit::editingFinished, this, [edit, write] {
            if (!edit->isModified()) return;
            edit->setModified(false);
            write(edit->text());
        });
        return edit;
    }
    case SANE_TYPE_BUTTON: {
        auto* button = new QPushButton(QString::fromUtf8(d.title ? d.title : d.name));
        connect(button, &QPushButton::clicked, this, [this, index] { Write(index, nullptr); });
        return button;
    }
    default: return nullptr;
    }
}

void TScannerOptionsForm::Rebuild() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    SANE_Int count = 0;
    if (sane_control_option(handle_, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) count = 0;
    for (SANE_Int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
        if (!d) continue;
        const QString title = QString::fromUtf8(d->title && *d->title ? d->title : d->name ? d->name : "");
        if (d->type == SANE_TYPE_GROUP) {
            auto* group = new QLabel("<b>" + title.toHtmlEscaped() + "</b>");
            form->addRow(group);
            continue;
        }
        QWidget* editor = EditorFor(i);
        if (!editor) continue;
        const bool settable = SANE_OPTION_IS_ACTIVE(d->cap) && SANE_OPTION_IS_SETTABLE(d->cap);
        editor->setEnabled(settable);
        editor->setObjectName(QString::fromUtf8(d->name ? d->name : ""));
        editor->setToolTip(QString::fromUtf8(d->desc ? d->desc : ""));
        QWidget* field = editor;
        if (d->cap & SANE_CAP_AUTOMATIC) {
            field = new QWidget;
            auto* row = new QHBoxLayout(field);
            row->setContentsMargins(0, 0, 0, 0);
            row->addWidget(editor, 1);
            auto* automatic = new QPushButton("Auto", field);
            automatic->setObjectName(editor->objectName() + "-auto");
            automatic->setEnabled(settable);
            connect(automatic, &QPushButton::clicked, this, [this, i] { Write(i, nullptr, true); });
            row->addWidget(automatic);
        }
        form->addRow(d->type == SANE_TYPE_BUTTON ? QString() : title, field);
    }
    // The person stays where they were in a long form.
    const int scrolled = verticalScrollBar()->value();
    setWidget(page);
    const QSize wanted = page->sizeHint();
    setMinimumSize(wanted.width() + verticalScrollBar()->sizeHint().width() + 2 * frameWidth(),
                   std::min(wanted.height() + 2 * frameWidth(), 480));
    verticalScrollBar()->setValue(scrolled);
}
