#pragma once
// The one place where the pages make a reader for the chosen image. Every page that replaces the active reader
// asks here, so the overrides typed on the image page and the page's message boxes always come with it.
#include <memory>

#include "app/app_state.h"
#include "common/sinks.h"
#include "image/read_write_interface.h"

namespace halvard::gui {

// A new, unopened reader for the image, carrying the user's overrides. Its open failures are shown through
// `messages` (which must be safe to call from the thread that opens it). Null when none can be made.
std::unique_ptr<DiskReader> makeImageReader(const ApplicationState& state, MessageSink* messages);

}  // namespace halvard::gui
