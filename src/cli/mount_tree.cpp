#include "cli/mount_tree.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <set>
#include <unistd.h>

#include "common/host_files.h"
#include "common/texts.h"

namespace halvard::cli {

namespace {
constexpr std::size_t kDamageScanChunk = 1 << 20;
}  // namespace

MountTree::MountTree(VolumeView& view, bool showDeleted) : view_(view), showDeleted_(showDeleted) {}

const std::vector<MountChild>& MountTree::listing(EntryId folder) { return folderListing(folder).children; }

const MountTree::Listing& MountTree::folderListing(EntryId folder) {
    if (auto known = listings_.find(folder); known != listings_.end()) return known->second;
    Listing listing;
    std::vector<MountChild>& children = listing.children;
    std::set<std::string> taken;
    for (EntryId child : childrenOf(view_, folder)) {
        if (!showDeleted_ && view_.isDeleted(child)) continue;
        // What a save passes over ("$BadClus"), but device nodes, FIFOs and sockets, which are shown as what they
        // are.
        if (view_.skipWhenSaving(child) && view_.details(child).special == SpecialKind::none) continue;
        const std::string name = view_.name(child);
        if (name.empty()) continue;
        // As a save names them: the safe host name, then " (1)", " (2)"... for the second and later of one name.
        const std::string base = safeHostName(name);
        std::string shown = base;
        for (unsigned n = 1; taken.count(shown) && n < 100000; ++n)
            shown = numberedHostPath(base, n, !view_.isFolder(child));
        if (!taken.insert(shown).second) continue;
        children.push_back({shown, child});
    }
    Listing& kept = listings_.emplace(folder, std::move(listing)).first->second;
    for (const MountChild& child : kept.children) kept.byName.emplace(child.name, child.entry);
    return kept;
}

std::optional<EntryId> MountTree::resolve(std::string_view path) {
    EntryId current = kVolumeRoot;
    while (!path.empty()) {
        const std::size_t start = path.find_first_not_of('/');
        if (start == std::string_view::npos) break;
        path.remove_prefix(start);
        const std::size_t end = path.find('/');
        const std::string_view part = path.substr(0, end);
        if (!isFolder(current)) return std::nullopt;
        const Listing& children = folderListing(current);
        const auto found = children.byName.find(part);
        if (found == children.byName.end()) return std::nullopt;
        current = found->second;
        path.remove_prefix(end == std::string_view::npos ? path.size() : end);
    }
    return current;
}

bool MountTree::isFolder(EntryId entry) const { return isFolderEntry(view_, entry); }

std::string MountTree::linkTarget(EntryId entry) const {
    if (entry == kVolumeRoot) return {};
    return view_.details(entry).target;
}

struct stat MountTree::attributes(EntryId entry) const {
    struct stat st {};
    st.st_nlink = 1;
    st.st_uid = ::getuid();
    st.st_gid = ::getgid();
    st.st_blksize = 4096;
    if (entry == kVolumeRoot) {
        st.st_mode = S_IFDIR | 0555;
        st.st_nlink = 2;
        return st;
    }
    const EntryDetails d = view_.details(entry);
    const auto seconds = [](const std::optional<CalendarTime>& t) -> std::optional<std::int64_t> {
        return t ? localUnixSeconds(*t) : std::nullopt;
    };
    const std::int64_t modified = seconds(d.modified).value_or(0);
    st.st_mtim.tv_sec = static_cast<time_t>(modified);
    st.st_atim.tv_sec = static_cast<time_t>(seconds(d.accessed).value_or(modified));
    st.st_ctim.tv_sec = static_cast<time_t>(seconds(d.created).value_or(modified));
    if (d.folder) {
        st.st_mode = S_IFDIR | 0555;
        st.st_nlink = 2;
    } else if (d.special != SpecialKind::none) {
        // What the node is, with no device number: nothing on the host is reached through it.
        static constexpr mode_t kTypes[] = {0, S_IFCHR, S_IFBLK, S_IFIFO, S_IFSOCK};
        st.st_mode = kTypes[static_cast<int>(d.special)] | 0444;
    } else if (!d.target.empty()) {
        st.st_mode = S_IFLNK | 0444;
        st.st_size = static_cast<off_t>(d.target.size());
    } else {
        st.st_mode = S_IFREG | 0444;
        const auto open = open_.find(entry);
        st.st_size = static_cast<off_t>(open != open_.end() ? open->second.content->size() : d.size);
    }
    st.st_blocks = (st.st_size + 511) / 512;
    return st;
}

int MountTree::open(EntryId entry) {
    if (entry == kVolumeRoot || isFolder(entry)) return EISDIR;
    if (view_.details(entry).special != SpecialKind::none) return ENXIO;
    if (auto known = open_.find(entry); known != open_.end()) {
        ++known->second.users;
        return 0;
    }
    OpenContent open;
    try {
        open.content = view_.openContent(entry);
    } catch (const std::bad_alloc&) {
        return ENOMEM;  // a damaged map that asks for more memory than there is
    }
    if (!open.content || !open.content->facts.refused.empty()) return EIO;
    open.damaged = open.content->facts.damaged;
    open.users = 1;
    open_.emplace(entry, std::move(open));
    return 0;
}

long MountTree::read(EntryId entry, char* buffer, std::size_t size, std::uint64_t offset) {
    const auto found = open_.find(entry);
    if (found == open_.end()) return -EBADF;
    OpenContent& open = found->second;
    const std::uint64_t end = open.content->size();
    if (offset >= end) {
        // Parts never read may hide damage: they are read now, so that the answer at the end is the save's.
        std::vector<std::uint8_t> scratch;
        while (!open.damaged && open.readThrough < end) {
            scratch.resize(static_cast<std::size_t>(std::min<std::uint64_t>(end - open.readThrough, kDamageScanChunk)));
            if (!note(open, open.readThrough, open.content->read(open.readThrough, scratch.data(), scratch.size())))
                break;
        }
        return open.damaged ? -EIO : 0;
    }
    const ContentRead got = open.content->read(offset, buffer, size);
    note(open, offset, got);
    return static_cast<long>(got.bytes);
}

bool MountTree::note(OpenContent& open, std::uint64_t offset, const ContentRead& got) {
    if (got.damaged) open.damaged = true;
    if (offset <= open.readThrough) open.readThrough = std::max(open.readThrough, offset + got.bytes);
    return got.bytes > 0;
}

void MountTree::release(EntryId entry) {
    const auto found = open_.find(entry);
    if (found == open_.end() || --found->second.users > 0) return;
    open_.erase(found);
}

}  // namespace halvard::cli
