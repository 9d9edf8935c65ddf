// The NTFS engine on a volume made by mkntfs and filled through ntfs-3g (see make_ntfs_test_volume.sh), checked
// against what was written and against The Sleuth Kit's listing; and on damaged copies of volumes, where it must
// list and save without crashing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "browser/ntfs_view.h"
#include "common/memory_tree.h"
#include "image/raw_reader.h"
#include "support/ntfs_builder.h"
#include "support/vhdx_builder.h"
#include "support/view_exercise.h"

namespace halvard {
namespace {

using testing::ByteVector;

struct ManifestRow {
    std::string kind, state, content, path;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
};

// Builds the volume once for all tests of this file.
class RealVolume {
public:
    static RealVolume& get() {
        static RealVolume volume;
        return volume;
    }
    bool ready() const { return ready_; }
    const std::string& why() const { return why_; }
    std::string image() const { return dir_.file("ntfs.img"); }
    std::string file(const std::string& name) const { return dir_.file(name); }
    const std::vector<ManifestRow>& manifest() const { return manifest_; }

private:
    RealVolume() {
        const auto script = std::filesystem::path(HALVARD_TESTS_DIR) / "fs/ntfs/make_ntfs_test_volume.sh";
        const std::string command = script.string() + " " + dir_.path() + " >" + dir_.file("make.log") + " 2>&1";
        const int rc = std::system(command.c_str());
        if (rc != 0) {
            why_ = WIFEXITED(rc) && WEXITSTATUS(rc) == 77 ? "needs root, FUSE, mkntfs and ntfs-3g"
                                                           : "the volume could not be made (see make.log)";
            return;
        }
        std::ifstream in(dir_.file("manifest.txt"));
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            ManifestRow row;
            std::string size, mtime;
            std::getline(fields, row.kind, '\t');
            std::getline(fields, row.state, '\t');
            std::getline(fields, size, '\t');
            std::getline(fields, row.content, '\t');
            std::getline(fields, mtime, '\t');
            std::getline(fields, row.path);
            row.size = std::stoull(size);
            row.mtimeNs = std::stoll(mtime);
            manifest_.push_back(row);
        }
        ready_ = !manifest_.empty();
    }
    testing::TempDir dir_;
    bool ready_ = false;
    std::string why_;
    std::vector<ManifestRow> manifest_;
};

struct Listing {
    std::map<std::string, EntryId> paths;
    void walk(const VolumeView& view, const std::string& parent, EntryId id, int depth) {
        ASSERT_LT(depth, 200) << "the tree has a loop at " << parent;
        const std::string path = parent + "/" + view.name(id);
        paths.emplace(path, id);
        if (view.isFolder(id) && view.descendWhenSaving(id))
            for (EntryId c : view.children(id)) walk(view, path, c, depth + 1);
    }
    static Listing of(const VolumeView& view) {
        Listing l;
        for (EntryId id : view.topLevel()) l.walk(view, "", id, 0);
        return l;
    }
};

class NtfsRealVolume : public ::testing::Test {
protected:
    void SetUp() override {
        if (!RealVolume::get().ready()) GTEST_SKIP() << RealVolume::get().why();
        ASSERT_TRUE(reader.open(RealVolume::get().image()));
        volume.fileSystem = "NTFS";
        volume.sizeText = "8";
    }
    std::unique_ptr<VolumeView> parse(ParseMode mode) {
        auto view = makeNtfsView(testing::on(reader, volume));
        ParseContext context;
        context.tree = &tree;
        EXPECT_TRUE(view->parse(context, mode));
        return view;
    }

    RawReader reader;
    VolumeRecord volume;
    MemoryTree tree;
    testing::TempDir out;
};

TEST_F(NtfsRealVolume, ListsAndSavesWhatNtfs3gWrote) {
    auto view = parse(ParseMode::Standard);
    const Listing listing = Listing::of(*view);
    for (const ManifestRow& row : RealVolume::get().manifest()) {
        SCOPED_TRACE(row.path);
        const auto it = listing.paths.find("/" + row.path);
        ASSERT_NE(it, listing.paths.end());
        const EntryId id = it->second;
        EXPECT_EQ(view->isFolder(id), row.kind == "dir");
        EXPECT_EQ(view->isDeleted(id), row.state == "deleted");
        if (row.kind != "file") continue;
        const EntryDetails d = view->details(id);
        EXPECT_EQ(d.size, row.size);
        const std::string saved = out.file(std::to_string(id));
        const FileSaveResult result = view->saveFile(id, saved);
        EXPECT_TRUE(result.written) << result.error;
        EXPECT_FALSE(result.damaged);
        EXPECT_EQ(testing::readFile(saved), testing::readFile(RealVolume::get().file("expected/" + row.content)));
        EXPECT_EQ(testing::contentMismatch(*view, id, saved, result.damaged), "");
        if (row.mtimeNs != 0) {
            struct stat st {};
            ASSERT_EQ(::stat(saved.c_str(), &st), 0);
            EXPECT_EQ(st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, row.mtimeNs);
        }
    }
    // System files sit at the top, $MFT among them; the compressed folder and its files show "-C".
    EXPECT_TRUE(listing.paths.count("/$MFTMirr"));
    ASSERT_TRUE(listing.paths.count("/$MFT"));
    EXPECT_EQ(view->entryIdText(listing.paths.at("/$MFT")), "0");
    EXPECT_NE(view->details(listing.paths.at("/Packed/log.txt")).attributes.find("-C"), std::string::npos);
    EXPECT_EQ(view->entryIdText(listing.paths.at("/$MFTMirr")), "1");
}

TEST_F(NtfsRealVolume, ListingAgreesWithTheSleuthKit) {
    FILE* pipe = ::popen(("fls -r -p " + RealVolume::get().image() + " 2>/dev/null").c_str(), "r");
    if (!pipe) GTEST_SKIP() << "fls is not available";
    std::vector<std::string> theirs;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        const auto tab = text.find('\t');
        if (tab == std::string::npos) continue;
        const std::string path = text.substr(tab + 1);
        // Streams and TSK's own virtual folders are not entries of the tree.
        if (path.find(':') != std::string::npos || path.rfind("$OrphanFiles", 0) == 0) continue;
        theirs.push_back(path);
    }
    if (::pclose(pipe) != 0 || theirs.empty()) GTEST_SKIP() << "fls is not available";
    auto view = parse(ParseMode::Standard);
    const Listing listing = Listing::of(*view);
    for (const std::string& path : theirs) {
        if (path == "$MFT") continue;  // never in the tree
        EXPECT_TRUE(listing.paths.count("/" + path)) << path;
    }
}

// Without the MFT's run list the deep scan still finds every record, and the records' own numbers put each one
// back into its folder, below the orphan folder that stands for the root.
TEST_F(NtfsRealVolume, DeepModeFindsEveryFileRecordInItsFolder) {
    auto view = parse(ParseMode::Deep);
    ASSERT_EQ(view->topLevel().size(), 1u);
    const Listing listing = Listing::of(*view);
    for (const ManifestRow& row : RealVolume::get().manifest())
        EXPECT_TRUE(listing.paths.count("/ORPHAN_ENTRY/" + row.path)) << row.path;
    const std::string saved = out.file("deep-packed");
    ASSERT_TRUE(view->saveFile(listing.paths.at("/ORPHAN_ENTRY/Packed/log.txt"), saved).written);
    EXPECT_EQ(testing::readFile(saved).size(), 300077u);
}

TEST_F(NtfsRealVolume, BlankBootSectorStillListsEverything) {
    ByteVector image = testing::readFile(RealVolume::get().image());
    std::fill(image.begin(), image.begin() + 512, 0);
    std::fill(image.end() - 512, image.end(), 0);
    testing::MemoryReader memory(image);
    auto view = makeNtfsView(testing::on(memory, volume));
    ParseContext context;
    ASSERT_TRUE(view->parse(context, ParseMode::Standard));
    const Listing listing = Listing::of(*view);
    for (const ManifestRow& row : RealVolume::get().manifest()) EXPECT_TRUE(listing.paths.count("/" + row.path)) << row.path;
    const EntryId packed = listing.paths.at("/Packed/log.txt");
    const std::string saved = out.file("packed");
    ASSERT_TRUE(view->saveFile(packed, saved).written);
    EXPECT_EQ(testing::readFile(saved).size(), 300077u);
}

// Parses, lists and saves every file of a damaged copy, in every mode. Returns how many files were saved.
std::size_t survive(const ByteVector& image, std::uint64_t sizeMiB, const std::string& folder) {
    std::size_t saved = 0;
    for (ParseMode mode : {ParseMode::Standard, ParseMode::Deep}) {
        testing::MemoryReader reader(image);
        VolumeRecord volume;
        volume.fileSystem = "NTFS";
        volume.sizeText = std::to_string(sizeMiB);
        auto view = makeNtfsView(testing::on(reader, volume));
        MemoryTree tree;
        ParseContext context;
        context.tree = &tree;
        view->parse(context, mode);
        const Listing listing = Listing::of(*view);
        for (const auto& [path, id] : listing.paths) {
            const EntryDetails d = view->details(id);
            if (d.folder || view->skipWhenSaving(id)) continue;
            // A new file each time: truncating one that holds unwritten data makes ext4 flush it first.
            const std::string target = folder + "/f";
            std::filesystem::remove(target);
            const FileSaveResult r = view->saveFile(id, target);
            saved += r.written;
            EXPECT_LT(r.bytes, 64ull << 20) << path;
            if (r.written) {
                EXPECT_EQ(testing::contentMismatch(*view, id, target, r.damaged), "") << path;
            }
        }
    }
    return saved;
}

void damage(ByteVector& image, std::uint64_t from, std::uint64_t length, unsigned seed, int flips) {
    std::mt19937 random(seed);
    for (int i = 0; i < flips; ++i) {
        const std::uint64_t at = from + random() % length;
        if (random() % 3 == 0)
            image[at] = static_cast<std::uint8_t>(random());
        else
            image[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
    }
}

TEST(NtfsDamage, SyntheticVolumeWithFlippedMftBytes) {
    testing::NtfsVolumeBuilder v(4096, 512, 1024, 16, 32);
    const std::uint64_t t = testing::fileTime(1600000000);
    v.setRecord(16, testing::RecordBuilder(1024, 3).standardInformation(t, t, t).fileName(5, "Dir", true).build());
    for (std::uint64_t i = 17; i < 28; ++i) {
        testing::RecordBuilder r;
        r.standardInformation(t, t, t).fileName(i % 2 ? 16 : 5, "file" + std::to_string(i));
        if (i % 3 == 0)
            r.resident(0x80, ByteVector(100, 'r'));
        else if (i % 3 == 1)
            r.data({{4, static_cast<std::int64_t>(60 + i * 8)}, {2, 0, true}}, 5 * 4096 + 7, 4096);
        else
            r.data({{3, static_cast<std::int64_t>(300 + i * 8)}, {13, 0, true}}, 20000, 4096, 0x0001, 4);
        v.setRecord(i, r.build());
    }
    testing::TempDir dir;
    EXPECT_GT(survive(v.image(), 2, dir.path()), 0u);
    for (unsigned seed = 1; seed <= 40; ++seed) {
        ByteVector image = v.image();
        damage(image, 16 * 4096, 32 * 1024, seed, 60);
        if (seed % 4 == 0) damage(image, 0, 512, seed, 8);  // the boot sector too
        survive(image, 2, dir.path());
    }
}

TEST_F(NtfsRealVolume, DamagedMftNeitherCrashesNorHangs) {
    const ByteVector clean = testing::readFile(RealVolume::get().image());
    const std::uint64_t mft = (clean[0x30] | clean[0x31] << 8 | clean[0x32] << 16) * 4096ULL;
    for (unsigned seed = 1; seed <= 6; ++seed) {
        ByteVector image = clean;
        damage(image, mft, 128 * 1024, seed, 400);
        survive(image, 8, out.path());
    }
}

}  // namespace
}  // namespace halvard
