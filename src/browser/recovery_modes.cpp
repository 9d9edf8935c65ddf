#include "browser/recovery_modes.h"

#include <algorithm>
#include <cctype>

namespace halvard {

RecoveryModeChoices recoveryModesFor(const std::string& fileSystem) {
    const auto first = std::find_if(fileSystem.begin(), fileSystem.end(), [](unsigned char c) { return !std::isspace(c); });
    std::string prefix(first, std::min(first + 3, fileSystem.end()));
    std::transform(prefix.begin(), prefix.end(), prefix.begin(), [](unsigned char c) { return std::tolower(c); });
    RecoveryModeChoices choices;
    if (prefix == "fat") {
        choices.deep = false;
        choices.formattedChoice = true;
    } else if (prefix == "exf") {
        choices.deep = false;
    } else if (prefix == "ext") {
        choices.deep = false;
        choices.advanced = false;
    } else if (prefix == "hfs") {
        choices.advanced = false;
    }
    return choices;
}

}  // namespace halvard
