// halvard mount IMAGE --volume N MOUNTPOINT [--mode ...] [--deleted] [--foreground]: the volume as a read-only FUSE
// file system, browsed and copied with the host's own tools until it is unmounted (fusermount3 -u, or Ctrl-C).
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>

#include "cli/interrupt_stop.h"
#include "cli/mount_tree.h"
#include "cli/volume_view_session.h"

namespace halvard::cli {

namespace {

struct MountOptions {
    VolumeOptions volume;
    std::string mountPoint;
    bool deleted = false;
    bool foreground = false;
};

MountTree& treeOf() { return *static_cast<MountTree*>(fuse_get_context()->private_data); }

// The FUSE loop is single-threaded: the engines are called by one thread only.
int mountGetattr(const char* path, struct stat* st, fuse_file_info*) {
    const auto entry = treeOf().resolve(path);
    if (!entry) return -ENOENT;
    *st = treeOf().attributes(*entry);
    return 0;
}

int mountReadlink(const char* path, char* buffer, size_t size) {
    const auto entry = treeOf().resolve(path);
    if (!entry) return -ENOENT;
    const std::string target = treeOf().linkTarget(*entry);
    if (target.empty()) return -EINVAL;
    if (size == 0) return -EINVAL;
    const std::size_t length = std::min(size - 1, target.size());
    std::memcpy(buffer, target.data(), length);
    buffer[length] = '\0';
    return 0;
}

int mountReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    const auto entry = treeOf().resolve(path);
    if (!entry) return -ENOENT;
    if (!treeOf().isFolder(*entry)) return -ENOTDIR;
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    for (const MountChild& child : treeOf().listing(*entry))
        if (fill(buffer, child.name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) break;
    return 0;
}

int mountOpen(const char* path, fuse_file_info* fi) {
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    const auto entry = treeOf().resolve(path);
    if (!entry) return -ENOENT;
    if (const int error = treeOf().open(*entry); error != 0) return -error;
    fi->fh = *entry;
    // The content may be longer or shorter than the size the listing shows: reads go to it directly.
    fi->direct_io = 1;
    return 0;
}

int mountRead(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    if (offset < 0) return -EINVAL;
    const long got = treeOf().read(fi->fh, buffer, size, static_cast<std::uint64_t>(offset));
    return static_cast<int>(got);
}

int mountRelease(const char*, fuse_file_info* fi) {
    treeOf().release(fi->fh);
    return 0;
}

void* mountInit(fuse_conn_info*, fuse_config* config) {
    config->use_ino = 0;
    config->kernel_cache = 0;
    return fuse_get_context()->private_data;
}

fuse_operations mountOperations() {
    fuse_operations ops{};
    ops.init = mountInit;
    ops.getattr = mountGetattr;
    ops.readlink = mountReadlink;
    ops.readdir = mountReaddir;
    ops.open = mountOpen;
    ops.read = mountRead;
    ops.release = mountRelease;
    return ops;
}

struct FuseDeleter {
    void operator()(fuse* f) const { fuse_destroy(f); }
};

int runMount(const MountOptions& options, const Streams& s) {
    std::error_code ec;
    if (!std::filesystem::is_directory(options.mountPoint, ec)) {
        printError(s, options.mountPoint + ": the mount point must be an existing folder");
        return kExitFailed;
    }
    int status = kExitOk;
    std::optional<ParsedVolume> parsed;
    {
        InterruptStop interrupt;
        parsed = openParsedVolume(options.volume, s, status, interrupt.poll());
        if (!parsed) return status;
        if (interrupt.interrupted()) {
            printError(s, "stopped before the volume was mounted");
            return kExitFailed;
        }
    }

    MountTree tree(*parsed->view, options.deleted);

    const std::string fsName = "fsname=halvard:" + options.volume.image;
    std::vector<std::string> arguments = {"halvard", "-o", "ro,subtype=halvard,default_permissions", "-o", fsName};
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
    const fuse_operations ops = mountOperations();
    std::unique_ptr<fuse, FuseDeleter> session(fuse_new(&args, &ops, sizeof(ops), &tree));
    fuse_opt_free_args(&args);  // the option parser may have made a copy of the arguments
    if (!session) {
        printError(s, "cannot start the FUSE file system (is fuse3 installed?)");
        return kExitFailed;
    }
    if (fuse_mount(session.get(), options.mountPoint.c_str()) != 0) {
        printError(s, options.mountPoint + ": cannot mount there (is /dev/fuse there, and may this user mount?)");
        return kExitFailed;
    }
    s.err << "mounted volume " << options.volume.volume << " of " << options.volume.image << " read-only on "
          << options.mountPoint << "; unmount with: fusermount3 -u " << options.mountPoint << "\n";
    s.err.flush();
    if (!options.foreground && fuse_daemonize(0) != 0) {
        fuse_unmount(session.get());
        printError(s, "cannot go to the background (try --foreground)");
        return kExitFailed;
    }
    fuse_session* fuseSession = fuse_get_session(session.get());
    fuse_set_signal_handlers(fuseSession);
    const int loop = fuse_loop(session.get());
    fuse_remove_signal_handlers(fuseSession);
    fuse_unmount(session.get());
    session.reset();
    // A signal (Ctrl-C, SIGTERM) ends the loop with its number: the volume was unmounted as asked.
    return loop >= 0 ? kExitOk : kExitFailed;
}

}  // namespace

void addMountCommand(CLI::App& app, CommandContext& context) {
    const auto [cmd, options] =
        addCommand(app, context, "mount", "Show a volume as a read-only file system (FUSE) until unmounted", runMount);
    addVolumeOptions(*cmd, options->volume);
    cmd->add_option("MOUNTPOINT", options->mountPoint, "An existing, empty folder to show the volume in")->required();
    cmd->add_flag("--deleted", options->deleted, "Show deleted entries too (a name taken twice gets \" (1)\")");
    cmd->add_flag("--foreground", options->foreground, "Stay in the foreground until unmounted or Ctrl-C");
}

}  // namespace halvard::cli
