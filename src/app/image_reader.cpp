#include "app/image_reader.h"

#include "image/image_kind.h"
#include "image/vhdx_reader.h"

namespace halvard::gui {

std::unique_ptr<DiskReader> makeImageReader(const ApplicationState& state, MessageSink* messages) {
    // VHD, VDI, VMDK and qcow2 images and flat disks are told by their signatures (flat disks by having none);
    // everything else is opened as VHDX, and only under a name that says so.
    if (state.imageKind != ImageKind::Vhdx)
        return makeReader(state.imageKind, state.overrides, messages);
    auto reader = std::make_unique<VhdxReader>();
    reader->setRequireName(true);
    reader->setOverrides(state.overrides);
    reader->setMessageSink(messages);
    return reader;
}

}  // namespace halvard::gui
