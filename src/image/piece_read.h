#pragma once
// The read loop of readers whose disk is made of pieces of different kinds: bytes in a file (the image's own or
// an extent's), bytes decoded in memory (a compressed cluster or grain), zeros, bytes of a parent image, bytes
// that cannot be read. Each reader says what lies at an offset; this serves a request piece by piece.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "image/read_write_interface.h"

namespace halvard {

struct DiskPiece {
    enum class Kind { File, Decoded, Zero, Parent, Unreadable } kind = Kind::Unreadable;
    const ImageFile* file = nullptr;     // File
    std::uint64_t fileOffset = 0;        // File: of the byte asked for
    const std::uint8_t* decoded = nullptr;  // Decoded: the byte asked for; null when it could not be decoded
    std::uint64_t length = 0;            // bytes from the offset asked for that the answer holds (at least 1)
    bool allocated() const { return kind == Kind::File || kind == Kind::Decoded; }
};

using PieceResolver = std::function<DiskPiece(std::uint64_t offset)>;

struct PieceReadState {
    std::uint64_t diskBytes;       // offsets from here on lie past the disk's end
    const DiskReader* parent;      // for Parent pieces; may be null
    std::uint64_t parentBytes;     // a smaller parent reads as zeros past its end
};

// Whether the piece at disk offset `offset` is stored: file bytes unless the file has a hole there, decoded bytes,
// the parent's answer for a parent's piece (nothing past the parent's `parentBytes`), unreadable pieces as stored
// (their reads report them); zeros are not.
// No further than `limit` bytes is looked at: in a chain each parent is asked about what its child asks, no more.
StoredRun storedPieceRun(const DiskPiece& piece, std::uint64_t offset, const DiskReader* parent,
                         std::uint64_t parentBytes, std::uint64_t limit);

// Where the `length` bytes of a piece lie as they are in one file; none unless it is a File piece that long.
std::optional<DiskReader::FileStretch> pieceFileStretch(const DiskPiece& piece, std::uint64_t length);

// Reads `length` bytes at disk offset `at` as DiskReader::readAt does: what cannot be read is zeros and makes the
// result false.
bool readPieces(const PieceReadState& state, std::uint64_t at, void* buffer, std::size_t length,
                const PieceResolver& resolve);

// A reader whose disk is made of such pieces: its reads, stored runs and file stretches all come from `piece`.
// `piece` may fill caches and hands out decoded bytes that live in them, so one thread at a time asks it and
// uses what it gave.
class PieceDiskReader : public DiskReader {
public:
    bool readAt(std::uint64_t offset, void* buffer, std::size_t length) const override;
    std::optional<FileStretch> fileStretch(std::uint64_t diskOffset, std::uint64_t length) const override;

protected:
    StoredRun storedRunAt(std::uint64_t diskOffset, std::uint64_t limit) const override;
    // What lies at disk offset `offset`; `decode`: fill in the bytes of a Decoded piece (reads need them, maps not).
    virtual DiskPiece piece(std::uint64_t offset, bool decode) const = 0;
    // Held while the caches behind `piece` are used; a reader's own map lookups outside reads take it too.
    std::unique_lock<std::mutex> lockPieces() const { return std::unique_lock(piecesMutex_); }

private:
    mutable std::mutex piecesMutex_;
    std::uint64_t parentBytes() const { return parent_ ? parent_->totalSectors * kSectorSize : 0; }
};

}  // namespace halvard
