#include "platform/qt/QtPrompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>

#include "platform/qt/TitleRoom.h"

namespace {

QMessageBox::Icon QtIcon(TMsgIcon icon) {
    switch (icon) {
        case TMsgIcon::Error: return QMessageBox::Critical;
        case TMsgIcon::Question: return QMessageBox::Question;
        case TMsgIcon::Warning: return QMessageBox::Warning;
        case TMsgIcon::Information: return QMessageBox::Information;
        case TMsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton QtButton(TMsgAnswer answer) {
    switch (answer) {
        case idOk: return QMessageBox::Ok;
        case idCancel: return QMessageBox::Cancel;
        case idAbort: return QMessageBox::Abort;
        case idRetry: return QMessageBox::Retry;
        case idIgnore: return QMessageBox::Ignore;
        case idYes: return QMessageBox::Yes;
        case idNo: return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

QWidget* ParentOr(QWidget* parent) { return parent ? parent : QApplication::activeWindow(); }

// A message box sizes itself to its layout, so the title's room is a spacer in it.
void MakeRoomForTitle(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    grid->addItem(new QSpacerItem(TitleRoomWidth(box), 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(),
                  0, 1, grid->columnCount());
}

}  // namespace

std::string QtFileFilter(const std::string& filter) {
    std::string result;
    size_t pos = 0;
    while (pos < filter.size()) {
        const size_t bar = filter.find('|', pos);
        const std::string description = filter.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos);
        std::string masks;
        if (bar != std::string::npos) {
            const size_t next = filter.find('|', bar + 1);
            masks = filter.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
            pos = next == std::string::npos ? filter.size() : next + 1;
        } else {
            pos = filter.size();
        }
        for (char& c : masks)
            if (c == ';') c = ' ';
        if (!result.empty()) result += ";;";
        result += description + " (" + (masks.empty() ? "*" : masks) + ")";
    }
    return result;
}

TMsgAnswer TQtPrompter::MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon,
                                   TMsgButtons buttons) {
    QMessageBox box(QtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::NoButton, ParentOr(parent_));
    const std::vector<TMsgAnswer> answers = AnswersOf(buttons);
    for (const TMsgAnswer answer : answers) box.addButton(QtButton(answer));
    // The first button is the default, as on the original platform; Escape cancels where it can.
    box.setDefaultButton(QtButton(answers.front()));
    MakeRoomForTitle(box);
    box.exec();
    for (const TMsgAnswer answer : answers)
        if (box.clickedButton() == box.button(QtButton(answer))) return answer;
    // Closed without a button: Cancel when offered, else the default.
    const bool cancellable = std::find(answers.begin(), answers.end(), idCancel) != answers.end();
    return cancellable ? idCancel : answers.front();
}

std::optional<std::string> TQtPrompter::SaveDialog(const std::string& title, const std::string& proposedPath,
                                                   const std::string& filter) {
    QFileDialog dialog(ParentOr(parent_), QString::fromStdString(title));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QString::fromStdString(QtFileFilter(filter)));
    dialog.selectFile(QString::fromStdString(proposedPath));
    // The caller asks about replacing an existing file itself.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

// xdg-open runs until the desktop's program has taken the document, which may take a while: the
// window goes on meanwhile, and a failure is told through the prompter once it is known. The
// process has no parent, so that leaving the program does not stop a document still opening.
void TQtPrompter::OpenDocument(const std::string& pathOrUrl) {
    auto* process = new QProcess;
    process->setProgram("xdg-open");
    // A name starting with "-" would be taken for an option.
    process->setArguments({QString::fromStdString(pathOrUrl.starts_with('-') ? "./" + pathOrUrl : pathOrUrl)});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    const auto report = [pathOrUrl](const QString& reason) {
        Prompter().MessageBox(QGuiApplication::applicationDisplayName().toStdString(),
                              "Cannot open " + pathOrUrl + "\n" + reason.toStdString(), TMsgIcon::Error,
                              TMsgButtons::Ok);
    };
    QObject::connect(process, &QProcess::errorOccurred, [process, report](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        process->deleteLater();
        report(process->errorString());
    });
    QObject::connect(process, &QProcess::finished, [process, report](int code, QProcess::ExitStatus status) {
        process->deleteLater();
        if (status == QProcess::NormalExit && code == 0) return;
        const QStringList said = QString::fromLocal8Bit(process->readAllStandardError()).trimmed().split('\n');
        report(said.last().isEmpty() ? "xdg-open ended with code " + QString::number(code) : said.last());
    });
    process->start();
}
