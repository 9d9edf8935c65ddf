#include "support/view_exercise.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <vector>

#include "browser/entry_walk.h"
#include "common/host_files.h"

namespace halvard::testing {

namespace {

struct ScatteredRead {
    std::uint64_t offset = 0;
    std::size_t asked = 0;
    std::string bytes;
};

// Reads of odd lengths at offsets spread over the content and a little past its end.
std::vector<ScatteredRead> readScattered(VolumeView& view, EntryId entry) {
    std::vector<ScatteredRead> reads;
    const std::unique_ptr<FileContent> content = view.openContent(entry);
    if (!content) return reads;
    const std::uint64_t size = content->size();
    std::mt19937_64 random(entry);
    std::string buffer;
    for (int k = 0; k < 24; ++k) {
        const std::uint64_t offset = random() % (size + 16);
        buffer.assign(1 + random() % 70001, '\0');
        const ContentRead got = content->read(offset, buffer.data(), buffer.size());
        reads.push_back({offset, buffer.size(), buffer.substr(0, got.bytes)});
    }
    return reads;
}

}  // namespace

std::size_t exerciseView(VolumeView& view, const std::string& folder, std::uint64_t saveLimit) {
    std::size_t visited = 0;
    std::set<EntryId> walked;
    std::vector<EntryId> pending = view.topLevel();
    while (!pending.empty() && visited < 100000) {
        const EntryId entry = pending.back();
        pending.pop_back();
        ++visited;
        const EntryDetails details = view.details(entry);
        view.hasChildren(entry);
        if (view.isFolder(entry)) {
            if (walked.insert(entry).second)
                for (EntryId child : view.children(entry)) pending.push_back(child);
        } else if (details.size <= saveLimit) {
            view.saveFile(entry, hostPathFor(folder, "saved"));
            readScattered(view, entry);
        }
    }
    return visited;
}

std::map<std::string, EntryId> listByPath(const VolumeView& view, bool markDeleted) {
    std::map<std::string, EntryId> out;
    visitEntries(view, kVolumeRoot, "", true, [&](const std::string& path, EntryId id) {
        out.emplace(path + (markDeleted && view.isDeleted(id) ? " (deleted)" : ""), id);
        return true;
    });
    return out;
}

std::string savedContent(VolumeView& view, const std::string& path, const std::string& hostPath) {
    const auto id = findEntry(view, path);
    if (!id) return "<missing>";
    const FileSaveResult saved = view.saveFile(*id, hostPath);
    if (!saved.written) return "<not written>";
    if (const std::string differs = contentMismatch(view, *id, hostPath, saved.damaged); !differs.empty())
        return "<read differs: " + differs + ">";
    std::ifstream in(hostPath, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace halvard::testing

namespace halvard::testing {

std::string contentMismatch(VolumeView& view, EntryId entry, const std::string& savedPath, bool savedDamaged) {
    const std::unique_ptr<FileContent> content = view.openContent(entry);
    if (!content) return "no content";
    if (!content->facts.symlinkTarget.empty()) {
        std::error_code ec;
        const auto target = std::filesystem::read_symlink(savedPath, ec);
        return target == content->facts.symlinkTarget ? "" : "link target " + content->facts.symlinkTarget;
    }
    std::ifstream in(savedPath, std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (content->size() != saved.size())
        return "size " + std::to_string(content->size()) + ", saved " + std::to_string(saved.size());
    // In order, in pieces that straddle every boundary a run, unit or cluster may have.
    bool damaged = content->facts.damaged;
    std::string whole, piece(4093, '\0');
    for (std::uint64_t at = 0; at < content->size();) {
        const ContentRead got = content->read(at, piece.data(), piece.size());
        if (got.bytes == 0) return "no bytes at " + std::to_string(at);
        damaged = damaged || got.damaged;
        whole.append(piece, 0, got.bytes);
        at += got.bytes;
    }
    if (whole != saved) return "content read in order differs from the saved file";
    if (damaged != savedDamaged) return damaged ? "damaged, saved whole" : "whole, saved damaged";
    for (const ScatteredRead& r : readScattered(view, entry)) {
        const std::string want = r.offset < saved.size() ? saved.substr(r.offset, r.asked) : std::string();
        if (r.bytes != want) return "read of " + std::to_string(r.asked) + " at " + std::to_string(r.offset) + " differs";
    }
    return {};
}

}  // namespace halvard::testing
