#pragma once
// Which frames of a multi-frame file become source pictures: all, the first n, one out of n, none.
#include <QDialog>
#include <cstdint>
#include <string>

class QLabel;
class QPushButton;
class QRadioButton;
class TTzSpinEdit;

// The picture asked about.
struct TMultiFramePic {
    std::string FileName;
    int FrameCount = 0;
    int FrameStep = 0;  // the suggested step; below 2 suggests 2
};

class TDlgMultiFrameForm : public QDialog {
public:
    explicit TDlgMultiFrameForm(QWidget* parent = nullptr);

    TMultiFramePic Pic;  // set before showing
    // The frame count for all, n for the first n, -1 for one out of ExtractStep, 0 for none.
    int32_t ExtractCount = 0;
    int32_t ExtractStep = 0;

    QLabel* laFrameCount;
    QLabel* laFileName;
    QRadioButton* rbExtractAll;
    QRadioButton* rbExtractCount;
    TTzSpinEdit* eExtractCount;
    QLabel* laExtractCount;
    QRadioButton* rbExtractFrequency;
    TTzSpinEdit* eFrequency;
    QRadioButton* rbExtractNone;
    QPushButton* btOk;

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void FormShow();
    void FormClose();
};
