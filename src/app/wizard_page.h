#pragma once
// What every page of the wizard shares: the banner across the top, the Help menu button, message boxes through a
// replaceable sink, the web pages, and the close box that asks before the application ends.
//
// A page puts its own controls into contentLayout() and its Back/Next buttons into the button row with
// addNavigationButton(); the Help button sits at the row's left end.
#include <QDialog>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

#include "app/app_state.h"
#include "app/widgets.h"
#include "common/sinks.h"

class QAction;
class QHBoxLayout;
class QKeyEvent;
class QShowEvent;
class QPushButton;
class QVBoxLayout;

namespace halvard::gui {

class Banner;
class QtMessageSink;

// The product's home page. The help page is a file that ships beside the program.
inline constexpr const char* kHomePageUrl = "https://www.halvard-recovery.example/";
inline constexpr const char* kHelpPageFileName = "how-it-works.html";
inline constexpr const char* kCloseQuestion = "Do you want to Close Application ?";

QUrl homePageUrl();
QUrl helpPageUrl();  // the help page beside the program (or where an installed program keeps it)
QString versionText();

class WizardPage : public QDialog {
    Q_OBJECT
public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    WizardPage(ApplicationState& state, const QString& bannerSubtitle, QWidget* parent = nullptr);
    ~WizardPage() override;

    ApplicationState& state() { return state_; }

    // Where the page's message boxes go. Null restores the real message boxes.
    MessageSink& messages() { return *messages_; }
    void setMessageSink(MessageSink* sink);

    // How web pages are opened. Null restores the desktop's default browser.
    void setUrlOpener(UrlOpener opener);

    void openHelpPage();
    void openHomePage();
    void showAbout();

    // Escape and the close box: ask before the application ends.
    void reject() override;
    // Enter where no button takes it (and the hidden "EXIT" button): the application ends without a question.
    void accept() override { closeApplication(); }

    // Shows `next` in this page's place (position, size, maximised) and hides this page: the wizard is one window
    // to the user. Null just hides this page.
    void handOverTo(QWidget* next);

protected:
    QVBoxLayout* contentLayout() const { return content_; }
    // The control that has the focus when the page opens (the path box, the list, the tree), never Help.
    void setMainControl(QWidget* control) { mainControl_ = control; }
    // Opens within the screen, with the focus on the main control.
    void showEvent(QShowEvent* event) override;
    void addNavigationButton(QPushButton* button);
    // A button of the navigation row, at least 96 pixels wide, that calls `slot` of the page.
    template <typename Page>
    QPushButton* addNavigationButton(const QString& text, const char* name, void (Page::*slot)()) {
        auto* button = makeButton(text, this, name);
        button->setMinimumWidth(96);
        connect(button, &QPushButton::clicked, static_cast<Page*>(this), slot);
        addNavigationButton(button);
        return button;
    }
    // The hidden "EXIT" button, which the keyboard's Enter command of the page presses.
    void addHiddenExitButton();

    // Ends the application from this page: after Yes to the close question (the home page is then open), or on
    // Enter. Pages with work of their own stop it first.
    virtual void closeApplication();

    // Ends the application from any page of the chain: the first page (the main window) closes, which ends the
    // run. A page without a page above it closes itself.
    void endApplication();

    // Destroys the pages this page made (and theirs), each waiting for its own worker. Every page calls it first
    // thing in its destructor, so that the later pages go while this one is still whole.
    void destroyLaterPages();

    // A focused button takes Enter as a click; anywhere else Enter is the page's OK command (accept()).
    void keyPressEvent(QKeyEvent* event) override;

private:
    ApplicationState& state_;
    std::unique_ptr<QtMessageSink> boxes_;
    MessageSink* messages_;
    UrlOpener openUrl_;
    Banner* banner_;
    QVBoxLayout* content_;
    QHBoxLayout* buttons_;
    QWidget* mainControl_ = nullptr;
};

}  // namespace halvard::gui
