#pragma once
// The application object: holds the process-wide state every page and engine shares, makes sure only one
// instance runs, and runs the image page as the main window. The application ends when that page closes.
#include <QString>
#include <memory>

#include "app/app_state.h"
#include "app/single_instance.h"
#include "common/sinks.h"

namespace halvard::gui {

class QtMessageSink;
class ImagePage;

inline constexpr const char* kAnotherInstance = "Another instance of application is already running";

class Application {
public:
    // `lockDirectory` is where the single-instance lock lives; `messages` receives the message shown to a second
    // instance (null: a message box).
    explicit Application(const QString& lockDirectory = SingleInstanceLock::defaultDirectory(),
                         MessageSink* messages = nullptr);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    ApplicationState& state() { return state_; }
    ImagePage* imagePage() const { return imagePage_.get(); }

    // Needs a QApplication. Returns the exit code: 0 when the page has closed, and 0 at once when another
    // instance is running (after telling the user).
    int run();

private:
    // Declared first so that it outlives the pages, which refer to it.
    ApplicationState state_;
    SingleInstanceLock lock_;
    std::unique_ptr<QtMessageSink> boxes_;
    MessageSink* messages_;
    std::unique_ptr<ImagePage> imagePage_;
};

}  // namespace halvard::gui
