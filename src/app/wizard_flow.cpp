#include "app/wizard_flow.h"

#include "app/drive_parsing_modes.h"
#include "app/populate_drive_dlg.h"
#include "app/vhd_input_dialog.h"

namespace halvard::gui {

namespace {

PopulateDriveDlg* makeVolumeListPage(DriveParsingModes& modes, const ScanChoices& choices) {
    auto* page = new PopulateDriveDlg(modes.state(), choices, &modes);
    // The recovery mode page and the raw recovery page come with their own pages' wiring.
    return page;
}

}  // namespace

void wireImagePage(VhdInputDialog& page, ApplicationState& state) {
    page.setNextPageFactory([&state](VhdInputDialog& image) -> QWidget* {
        auto* modes = new DriveParsingModes(state, ImageHandover::from(image), &image);
        modes->setNextPageFactory(&makeVolumeListPage);
        return modes;
    });
}

}  // namespace halvard::gui
