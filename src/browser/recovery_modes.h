#pragma once
// Which recovery modes a volume offers, by the first three letters of its file-system text: NTFS all three, FAT
// and exFAT no deep scan, ext only the standard parse, HFS+ no advanced road. The "drive was formatted" choice
// belongs to the FAT engines' advanced road.
#include <string>

namespace halvard {

struct RecoveryModeChoices {
    bool advanced = true;
    bool deep = true;
    bool formattedChoice = false;  // shown with Advanced
};

RecoveryModeChoices recoveryModesFor(const std::string& fileSystem);

}  // namespace halvard
