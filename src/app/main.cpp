#include <QApplication>

#include "app/application.h"
#include "app/wizard_page.h"

int main(int argc, char** argv) {
    QApplication qtApplication(argc, argv);
    QApplication::setApplicationName(QStringLiteral("halvard-gui"));
    QApplication::setApplicationVersion(halvard::gui::versionText());
    halvard::gui::Application application;
    return application.run();
}
