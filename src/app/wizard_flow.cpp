#include "app/wizard_flow.h"

#include "app/drive_parsing_modes.h"
#include "app/parce_mode_ntfs_dlg.h"
#include "app/populate_drive_dlg.h"
#include "app/raw_recovery_dialog.h"
#include "app/vhd_input_dialog.h"
#include "app/volume_scan_dlg.h"

namespace halvard::gui {

namespace {

// The advanced options page is not there yet: Advanced goes straight to the browser, whose engine may refuse it.
QWidget* makeBrowserPage(ParceModeNtfsDlg& modes) {
    auto* page = new VolumeScanDlg(modes.state(), modes.volume(), modes.recoveryMode(), &modes);
    page->start();
    return page;
}

// The page after the volume list: the recovery mode page for a file system, the raw recovery page for "RAW".
QWidget* makeNextPage(PopulateDriveDlg& list, PopulateDriveDlg::NextTarget target) {
    if (!list.selectedVolume()) return nullptr;
    if (target == PopulateDriveDlg::NextTarget::RawRecovery)
        return new RawRecoveryDialog(list.state(), *list.selectedVolume(), list.imagePath(),
                                     list.choices().imageChosen, &list);
    auto* page = new ParceModeNtfsDlg(list.state(), *list.selectedVolume(), &list);
    page->setNextPageFactory(&makeBrowserPage);
    return page;
}

PopulateDriveDlg* makeVolumeListPage(DriveParsingModes& modes, const ScanChoices& choices) {
    auto* page = new PopulateDriveDlg(modes.state(), choices, &modes);
    page->setNextPageFactory(&makeNextPage);
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
