#pragma once
// How the pages follow one another: each page makes the next with itself as parent, so the chain of parents is
// the way back. Later pages plug in here.
#include "app/app_state.h"

namespace halvard::gui {

class RecoveryModePage;
class ImagePage;

// Makes the image page's Next lead to the parsing-modes page, and on from there.
void wireImagePage(ImagePage& page, ApplicationState& state);
// Makes the recovery mode page's Next lead to the browser (Standard, Deep) or the advanced options page.
void wireRecoveryModePage(RecoveryModePage& page);

}  // namespace halvard::gui
