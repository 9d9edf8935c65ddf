#include "image/piece_read.h"

#include <algorithm>
#include <cstring>

namespace halvard {

StoredRun storedPieceRun(const DiskPiece& piece, std::uint64_t offset, const DiskReader* parent,
                         std::uint64_t parentBytes, std::uint64_t limit) {
    const std::uint64_t length = std::min(std::max<std::uint64_t>(piece.length, 1), std::max<std::uint64_t>(limit, 1));
    switch (piece.kind) {
        case DiskPiece::Kind::File:
            return piece.file ? piece.file->dataRun(piece.fileOffset, length) : StoredRun{true, length};
        case DiskPiece::Kind::Parent:
            if (!parent || offset >= parentBytes) return {false, length};
            return parent->storedAnswer(offset, std::min(length, parentBytes - offset));
        case DiskPiece::Kind::Zero: return {false, length};
        case DiskPiece::Kind::Unreadable: return {true, length, true};
        case DiskPiece::Kind::Decoded: break;
    }
    return {true, length};
}

std::optional<DiskReader::FileStretch> pieceFileStretch(const DiskPiece& piece, std::uint64_t length) {
    if (piece.kind != DiskPiece::Kind::File || !piece.file || piece.length < length) return std::nullopt;
    return DiskReader::FileStretch{piece.file, piece.fileOffset};
}

bool readPieces(const PieceReadState& state, std::uint64_t at, void* buffer, std::size_t length,
                const PieceResolver& resolve) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    bool complete = true;
    std::size_t done = 0;
    while (done < length) {
        const std::uint64_t offset = at + done;
        if (offset < at || offset >= state.diskBytes) {
            // Past the disk's end (or the largest offset): nothing to read there.
            std::memset(out + done, 0, length - done);
            return false;
        }
        const DiskPiece piece = resolve(offset);
        const auto chunk = static_cast<std::size_t>(
            std::min<std::uint64_t>({length - done, std::max<std::uint64_t>(piece.length, 1), state.diskBytes - offset}));
        std::uint8_t* target = out + done;
        switch (piece.kind) {
            case DiskPiece::Kind::File: {
                const std::size_t got = piece.file ? piece.file->readAt(piece.fileOffset, target, chunk) : 0;
                if (got < chunk) {
                    std::memset(target + got, 0, chunk - got);
                    complete = false;
                }
                break;
            }
            case DiskPiece::Kind::Decoded:
                if (piece.decoded) {
                    std::memcpy(target, piece.decoded, chunk);
                } else {
                    std::memset(target, 0, chunk);
                    complete = false;
                }
                break;
            case DiskPiece::Kind::Parent: {
                const std::size_t fromParent =
                    state.parent && offset < state.parentBytes
                        ? static_cast<std::size_t>(std::min<std::uint64_t>(chunk, state.parentBytes - offset))
                        : 0;
                if (fromParent && !state.parent->readAt(offset, target, fromParent)) complete = false;
                std::memset(target + fromParent, 0, chunk - fromParent);
                break;
            }
            case DiskPiece::Kind::Zero: std::memset(target, 0, chunk); break;
            case DiskPiece::Kind::Unreadable:
                std::memset(target, 0, chunk);
                complete = false;
                break;
        }
        done += chunk;
    }
    return complete;
}

bool PieceDiskReader::readAt(std::uint64_t offset, void* buffer, std::size_t length) const {
    const PieceReadState state{totalSectors * kSectorSize, parent_.get(), parentBytes()};
    const auto lock = lockPieces();
    return readPieces(state, offset, buffer, length, [this](std::uint64_t at) { return piece(at, true); });
}

std::optional<DiskReader::FileStretch> PieceDiskReader::fileStretch(std::uint64_t diskOffset, std::uint64_t length) const {
    if (diskOffset >= totalSectors * kSectorSize) return std::nullopt;
    const auto lock = lockPieces();
    return pieceFileStretch(piece(diskOffset, false), length);
}

StoredRun PieceDiskReader::storedRunAt(std::uint64_t diskOffset, std::uint64_t limit) const {
    auto lock = lockPieces();
    const DiskPiece found = piece(diskOffset, false);
    lock.unlock();
    return storedPieceRun(found, diskOffset, parent_.get(), parentBytes(), limit);
}

}  // namespace halvard
