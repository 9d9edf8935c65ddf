#include "app/wizard_flow.h"

#include "app/drive_parsing_modes.h"
#include "app/populate_drive_dlg.h"
#include "app/raw_recovery_dialog.h"
#include "app/vhd_input_dialog.h"

namespace halvard::gui {

namespace {

PopulateDriveDlg* makeVolumeListPage(DriveParsingModes& modes, const ScanChoices& choices) {
    auto* page = new PopulateDriveDlg(modes.state(), choices, &modes);
    // The recovery mode page comes with its own page's wiring.
    page->setNextPageFactory([](PopulateDriveDlg& list, PopulateDriveDlg::NextTarget target) -> QWidget* {
        if (target != PopulateDriveDlg::NextTarget::RawRecovery || !list.selectedVolume()) return nullptr;
        return new RawRecoveryDialog(list.state(), *list.selectedVolume(), list.imagePath(),
                                     list.choices().imageChosen, &list);
    });
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
