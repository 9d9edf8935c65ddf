#!/usr/bin/env bash
# Mounts volumes of every file system, and one image of each format, through `halvard mount --deleted` and checks
# the mount against `halvard save` of the whole volume: the same names, the same content and link targets
# (diff -r), the same modification times (stat); writes fail with EROFS; fusermount3 -u ends the program with
# status 0. Without --deleted, deleted files are not shown. (save's own content is checked against The Sleuth Kit
# and the source files by the other checks.)
#
#   mount_matches_save.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" fusermount3 mountpoint diff find python3
[[ -e /dev/fuse ]] || { echo "/dev/fuse is missing" >&2; exit 2; }
MNT=$TMP/mnt
mkdir -p "$MNT"
cleanup_mount() { mountpoint -q "$MNT" && fusermount3 -u "$MNT"; rm -rf "$TMP"; }
trap cleanup_mount EXIT

# mount_volume IMAGE VOLUME [OPTIONS...]: starts the mount in the foreground in the background; MOUNT_PID is set
mount_volume() {
    local image=$1 volume=$2
    shift 2
    "$HALVARD" mount "$image" --volume "$volume" "$MNT" --foreground "$@" 2>"$TMP/mount.err" &
    MOUNT_PID=$!
    for _ in $(seq 200); do
        mountpoint -q "$MNT" && return 0
        kill -0 "$MOUNT_PID" 2>/dev/null || break
        sleep 0.05
    done
    return 1
}

# unmount_volume LABEL: unmounts and checks the program ended well
unmount_volume() {
    local label=$1 status=0
    fusermount3 -u "$MNT" || { fail "$label: fusermount3 -u failed"; return; }
    wait "$MOUNT_PID" || status=$?
    [[ $status -eq 0 ]] || fail "$label: halvard mount ended with status $status after the unmount"
}

# differing.py SAVED MOUNT DIFF_OUTPUT: a file diff finds different must be one the save wrote damaged: read
# through the mount it gives the saved bytes, then EIO. Every other regular file of the mount has the saved file's
# size (stat), and every one its modification time (times before 1970, such as an NTFS time of 0, are clamped differently by host file systems).
cat >"$TMP/differing.py" <<'PY'
import errno, os, re, sys
saved, mount, diff = sys.argv[1:4]
problems, damaged = [], set()
for line in open(diff, errors="surrogateescape"):
    m = re.match(r"^(?:Binary )?[Ff]iles (.*) and (.*) differ$", line.rstrip("\n"))
    if not m:
        problems.append(line.strip())
        continue
    a, b = m.groups()
    damaged.add(b)
    want = open(a, "rb").read()
    got, error = b"", None
    with open(b, "rb", buffering=0) as f:
        while True:
            try:
                chunk = f.read(65536)
            except OSError as e:
                error = e.errno
                break
            if not chunk:
                break
            got += chunk
    if error != errno.EIO or got != want:
        problems.append("%s: %d bytes then %s, saved %d bytes" % (b, len(got), error and os.strerror(error), len(want)))
for root, dirs, files in os.walk(mount):
    for name in files:
        path = os.path.join(root, name)
        other = os.path.join(saved, os.path.relpath(path, mount))
        m1, m2 = int(os.lstat(path).st_mtime), int(os.lstat(other).st_mtime) if os.path.lexists(other) else None
        if m2 is not None and m1 != m2 and m1 >= 0 and m2 >= 0:
            problems.append("%s: modified %d, saved %d" % (path, m1, m2))
        # stat's size is the listing's; a damaged file may have been saved shorter
        if m2 is not None and path not in damaged and not os.path.islink(path) and \
                os.lstat(path).st_size != os.lstat(other).st_size:
            problems.append("%s: stat size %d, saved %d" % (path, os.lstat(path).st_size, os.lstat(other).st_size))
print("\n".join(problems[:6]))
sys.exit(1 if problems else 0)
PY

check_mount() {
    local label=$1 image=$2 volume=$3
    local saved=$TMP/saved-$label
    "$HALVARD" save "$image" --volume "$volume" --path / --out "$saved" >/dev/null 2>&1 || true
    if ! mount_volume "$image" "$volume" --deleted; then
        fail "$label: not mounted: $(head -2 "$TMP/mount.err" | tr '\n' ';')"
        return
    fi
    # An NTFS symbolic link is saved as an empty file (never followed); the mount shows it as the link it is.
    diff -r --no-dereference "$saved" "$MNT" 2>&1 |
        grep -v "is a regular empty file while file .* is a symbolic link$" >"$TMP/diff" || true
    if python3 "$TMP/differing.py" "$saved" "$MNT" "$TMP/diff" >"$TMP/problems"; then
        pass "$label: the mount shows what save writes, with its times ($(find "$saved" -type f | wc -l) files)"
    else
        fail "$label: mount and save differ: $(head -4 "$TMP/problems" | tr '\n' ';')"
    fi
    local first
    first=$(cd "$MNT" && find . -type f -print -quit)
    if touch "$MNT/new file" 2>"$TMP/touch.err" || [[ -n $first ]] && (echo x >>"$MNT/$first") 2>>"$TMP/touch.err"; then
        fail "$label: a write went through"
    elif grep "Read-only file system" "$TMP/touch.err" >/dev/null; then
        pass "$label: writes fail with EROFS"
    else
        fail "$label: writes fail, but not with EROFS: $(head -1 "$TMP/touch.err")"
    fi
    unmount_volume "$label"
}

F=$FIXTURES
check_mount ntfs "$F/ntfs_windows.raw" 0
check_mount fat12 "$F/fat_disk.raw" 0
check_mount fat16 "$F/fat_disk.raw" 1
check_mount fat32 "$F/fat_disk.raw" 2
check_mount exfat "$F/fat_disk.raw" 3
check_mount ext2 "$F/ext_kernel.raw" 0
check_mount ext4 "$F/ext_kernel.raw" 2
check_mount hfsplus "$F/hfs_mbr.raw" 0
check_mount vhdx-ext "$F/mbr_mixed.vhdx" 3
check_mount vhd "$F/formats_dyn.vhd" 1
check_mount vdi "$F/formats_dyn.vdi" 0
check_mount vmdk "$F/formats_sparse.vmdk" 1
check_mount qcow2-chain "$F/chains/qcow2_top.qcow2" 1
check_mount vmdk-delta "$F/chains/vmdk_child.vmdk" 1

# Without --deleted, a deleted file is not there.
if mount_volume "$F/ntfs_windows.raw" 0; then
    if [[ -e $MNT/gone/fragmented.bin ]]; then
        fail "without --deleted, the deleted gone/fragmented.bin is shown"
    else
        pass "without --deleted, deleted files are not shown"
    fi
    # As Ctrl-C in a terminal (a background job ignores SIGINT): the volume is unmounted, the status is 0.
    kill -TERM "$MOUNT_PID"
    status=0
    wait "$MOUNT_PID" || status=$?
    if [[ $status -eq 0 ]] && ! mountpoint -q "$MNT"; then
        pass "a signal unmounts the volume and ends the program with status 0"
    else
        fail "after SIGTERM: status $status, $(mountpoint "$MNT" 2>&1)"
    fi
else
    fail "not mounted without --deleted: $(head -2 "$TMP/mount.err" | tr '\n' ';')"
fi

check_end
