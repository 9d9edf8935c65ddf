#pragma once
// A file's content as a readable stream: what the save, the mount and the GUI's extraction read. Each engine lays
// a file out once when it is opened (run lists, cluster chains, extents, forks); reads then go straight to the
// volume for the parts asked for.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace halvard {

// What one read gave: bytes filled (less than asked only at the end of the content), and whether any of them
// are zeros standing for parts that could not be read (outside the volume, unreadable, a damaged map).
struct ContentRead {
    std::size_t bytes = 0;
    bool damaged = false;
};

// Seconds since 1970 (UTC) with nanoseconds, for the saved file.
struct ContentTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

// What the save needs beside the bytes.
struct ContentFacts {
    std::string refused;              // why the file cannot be had at all (the content is then empty)
    bool unrecoverable = false;       // refused because the file is known to be lost, not for a fault of this read
    bool damaged = false;             // damage known from the layout alone (a cut or made-up part)
    bool uninitializedZeros = false;  // zeros after the initialized size stand for what was never written
    std::optional<ContentTime> accessed, modified;
    std::string symlinkTarget;        // saved as a host symbolic link to this, never followed
};

class FileContent {
public:
    virtual ~FileContent() = default;
    virtual std::uint64_t size() const = 0;
    // Fills `buffer` from `offset` with up to `length` bytes; nothing past size().
    virtual ContentRead read(std::uint64_t offset, void* buffer, std::size_t length) = 0;

    ContentFacts facts;
};

// A content that could not be opened, with the reason.
std::unique_ptr<FileContent> refusedContent(std::string why);
// A removed file known to be lost (its blocks or its inode went to other files), with the reason.
std::unique_ptr<FileContent> unrecoverableContent(std::string why);

// Reads bytes of the volume (offsets from its start); false, and zeros where unread, when any part failed.
using VolumeRead = std::function<bool(std::uint64_t offset, void* buffer, std::size_t length)>;

// A file laid out as a sequence of parts: bytes of the volume, zeros (holes, unwritten or uninitialized parts),
// missing parts (zeros, damaged), and bytes kept in metadata (resident or inline content).
class ContentLayout {
public:
    void stored(std::uint64_t length, std::uint64_t volumeOffset);
    void zeros(std::uint64_t length);
    void missing(std::uint64_t length);
    void inMemory(std::vector<std::uint8_t> bytes);
    std::uint64_t size() const { return size_; }

    enum class Kind { Stored, Zeros, Missing, Memory };
    struct Part {
        std::uint64_t start = 0;  // in the file
        std::uint64_t length = 0;
        Kind kind = Kind::Zeros;
        std::uint64_t volumeOffset = 0;  // Stored: where the part starts on the volume; Memory: index in `memory`
    };
    const std::vector<Part>& parts() const { return parts_; }
    const std::vector<std::vector<std::uint8_t>>& memory() const { return memory_; }

private:
    void add(Kind kind, std::uint64_t length, std::uint64_t volumeOffset);

    std::vector<Part> parts_;
    std::vector<std::vector<std::uint8_t>> memory_;
    std::uint64_t size_ = 0;
};

// Reads a laid-out file through the engine's volume reads.
class LayoutContent final : public FileContent {
public:
    LayoutContent(VolumeRead read, ContentLayout layout) : read_(std::move(read)), layout_(std::move(layout)) {}
    std::uint64_t size() const override { return layout_.size(); }
    ContentRead read(std::uint64_t offset, void* buffer, std::size_t length) override;

private:
    VolumeRead read_;
    ContentLayout layout_;
};

std::unique_ptr<FileContent> layoutContent(VolumeRead read, ContentLayout layout, ContentFacts facts);
// Content held whole in memory (resident data, inline data, a link target's text).
std::unique_ptr<FileContent> memoryContent(std::vector<std::uint8_t> bytes, ContentFacts facts);

// The outcome of writing one file to the host.
struct SaveOutcome {
    bool written = false;    // created and written as far as it could be read
    bool damaged = false;    // parts could not be read and were written as zeros, or the file was cut
    std::uint64_t bytes = 0;
    std::string error;
    bool diskFull = false;
    bool unrecoverable = false;  // not written because the file is known to be lost (`error` says why)
    bool uninitializedZeros = false;  // written up to its initialized size, zeros after it
};

// Writes the content to `hostPath` (created anew) in large pieces and sets its times; a content with a link
// target becomes a host symbolic link.
SaveOutcome saveContent(FileContent& content, const std::string& hostPath);

}  // namespace halvard
