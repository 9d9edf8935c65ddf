#include "app/wizard_flow.h"

#include "app/advance_options.h"
#include "app/drive_parsing_modes.h"
#include "app/parce_mode_ntfs_dlg.h"
#include "app/populate_drive_dlg.h"
#include "app/raw_recovery_dialog.h"
#include "app/vhd_input_dialog.h"
#include "app/volume_scan_dlg.h"

namespace halvard::gui {

namespace {

// The browser in advanced mode, on the advanced options page's engine and with copies of its lists.
QWidget* makeAdvancedBrowserPage(advanceOptions& options) {
    auto* page = new VolumeScanDlg(options.state(), options.volume(), ParseMode::Advanced, &options);
    page->borrowAdvanced(options.view(), options.foundList(), options.clusterSizeList(), options.heapList());
    page->start();
    return page;
}

// Standard and Deep go to the browser; Advanced first to the advanced options page, whose finders it needs.
QWidget* makeBrowserPage(ParceModeNtfsDlg& modes) {
    if (modes.recoveryMode() == ParseMode::Advanced) {
        auto* options = new advanceOptions(modes.state(), modes.volume(), modes.finderLimit(), &modes);
        options->setNextPageFactory(&makeAdvancedBrowserPage);
        options->start();
        return options;
    }
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
    wireRecoveryModePage(*page);
    return page;
}

PopulateDriveDlg* makeVolumeListPage(DriveParsingModes& modes, const ScanChoices& choices) {
    auto* page = new PopulateDriveDlg(modes.state(), choices, &modes);
    page->setNextPageFactory(&makeNextPage);
    return page;
}

}  // namespace

void wireRecoveryModePage(ParceModeNtfsDlg& page) { page.setNextPageFactory(&makeBrowserPage); }

void wireImagePage(VhdInputDialog& page, ApplicationState& state) {
    page.setNextPageFactory([&state](VhdInputDialog& image) -> QWidget* {
        auto* modes = new DriveParsingModes(state, ImageHandover::from(image), &image);
        modes->setNextPageFactory(&makeVolumeListPage);
        return modes;
    });
}

}  // namespace halvard::gui
