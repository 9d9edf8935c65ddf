#pragma once
// Reading through an image reader in tests.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "image/read_write_interface.h"
#include "support/vhdx_builder.h"

namespace halvard::testing {

// Seeks and reads `length` bytes (the buffer starts as 0xEE, so unwritten bytes show); `ok` gets read's result.
std::vector<std::uint8_t> readAt(const Device& reader, std::uint64_t offset, std::size_t length,
                                 bool* ok = nullptr);

// True when every byte from `from` on is zero.
bool allZero(const std::vector<std::uint8_t>& bytes, std::size_t from = 0);

// Reads the whole disk in pieces of `pieceLength` bytes (pick an odd size, so pieces cross block boundaries and
// allocated/unallocated edges) and expects every read to succeed with `expected`'s bytes.
void expectWholeDisk(const DiskReader& reader, const std::vector<std::uint8_t>& expected, std::size_t pieceLength);

// Makes the image at `path` read-only, opens it with `reader` and reads its first `length` bytes, then expects the
// file's bytes and modification time to be as they were.
void expectReadingLeavesImageAlone(DiskReader& reader, const std::string& path, std::size_t length);

// Opening `path` with `overrides` fails with a hint at --force-parent (its parent is not the disk it was made from),
// and succeeds once forceParent is added to them.
void expectParentRefusedUnlessForced(DiskReader& reader, const std::string& path, ImageOverrides overrides = {});

// An image whose block table claims far more entries than the file holds, with block 1 stored far past the file's
// end: it opens with at most one table entry per four bytes of the file, and a read of blocks 0 and 1 fails yet
// gives block 0's data and zeros for block 1.
void expectAbsurdTableBounded(DiskReader& reader, const std::string& path, std::uint64_t fileSize,
                              std::size_t blockSize);

// Damage anywhere in an image's structures must end in a refusal or in reads, never in a crash or a read outside a
// buffer (the tests run under the sanitizers too). Each round writes `pristine` to `path` with `hits` bytes set at
// random within `spread` bytes after one of the hot spots (every tenth round also cut short), then calls `tryImage`.
// The seed makes the rounds the same on every run.
struct Damage {
    std::vector<std::size_t> hotSpots;
    std::size_t spread = 0;
    int hits = 0;
    int rounds = 0;
    std::uint32_t seed = 0;
};
void forEachDamagedCopy(const std::vector<std::uint8_t>& pristine, const Damage& damage, const std::string& path,
                        const std::function<void()>& tryImage);

// Seeks to each offset and reads `length` bytes there; only the safety of the reads matters, not their results.
void readAtEach(const Device& reader, std::initializer_list<std::uint64_t> offsets, std::size_t length);

// Each damaged copy of `pristine`, written as `name` into a folder of its own, is opened by a fresh `Reader`. Where
// it opens, `length` bytes are read at the disk's start, at the last sector of its first block of `blockSize`
// bytes and far past its end, then `alsoTry` runs on it.
template <class Reader>
void openDamagedCopies(const std::vector<std::uint8_t>& pristine, const Damage& damage, const std::string& name,
                       std::uint64_t blockSize, std::size_t length,
                       const std::function<void(Reader&)>& alsoTry = {}) {
    const TempDir dir;
    const std::string path = dir.file(name);
    forEachDamagedCopy(pristine, damage, path, [&] {
        Reader reader;
        if (!reader.open(path)) return;
        readAtEach(reader, {0, blockSize - 512, std::uint64_t{1} << 40}, length);
        if (alsoTry) alsoTry(reader);
    });
}

}  // namespace halvard::testing
