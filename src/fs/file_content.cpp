#include "fs/file_content.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/host_files.h"

namespace halvard {

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

class MemoryContent final : public FileContent {
public:
    explicit MemoryContent(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t size() const override { return bytes_.size(); }
    ContentRead read(std::uint64_t offset, void* buffer, std::size_t length) override {
        if (offset >= bytes_.size()) return {};
        const std::size_t n = std::min<std::size_t>(length, bytes_.size() - static_cast<std::size_t>(offset));
        std::memcpy(buffer, bytes_.data() + offset, n);
        return {n, false};
    }

private:
    std::vector<std::uint8_t> bytes_;
};

SaveOutcome saveSymlink(const std::string& target, const std::string& hostPath, const ContentFacts& facts) {
    SaveOutcome result;
    if (::symlink(target.c_str(), hostPath.c_str()) != 0) {
        result.error = std::strerror(errno);
        result.diskFull = errno == ENOSPC || errno == EDQUOT;
        return result;
    }
    result.written = true;
    result.bytes = target.size();
    const ContentTime accessed = facts.accessed.value_or(facts.modified.value_or(ContentTime{}));
    const ContentTime modified = facts.modified.value_or(accessed);
    struct timespec times[2] = {{static_cast<time_t>(accessed.seconds), static_cast<long>(accessed.nanoseconds)},
                                {static_cast<time_t>(modified.seconds), static_cast<long>(modified.nanoseconds)}};
    ::utimensat(AT_FDCWD, hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return result;
}

}  // namespace

std::unique_ptr<FileContent> refusedContent(std::string why) {
    ContentFacts facts;
    facts.refused = std::move(why);
    return memoryContent({}, std::move(facts));
}

std::unique_ptr<FileContent> unrecoverableContent(std::string why) {
    auto content = refusedContent(std::move(why));
    content->facts.unrecoverable = true;
    return content;
}

// ---- layout -------------------------------------------------------------------------------------------------

void ContentLayout::add(Kind kind, std::uint64_t length, std::uint64_t volumeOffset) {
    if (length == 0) return;
    if (!parts_.empty()) {
        // Neighbours of one kind (clusters that follow each other on the volume, zeros after zeros) are one part.
        Part& last = parts_.back();
        const bool follows = kind == Kind::Stored ? last.volumeOffset + last.length == volumeOffset : kind != Kind::Memory;
        if (last.kind == kind && follows) {
            last.length += length;
            size_ += length;
            return;
        }
    }
    parts_.push_back({size_, length, kind, volumeOffset});
    size_ += length;
}

void ContentLayout::stored(std::uint64_t length, std::uint64_t volumeOffset) { add(Kind::Stored, length, volumeOffset); }

void ContentLayout::zeros(std::uint64_t length) { add(Kind::Zeros, length, 0); }

void ContentLayout::missing(std::uint64_t length) { add(Kind::Missing, length, 0); }

void ContentLayout::inMemory(std::vector<std::uint8_t> bytes) {
    if (bytes.empty()) return;
    const std::uint64_t length = bytes.size();
    memory_.push_back(std::move(bytes));
    add(Kind::Memory, length, memory_.size() - 1);
}

ContentRead LayoutContent::read(std::uint64_t offset, void* buffer, std::size_t length) {
    ContentRead result;
    const auto& parts = layout_.parts();
    auto* out = static_cast<std::uint8_t*>(buffer);
    auto part = std::upper_bound(parts.begin(), parts.end(), offset,
                                 [](std::uint64_t at, const ContentLayout::Part& p) { return at < p.start; });
    if (part == parts.begin()) return result;
    --part;
    while (result.bytes < length && part != parts.end()) {
        const std::uint64_t within = offset - part->start;
        if (within >= part->length) {
            ++part;
            continue;
        }
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length - result.bytes, part->length - within));
        std::uint8_t* to = out + result.bytes;
        switch (part->kind) {
            case ContentLayout::Kind::Stored:
                if (!read_(part->volumeOffset + within, to, n)) result.damaged = true;
                break;
            case ContentLayout::Kind::Zeros:
                std::memset(to, 0, n);
                break;
            case ContentLayout::Kind::Missing:
                std::memset(to, 0, n);
                result.damaged = true;
                break;
            case ContentLayout::Kind::Memory:
                std::memcpy(to, layout_.memory()[static_cast<std::size_t>(part->volumeOffset)].data() + within, n);
                break;
        }
        result.bytes += n;
        offset += n;
    }
    return result;
}

std::unique_ptr<FileContent> layoutContent(VolumeRead read, ContentLayout layout, ContentFacts facts) {
    auto content = std::make_unique<LayoutContent>(std::move(read), std::move(layout));
    content->facts = std::move(facts);
    return content;
}

std::unique_ptr<FileContent> memoryContent(std::vector<std::uint8_t> bytes, ContentFacts facts) {
    auto content = std::make_unique<MemoryContent>(std::move(bytes));
    content->facts = std::move(facts);
    return content;
}

// ---- save ---------------------------------------------------------------------------------------------------

SaveOutcome saveContent(FileContent& content, const std::string& hostPath) {
    const ContentFacts& facts = content.facts;
    SaveOutcome result;
    if (!facts.refused.empty()) {
        result.error = facts.refused;
        result.unrecoverable = facts.unrecoverable;
        return result;
    }
    if (!facts.symlinkTarget.empty()) return saveSymlink(facts.symlinkTarget, hostPath, facts);
    result.damaged = facts.damaged;
    result.uninitializedZeros = facts.uninitializedZeros;
    HostFile out;
    bool ok = out.create(hostPath);
    const std::uint64_t size = content.size();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, kCopyChunk)));
    for (std::uint64_t at = 0; ok && at < size;) {
        const ContentRead got = content.read(at, buffer.data(), buffer.size());
        if (got.bytes == 0) {
            result.damaged = true;  // a content shorter than it said
            break;
        }
        if (got.damaged) result.damaged = true;
        ok = out.write(buffer.data(), got.bytes);
        at += got.bytes;
    }
    result.bytes = out.written();
    if (!ok || !out.close()) {
        result.error = out.error();
        result.diskFull = out.diskFull();
        return result;
    }
    result.written = true;
    if (facts.accessed || facts.modified) {
        const ContentTime accessed = facts.accessed.value_or(facts.modified.value_or(ContentTime{}));
        const ContentTime modified = facts.modified.value_or(accessed);
        setHostFileTimes(hostPath, accessed.seconds, accessed.nanoseconds, modified.seconds, modified.nanoseconds);
    }
    return result;
}

}  // namespace halvard
