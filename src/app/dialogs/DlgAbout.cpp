#include "app/dialogs/DlgAbout.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "app/engine/MakerInfo.h"
#include "app/dialogs/DialogHelpers.h"
#include "platform/Paths.h"
#include "platform/Prompter.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/WindowHooks.h"
#include "tzlib/SystemHelpers.h"

const char* const ProgramVersion = "1.0";
const char* const ProgramNotice = "Copyright \u00a9 Brelvant. All rights reserved.";
const char* const LicenceFileName = "User's License.htm";

namespace {

// Runs its handler on a left click; the widget shows the hand cursor.
class TClickFilter : public QObject {
public:
    TClickFilter(QWidget* target, std::function<void()> handler) : QObject(target), handler_(std::move(handler)) {
        target->setCursor(Qt::PointingHandCursor);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            Guarded(handler_);
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> handler_;
};

void OnClick(QWidget* target, std::function<void()> handler) {
    target->installEventFilter(new TClickFilter(target, std::move(handler)));
}

QLabel* NewLink(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    label->setStyleSheet("color: navy");
    return label;
}

QLabel* NewWrapped(const char* text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

void StartMail(const char* address) {
    Prompter().OpenDocument(std::string("mailto:") + address + "?subject=" +
                            QUrl::toPercentEncoding(QString::fromStdString(ApplicationTitle())).toStdString());
}

}  // namespace

TDlgAboutForm::TDlgAboutForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromStdString("About " + ApplicationTitle()));

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    imIcon = new QLabel(panel);
    imIcon->setPixmap(style()->standardIcon(QStyle::SP_FileDialogContentsView).pixmap(32, 32));
    Label2 = new QLabel("Brelvant Mordale", panel);
    QFont title = Label2->font();
    title.setPixelSize(19);
    title.setBold(true);
    Label2->setFont(title);
    Label2->setStyleSheet("color: blue");
    Label2->setAlignment(Qt::AlignCenter);
    laVersion = new QLabel(QString("Version ") + ProgramVersion, panel);
    laVersion->setAlignment(Qt::AlignCenter);
    laCopyright = new QLabel(ProgramNotice, panel);
    laCopyright->setAlignment(Qt::AlignCenter);
    laTechSupport = NewLink(TechSupportAddress, panel);

    pnContact = new QFrame(panel);
    static_cast<QFrame*>(pnContact)->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* label3 = new QLabel("Contact us!", pnContact);
    QFont bold = label3->font();
    bold.setBold(true);
    label3->setFont(bold);
    label3->setStyleSheet("color: red");
    auto* contactLayout = new QVBoxLayout(pnContact);
    contactLayout->addWidget(label3);
    contactLayout->addWidget(NewWrapped("How do you like this product? Would you like us to add new features? Did you "
                                        "find a bug?",
                                        pnContact));
    contactLayout->addWidget(NewWrapped("Please tell us! To keep improving our products, we need your opinion. All "
                                        "comments are welcome.",
                                        pnContact));
    auto* mailLine = new QHBoxLayout;
    mailLine->addWidget(new QLabel("Email us at", pnContact));
    mailLine->addWidget(NewLink(FeedbackAddress, pnContact));
    mailLine->addStretch();
    contactLayout->addLayout(mailLine);

    imLogo = new QLabel("Brelvant", panel);
    imLogo->setFont(title);
    laBrelvant = NewLink(MakerWebAddress, panel);
    btLicence = new QPushButton("User's License...", this);
    btClose = new QPushButton("&Close", this);
    btClose->setDefault(true);

    auto* head = new QHBoxLayout;
    head->addWidget(imIcon);
    auto* titles = new QVBoxLayout;
    titles->addWidget(Label2);
    titles->addWidget(laVersion);
    titles->addWidget(laCopyright);
    head->addLayout(titles, 1);
    auto* support = new QHBoxLayout;
    support->addWidget(new QLabel("Tech support:", panel));
    support->addWidget(laTechSupport);
    support->addStretch();
    auto* maker = new QHBoxLayout;
    maker->addWidget(imLogo);
    maker->addStretch();
    maker->addWidget(laBrelvant);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->addLayout(head);
    panelLayout->addLayout(support);
    panelLayout->addWidget(pnContact);
    panelLayout->addLayout(maker);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btLicence);
    buttons->addStretch();
    buttons->addWidget(btClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel);
    layout->addLayout(buttons);
    FitToContents(this, QSize(503, 344));

    connect(btClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(btLicence, &QPushButton::clicked, this, [this] { Guarded([this] { btLicenceClick(); }); });
    OnClick(laTechSupport, [this] { laTechSupportClick(); });
    for (QWidget* part : pnContact->findChildren<QWidget*>()) OnClick(part, [this] { pnContactClick(); });
    OnClick(pnContact, [this] { pnContactClick(); });
    OnClick(imLogo, [this] { laBrelvantClick(); });
    OnClick(laBrelvant, [this] { laBrelvantClick(); });
    btClose->setFocus();
}

void TDlgAboutForm::btLicenceClick() {
    const std::string path = ExecutableFolder() + "/" + LicenceFileName;
    CheckFileExists(path);
    OpenDocuments({path});
}

void TDlgAboutForm::laBrelvantClick() { Prompter().OpenDocument(MakerWebAddress); }

void TDlgAboutForm::laTechSupportClick() { StartMail(TechSupportAddress); }

void TDlgAboutForm::pnContactClick() { StartMail(FeedbackAddress); }
