#include "app/dialogs/DlgMultiFrame.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/dialogs/DialogHelpers.h"
#include "tzlib/qt/Controls.h"
#include "tzlib/qt/SpinEdit.h"

TDlgMultiFrameForm::TDlgMultiFrameForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Multi-frame file");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto* contains = new QLabel("This file contains:", this);
    laFrameCount = new QLabel(this);
    QFont bold = laFrameCount->font();
    bold.setBold(true);
    laFrameCount->setFont(bold);
    laFileName = new QLabel(this);
    laFileName->setWordWrap(true);
    rbExtractAll = new QRadioButton("Extract all frames", this);
    rbExtractCount = new QRadioButton("Extract only the first", this);
    eExtractCount = new TTzSpinEdit(this);
    eExtractCount->SetMinValue(1);
    laExtractCount = new QLabel("frames", this);
    rbExtractFrequency = new QRadioButton("Extract one frame out of", this);
    eFrequency = new TTzSpinEdit(this);
    eFrequency->SetMinValue(2);
    rbExtractNone = new QRadioButton("Don't select this file", this);
    btOk = new QPushButton("&Ok", this);
    btOk->setDefault(true);

    auto* header = new QHBoxLayout;
    header->addWidget(contains);
    header->addWidget(laFrameCount);
    header->addStretch();
    auto* choices = new QGridLayout;
    choices->addWidget(rbExtractAll, 0, 0);
    choices->addWidget(rbExtractCount, 1, 0);
    choices->addWidget(eExtractCount, 1, 1);
    choices->addWidget(laExtractCount, 1, 2);
    choices->addWidget(rbExtractFrequency, 2, 0);
    choices->addWidget(eFrequency, 2, 1);
    choices->addWidget(rbExtractNone, 3, 0);
    choices->setColumnStretch(3, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btOk);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(header);
    layout->addWidget(laFileName);
    layout->addLayout(choices);
    layout->addStretch();
    layout->addLayout(buttons);
    FitToContents(this, QSize(371, 235));

    connect(btOk, &QPushButton::clicked, this, &QDialog::accept);
    eExtractCount->OnChange = [this] { rbExtractCount->setChecked(true); };
    eFrequency->OnChange = [this] { rbExtractFrequency->setChecked(true); };
}

void TDlgMultiFrameForm::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TDlgMultiFrameForm::FormShow() {
    laFrameCount->setText(QString::number(Pic.FrameCount) + " frames.");
    laFileName->setText(QString::fromStdString(Pic.FileName));
    eExtractCount->SetMaxValue(Pic.FrameCount);
    eExtractCount->SetValueSilent(1);
    eFrequency->SetMaxValue(Pic.FrameCount);
    eFrequency->SetValueSilent(std::max(2, Pic.FrameStep));
    rbExtractCount->setChecked(true);
}

void TDlgMultiFrameForm::FormClose() {
    QRadioButton* const choices[] = {rbExtractAll, rbExtractCount, rbExtractFrequency, rbExtractNone};
    switch (GetRadioIndex(choices)) {
    case 0: ExtractCount = Pic.FrameCount; break;
    case 1: ExtractCount = eExtractCount->GetAsInteger(); break;
    case 2:
        ExtractCount = -1;
        ExtractStep = eFrequency->GetAsInteger();
        break;
    case 3: ExtractCount = 0; break;
    default: break;  // nothing checked: the previous answer stays
    }
}

// Every way of closing, the title bar's close button included, answers with the checked choice.
void TDlgMultiFrameForm::done(int result) {
    FormClose();
    QDialog::done(result);
}
