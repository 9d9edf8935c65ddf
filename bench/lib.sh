# Shared by the benchmark scripts (sourced).

# make_carve_volume.py imports a fixture helper from the source tree: no bytecode written there.
export PYTHONDONTWRITEBYTECODE=1

die() { echo "$(basename "$0" .sh): $*" >&2; exit 1; }

# bench_setup [BUILD_DIR]: every script's start. BUILD (the script's first argument, ../build by default),
# HALVARD (which must be built), DATA (the build's bench-data folder), RUNS (3 unless set).
bench_setup() {
    BUILD=$(readlink -f "${1:-$HERE/../build}")
    HALVARD=$BUILD/src/cli/halvard
    DATA=$BUILD/bench-data
    RUNS=${RUNS:-3}
    [[ -x $HALVARD ]] || die "no halvard binary at $HALVARD (build first)"
}

# median_seconds RUNS COMMAND...: one warm-up run, then RUNS timed runs (each after `before_run`, when the
# caller defines it, and a sync, so that the previous run's writes do not land in this one's time); prints the
# median in seconds, each run on stderr.
median_seconds() {
    local runs=$1 times=() i t0 t1
    shift
    for ((i = 0; i <= runs; i++)); do
        if declare -F before_run >/dev/null; then before_run; fi
        sync
        t0=$(date +%s.%N)
        "$@"
        t1=$(date +%s.%N)
        if ((i > 0)); then
            times+=("$(python3 -c "print('%.3f' % ($t1 - $t0))")")
            echo "  $1 run $i: ${times[-1]} s" >&2
        fi
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

# need_tools TOOL...: dies naming the first one missing
need_tools() {
    local tool
    for tool in "$@"; do command -v "$tool" >/dev/null || die "missing tool: $tool"; done
}

# make_file_tree DIR FOLDERS FILES FOLDER_NAME FILE_NAME CONTENT: FOLDERS folders of FILES small files each below
# DIR. The names and the content are Python %-formats of d (the folder's number) and f (the file's), as "%(d)03d".
make_file_tree() {
    python3 - "$@" <<'PY'
import os, sys
root, folders, files, folder_name, file_name, content = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), *sys.argv[4:7]
for d in range(folders):
    folder = os.path.join(root, folder_name % {"d": d})
    os.makedirs(folder)
    for f in range(files):
        with open(os.path.join(folder, file_name % {"d": d, "f": f}), "w") as out:
            out.write(content % {"d": d, "f": f})
PY
}

# disk_with_volume DISK VOLUME TYPE: DISK becomes an MBR disk whose one partition (type TYPE) holds VOLUME from
# sector 2048
disk_with_volume() {
    local disk=$1 volume=$2 type=$3 sectors
    sectors=$(($(stat -c %s "$volume") / 512))
    rm -f "$disk"
    truncate -s $(((2048 + sectors) * 512)) "$disk"
    printf 'label: dos\nstart=2048, size=%d, type=%s\n' "$sectors" "$type" | sfdisk -q "$disk" >/dev/null
    dd if="$volume" of="$disk" bs=1M seek=1 conv=notrunc,sparse status=none
}

ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }

# bench_cached FILE SCRIPT: true when FILE exists and was built by this version of SCRIPT (its stamp FILE.stamp
# holds the script's hash); bench_stamp FILE SCRIPT records that after a build.
bench_cached() { [[ -f $1 && -f $1.stamp && $(cat "$1.stamp") == $(sha256sum <"$2" | cut -d' ' -f1) ]]; }
bench_stamp() { sha256sum <"$2" | cut -d' ' -f1 >"$1.stamp"; }

# ntfs_volume_from_folder IMAGE SIZE_MIB FOLDER: a bare NTFS volume (no partition table) made by mkntfs and filled
# with a copy of FOLDER through ntfs-3g. Needs root and FUSE.
ntfs_volume_from_folder() {
    local image=$1 size_mib=$2 folder=$3 mnt pid
    [[ $EUID -eq 0 && -e /dev/fuse ]] || { echo "building an NTFS volume needs root and FUSE" >&2; return 1; }
    rm -f "$image"
    truncate -s $((size_mib << 20)) "$image"
    mkntfs -q -F -Q -c 4096 "$image" >/dev/null 2>&1
    mnt=$(mktemp -d /tmp/halvard-bench-mnt.XXXXXX)
    ntfs-3g -o no_detach,noatime,big_writes "$image" "$mnt" >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 100); do mountpoint -q "$mnt" && break; sleep 0.1; done
    mountpoint -q "$mnt" || { echo "ntfs-3g could not mount $image" >&2; return 1; }
    cp -a "$folder/." "$mnt/"
    umount "$mnt"
    wait "$pid" || true
    rmdir "$mnt"
}

# listing_disk FS: prints the path of the disk of make_listing_disk.sh for FS (ntfs, fat32, exfat, ext4) in DATA,
# building it the first time or when its makers changed (a few minutes each; needs root). FILES (default 100,000).
listing_disk() {
    local files=${FILES:-100000}
    local disk=$DATA/listing_$1_$files.raw
    local stamp
    stamp=$(cat "$HERE/make_listing_disk.sh" "$HERE/make_listing_tree.py" | sha256sum | cut -d' ' -f1)
    if [[ ! -f $disk || ! -f $disk.stamp || $(cat "$disk.stamp") != "$stamp" ]]; then
        echo "building $disk ($files files)..." >&2
        mkdir -p "$DATA"
        "$HERE/make_listing_disk.sh" "$1" "$disk" "$files" || die "could not build the $1 listing disk"
        echo "$stamp" >"$disk.stamp"
    fi
    echo "$disk"
}

# peak_rss_mib COMMAND...: runs it once, output discarded, and prints its peak resident memory in MiB
peak_rss_mib() {
    local report
    report=$(mktemp)
    /usr/bin/time -o "$report" -f '%M' "$@" >/dev/null 2>&1 || true
    python3 -c "print('%.1f' % (int(open('$report').read().split()[-1]) / 1024))"
    rm -f "$report"
}
