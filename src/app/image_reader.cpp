#include "app/image_reader.h"

#include "image/vhdx_reader.h"

namespace halvard::gui {

std::unique_ptr<readWriteInterface> makeImageReader(const ApplicationState& state, MessageSink* messages) {
    // The pages open VHDX images only, and only under a name that says so.
    auto reader = std::make_unique<FileReadSeekVHDX>();
    reader->setRequireVhdxName(true);
    reader->setOverrides(state.overrides);
    reader->setMessageSink(messages);
    return reader;
}

}  // namespace halvard::gui
