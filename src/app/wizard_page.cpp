#include "app/wizard_page.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>

#include "app/banner.h"
#include "app/qt_sinks.h"
#include "common/program_files.h"

namespace halvard::gui {

QUrl homePageUrl() { return QUrl(QString::fromLatin1(kHomePageUrl)); }

QUrl helpPageUrl() {
    return QUrl::fromLocalFile(QString::fromStdString(programDataFile(kHelpPageFileName)));
}

QString versionText() { return QStringLiteral(HALVARD_VERSION); }

WizardPage::WizardPage(ApplicationState& state, const QString& bannerSubtitle, QWidget* parent)
    : QDialog(parent),
      state_(state),
      boxes_(std::make_unique<QtMessageSink>(this)),
      messages_(boxes_.get()),
      openUrl_(&QDesktopServices::openUrl) {
    setWindowTitle(QString::fromUtf8(kProductName));
    // A page made by another page shows its messages and opens web pages the way that page does.
    if (auto* previous = qobject_cast<WizardPage*>(parent)) {
        if (previous->messages_ != previous->boxes_.get()) messages_ = previous->messages_;
        openUrl_ = previous->openUrl_;
    }

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    banner_ = new Banner(bannerSubtitle, this);
    banner_->setObjectName(QStringLiteral("banner"));
    outer->addWidget(banner_);

    auto* body = new QWidget(this);
    content_ = new QVBoxLayout(body);
    content_->setContentsMargins(18, 16, 18, 8);
    content_->setSpacing(12);
    outer->addWidget(body, 1);

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    outer->addWidget(rule);

    auto* buttonBar = new QWidget(this);
    buttons_ = new QHBoxLayout(buttonBar);
    buttons_->setContentsMargins(18, 10, 18, 14);
    outer->addWidget(buttonBar);

    auto* help = new QPushButton(tr("Help"), this);
    help->setObjectName(QStringLiteral("helpButton"));
    help->setAutoDefault(false);
    auto* menu = new QMenu(help);
    QAction* helpAction = menu->addAction(QStringLiteral("Help"), this, &WizardPage::openHelpPage);
    helpAction->setObjectName(QStringLiteral("helpAction"));
    QAction* homeAction = menu->addAction(QStringLiteral("Software Homepage"), this, &WizardPage::openHomePage);
    homeAction->setObjectName(QStringLiteral("homePageAction"));
    QAction* aboutAction = menu->addAction(QStringLiteral("About"), this, &WizardPage::showAbout);
    aboutAction->setObjectName(QStringLiteral("aboutAction"));
    help->setMenu(menu);
    buttons_->addWidget(help);
    buttons_->addStretch(1);
}

WizardPage::~WizardPage() { destroyLaterPages(); }

void WizardPage::destroyLaterPages() {
    const QList<WizardPage*> later = findChildren<WizardPage*>(QString(), Qt::FindDirectChildrenOnly);
    qDeleteAll(later);
}

void WizardPage::setMessageSink(MessageSink* sink) { messages_ = sink ? sink : boxes_.get(); }

void WizardPage::setUrlOpener(UrlOpener opener) {
    openUrl_ = opener ? std::move(opener) : UrlOpener(&QDesktopServices::openUrl);
}

void WizardPage::openHelpPage() {
    // Without a web browser the user still learns where the help is.
    if (!openUrl_(helpPageUrl()))
        messages_->information("No web browser could open the help. It is the file " +
                               QDir::toNativeSeparators(helpPageUrl().toLocalFile()).toStdString());
}

void WizardPage::openHomePage() {
    if (!openUrl_(homePageUrl()))
        messages_->information(std::string("No web browser could open the home page: ") + kHomePageUrl);
}

void WizardPage::showAbout() {
    QDialog about(this);
    about.setObjectName(QStringLiteral("aboutBox"));
    about.setWindowTitle(tr("About %1").arg(QString::fromUtf8(kProductName)));

    auto* layout = new QVBoxLayout(&about);
    layout->setContentsMargins(0, 0, 0, 12);
    layout->addWidget(new Banner(tr("Version %1").arg(versionText()), &about));

    auto* text = new QLabel(&about);
    text->setWordWrap(true);
    text->setTextFormat(Qt::RichText);
    text->setOpenExternalLinks(true);
    text->setText(tr("<p><b>%1</b> %2</p>"
                     "<p>Finds the volumes on a virtual hard disk (VHDX, differencing VHDX included, VHD, VDI, "
                     "VMDK) or a flat raw disk image and recovers folders and files from them, deleted ones "
                     "included: NTFS, FAT12/16, FAT32, exFAT, ext2/3 and HFS+.</p>"
                     "<p>The image is only ever read; files are written only where you save them.</p>"
                     "<p><a href=\"%3\">%3</a></p>")
                      .arg(QString::fromUtf8(kProductName), versionText(), homePageUrl().toString()));
    text->setContentsMargins(18, 12, 18, 0);
    layout->addWidget(text);

    auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
    ok->setContentsMargins(18, 0, 18, 0);
    connect(ok, &QDialogButtonBox::accepted, &about, &QDialog::accept);
    layout->addWidget(ok);
    about.setFixedWidth(420);
    about.exec();
}

void WizardPage::reject() {
    if (!messages_->question(kCloseQuestion)) return;
    openHomePage();
    closeApplication();
}

void WizardPage::handOverTo(QWidget* next) {
    if (!next) {
        hide();
        return;
    }
    if (isVisible()) {
        // A page never opens smaller than its own layout allows.
        const bool full = isMaximized() || isFullScreen();
        next->resize((full ? normalGeometry().size() : size()).expandedTo(next->minimumSizeHint()));
        next->move(full ? normalGeometry().topLeft() : pos());  // pos() counts the frame, as move() does
        if (isMaximized())
            next->showMaximized();
        else
            next->show();
    } else {
        next->show();
    }
    hide();
}

void WizardPage::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        // No page larger than the screen: Save and Search must stay reachable.
        if (const QScreen* screen = this->screen(); screen && !isMaximized()) {
            const QRect room = screen->availableGeometry();
            const QSize frame = frameGeometry().size() - geometry().size();
            const QSize most = room.size() - frame;
            if (width() > most.width() || height() > most.height()) resize(size().boundedTo(most));
            QRect place = geometry();
            if (!room.contains(place)) {
                place.moveRight(std::min(place.right(), room.right() - frame.width()));
                place.moveBottom(std::min(place.bottom(), room.bottom() - frame.height()));
                place.moveLeft(std::max(place.left(), room.left()));
                place.moveTop(std::max(place.top(), room.top()));
                move(place.topLeft());
            }
        }
        if (mainControl_ && mainControl_->isEnabled()) mainControl_->setFocus(Qt::OtherFocusReason);
    }
}

void WizardPage::addNavigationButton(QPushButton* button) {
    // Enter is the page's own command, so no button takes it as the default.
    button->setAutoDefault(false);
    button->setDefault(false);
    buttons_->addWidget(button);
}

void WizardPage::closeApplication() { endApplication(); }

void WizardPage::addHiddenExitButton() {
    auto* button = makeButton(QStringLiteral("EXIT"), this, "exitButton");
    button->hide();
    connect(button, &QPushButton::clicked, this, &WizardPage::accept);
}

void WizardPage::endApplication() {
    WizardPage* first = this;
    for (QWidget* widget = parentWidget(); widget; widget = widget->parentWidget())
        if (auto* page = qobject_cast<WizardPage*>(widget)) first = page;
    if (first == this) {
        QDialog::reject();
        return;
    }
    hide();
    first->done(QDialog::Rejected);
}

void WizardPage::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (enter && plain) {
        if (auto* button = qobject_cast<QAbstractButton*>(focusWidget()); button && button->isEnabled())
            button->click();
        else
            accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace halvard::gui
