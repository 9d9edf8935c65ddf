#include "app/application.h"

#include <QApplication>

#include "app/qt_sinks.h"
#include "app/image_page.h"
#include "app/wizard_flow.h"

namespace halvard::gui {

Application::Application(const QString& lockDirectory, MessageSink* messages)
    : lock_(lockDirectory), boxes_(std::make_unique<QtMessageSink>()), messages_(messages ? messages : boxes_.get()) {}

Application::~Application() = default;

int Application::run() {
    // A lock that cannot be made at all (no runtime folder, no permission) does not keep the program from running;
    // only a lock held by a live instance does.
    if (lock_.acquire() == SingleInstanceLock::Status::HeldElsewhere) {
        messages_->information(kAnotherInstance);
        return 0;
    }

    state_.rootName = "ROOT";
    state_.formattedDriveFlag = 0;
    state_.totalSectors = 0;

    imagePage_ = std::make_unique<ImagePage>(state_);
    wireImagePage(*imagePage_, state_);
    // Later pages hide this one without ending it; only its closing (Enter, or a confirmed close) ends the run.
    QObject::connect(imagePage_.get(), &QDialog::finished, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    imagePage_->show();
    const int code = QApplication::exec();
    imagePage_.reset();
    lock_.release();
    return code;
}

}  // namespace halvard::gui
