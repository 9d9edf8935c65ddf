#pragma once
// The recovery modes a volume can be read in.

namespace halvard {

enum class ParseMode { Standard = 1, Advanced = 2, Deep = 3 };

}  // namespace halvard
