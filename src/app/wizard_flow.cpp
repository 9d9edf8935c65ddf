#include "app/wizard_flow.h"

#include "app/advanced_options_page.h"
#include "app/parsing_modes_page.h"
#include "app/recovery_mode_page.h"
#include "app/volume_list_page.h"
#include "app/raw_recovery_page.h"
#include "app/image_page.h"
#include "app/browser_page.h"

namespace halvard::gui {

namespace {

// The browser in advanced mode, on the advanced options page's engine and with copies of its lists.
QWidget* makeAdvancedBrowserPage(AdvancedOptionsPage& options) {
    auto* page = new BrowserPage(options.state(), options.volume(), ParseMode::Advanced, &options);
    page->borrowAdvanced(options.view(), options.foundList(), options.clusterSizeList(), options.heapList());
    page->start();
    return page;
}

// Standard and Deep go to the browser; Advanced first to the advanced options page, whose finders it needs.
QWidget* makeBrowserPage(RecoveryModePage& modes) {
    if (modes.recoveryMode() == ParseMode::Advanced) {
        auto* options = new AdvancedOptionsPage(modes.state(), modes.volume(), modes.finderLimit(), &modes);
        options->setNextPageFactory(&makeAdvancedBrowserPage);
        options->start();
        return options;
    }
    auto* page = new BrowserPage(modes.state(), modes.volume(), modes.recoveryMode(), &modes);
    page->start();
    return page;
}

// The page after the volume list: the recovery mode page for a file system, the raw recovery page for "RAW".
QWidget* makeNextPage(VolumeListPage& list, VolumeListPage::NextTarget target) {
    if (!list.selectedVolume()) return nullptr;
    if (target == VolumeListPage::NextTarget::RawRecovery)
        return new RawRecoveryPage(list.state(), *list.selectedVolume(), list.imagePath(),
                                     list.choices().imageChosen, &list);
    auto* page = new RecoveryModePage(list.state(), *list.selectedVolume(), &list);
    wireRecoveryModePage(*page);
    return page;
}

VolumeListPage* makeVolumeListPage(ParsingModesPage& modes, const ScanChoices& choices) {
    auto* page = new VolumeListPage(modes.state(), choices, &modes);
    page->setNextPageFactory(&makeNextPage);
    return page;
}

}  // namespace

void wireRecoveryModePage(RecoveryModePage& page) { page.setNextPageFactory(&makeBrowserPage); }

void wireImagePage(ImagePage& page, ApplicationState& state) {
    page.setNextPageFactory([&state](ImagePage& image) -> QWidget* {
        auto* modes = new ParsingModesPage(state, ImageHandover::from(image), &image);
        modes->setNextPageFactory(&makeVolumeListPage);
        return modes;
    });
}

}  // namespace halvard::gui
