#include "harness.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "browser/volume_view.h"
#include "image/image_info.h"
#include "image/unstored_skip.h"
#include "sparse_image.h"
#include "support/view_exercise.h"

namespace halvard::fuzzing {

namespace {

constexpr std::uint64_t kSaveLimit = 4ULL << 20;

const std::string& scratchFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/halvard-fuzz-XXXXXX";
        if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        return std::string(pattern);
    }();
    return folder;
}

}  // namespace

void exerciseImage(ImageKind kind, const std::uint8_t* data, std::size_t size) {
    const SparseImage image(data, size, kMaxImageBytes);
    const std::string path = memoryFilePath(image);
    describeImage(path);

    auto reader = makeReader(kind);
    if (!reader || !reader->open(path)) return;
    // The first sectors, the last ones, and a spread between: every kind of block the map knows.
    std::vector<std::uint8_t> buffer(64 * 1024);
    const std::uint64_t sectors = reader->totalSectors;
    for (std::uint64_t i = 0; i <= 16; ++i) {
        const std::uint64_t sector = sectors ? (sectors - 1) / 16 * i : i;
        reader->readAt(sector * kSectorSize, buffer.data(), buffer.size());
    }
    reader->readAt(0, buffer.data(), 4096);
    // Scans and the export ask the map of the whole disk: whatever size the header claims, it answers in whole
    // stretches, never sector by sector (a hang here is a regression).
    const std::uint64_t end = sectors * kSectorSize;
    UnstoredSkip skip([&reader](std::uint64_t offset, std::uint64_t limit) { return reader->storedRun(offset, limit); },
                      end);
    for (std::uint64_t at = 0, steps = 0; at < end && steps < 4096; ++steps) {
        at = skip.next(at, kSectorSize);
        if (at < end) at = std::max(at + kSectorSize, skip.storedEnd());
    }
    reader->storedBytes(0, end);
}

void exerciseVolume(std::initializer_list<VolumeChoice> choices, const std::uint8_t* data, std::size_t size) {
    if (size < 1 || choices.size() == 0) return;
    const VolumeChoice& choice = std::data(choices)[data[0] % choices.size()];
    const SparseImage image(data + 1, size - 1, kMaxVolumeBytes);
    const auto disk = std::make_shared<SparseDisk>(image);
    VolumeRecord volume;
    volume.fileSystem = choice.fileSystem;
    volume.volumeName = "1";
    volume.sizeText = std::to_string((image.size() + (1 << 20) - 1) >> 20) + "   MB";
    auto view = createVolumeView(onDevice(volume, disk));
    if (!view || !view->parse({}, choice.mode)) return;
    testing::exerciseView(*view, scratchFolder(), kSaveLimit);
}

}  // namespace halvard::fuzzing
