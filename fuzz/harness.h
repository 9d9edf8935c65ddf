#pragma once
// What every fuzz target does with its input, in one place: open an image file from memory through its reader,
// or parse a volume from memory through its engine and walk everything it lists.
#include <cstddef>
#include <cstdint>

#include <initializer_list>

#include "browser/volume_view.h"
#include "image/image_kind.h"

namespace halvard::fuzzing {

// The largest image file and the largest volume an input can describe: big enough for any header's arithmetic and
// the fixtures' volumes, small enough that a whole-volume scan stays quick and that a table held to the image's
// size stays below the fuzzers' allocation limit (1 GiB), which then catches any table that is not.
inline constexpr std::uint64_t kMaxImageBytes = 64ULL << 20;
inline constexpr std::uint64_t kMaxVolumeBytes = 64ULL << 20;

// Opens the input (a sparse image file) with the reader of `kind`, reads sectors spread over the virtual disk
// and describes the image as `halvard info` does.
void exerciseImage(ImageKind kind, const std::uint8_t* data, std::size_t size);

// One way to parse a volume: the file-system text its record carries, and the mode.
struct VolumeChoice {
    const char* fileSystem;
    ParseMode mode;
};

// Parses the input (one selector byte, then a sparse volume) as the choice the selector picks, then walks the
// tree, asks every entry's details and saves every file of at most 4 MiB to a scratch folder.
void exerciseVolume(std::initializer_list<VolumeChoice> choices, const std::uint8_t* data, std::size_t size);

}  // namespace halvard::fuzzing
