#!/usr/bin/env bash
# Checks the VHDX images that tests/fixtures/make_vhdx_fixtures.sh writes beyond what qemu-img can:
#   - a dirty image exports (with its log replayed in memory) byte for byte as the clean image, and with
#     --no-log-replay as the stale one qemu-img reads; a torn log replays up to its last valid entry;
#   - headers and region tables with bad checksums fall back to the good copies;
#   - differencing disks (a child, and a grandchild over it) export as the merged disk, and save the file the
#     child changed; a missing parent, a parent of another state and a loop are refused with a clear error,
#     and --parent / --force-parent read through anyway;
#   - `halvard info --check` reports each planted damage (status 3) and nothing on qemu-img's images (status 0);
#   - no command changes an image file.
#
#   vhdx_recovery_matches.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" cmp sha256sum

declare -A BEFORE
for image in "$FIXTURES"/vhdx_*.vhdx "$FIXTURES"/vhdx_*.avhdx; do BEFORE[$image]=$(fingerprint "$image"); done

# exports IMAGE EXPECTED TEXT [OPTIONS...]: the export equals EXPECTED
exports() {
    local image=$1 expected=$2 text=$3
    shift 3
    rm -f "$TMP/disk.raw"
    if "$HALVARD" export "$FIXTURES/$image" "$TMP/disk.raw" "$@" >"$TMP/out" 2>&1 &&
        cmp -s "$TMP/disk.raw" "$FIXTURES/$expected"; then
        pass "$text"
    else
        fail "$text: $(tail -1 "$TMP/out")"
    fi
}

# refuses IMAGE PATTERN TEXT: the export fails with status 2 and a line matching PATTERN
refuses() {
    local status=0
    "$HALVARD" export "$FIXTURES/$1" "$TMP/refused.raw" >"$TMP/out" 2>&1 || status=$?
    if [[ $status -eq 2 ]] && grep -q -- "$2" "$TMP/out"; then
        pass "$3"
    else
        fail "$3 (status $status: $(cat "$TMP/out"))"
    fi
    rm -f "$TMP/refused.raw"
}

# checks IMAGE STATUS TEXT PATTERN...: info --check ends with STATUS and prints every PATTERN
checks() {
    local image=$1 want=$2 text=$3 status=0 pattern missing=""
    shift 3
    "$HALVARD" info --check "$FIXTURES/$image" >"$TMP/check" 2>/dev/null || status=$?
    for pattern in "$@"; do grep -q -- "$pattern" "$TMP/check" || missing+=" [$pattern]"; done
    if [[ $status -eq $want && -z $missing ]]; then
        pass "$text"
    else
        fail "$text (status $status, missing$missing): $(grep -E 'Check|Damage' "$TMP/check" | tr '\n' ' ')"
    fi
}

exports vhdx_dirty.vhdx vhdx_base.raw "a dirty image reads as the clean one once its log is replayed"
exports vhdx_dirty.vhdx vhdx_stale.raw "with --no-log-replay it reads as it stands" --no-log-replay
exports vhdx_torn.vhdx vhdx_torn_expected.raw "a torn log replays up to its last valid entry"
exports vhdx_badsum.vhdx vhdx_base.raw "bad header and region table checksums fall back to the good copies"
exports vhdx_child.avhdx vhdx_child_merged.raw "a differencing disk reads its missing blocks and sectors from its parent"
exports vhdx_grandchild.avhdx vhdx_grandchild_merged.raw "a chain of two parents reads through both"
exports vhdx_orphan.avhdx vhdx_base.raw "--parent names a parent the locator does not find" --parent "$FIXTURES/vhdx_parent.vhdx"
exports vhdx_wrong_parent.avhdx vhdx_base.raw "--force-parent reads through a parent of another state" --force-parent

refuses vhdx_orphan.avhdx "gone_parent.vhdx.*--parent" "a missing parent is named in the error"
refuses vhdx_wrong_parent.avhdx "not the one this disk was made from.*--force-parent" "a parent of another state is refused"
refuses vhdx_loop.avhdx "loop" "a disk that is its own parent is refused"

# The child changed marker.txt: saved from the child it has the new text, from the parent the old.
for pair in "vhdx_child.avhdx marker-of-the-changed-file" "vhdx_parent.vhdx MARKER-OF-THE-CHANGED-FILE"; do
    read -r image text <<<"$pair"
    rm -rf "$TMP/saved"
    if "$HALVARD" save "$FIXTURES/$image" --volume 0 --path /marker.txt --out "$TMP/saved" >/dev/null 2>&1 &&
        [[ $(head -c 26 "$TMP/saved/marker.txt") == "$text" ]]; then
        pass "$image: marker.txt as that disk holds it"
    else
        fail "$image: marker.txt as that disk holds it"
    fi
done

checks vhdx_clean.vhdx 0 "qemu-img's image is sound" "no damage found"
checks vhdx_dirty.vhdx 3 "the pending log is reported" "log holds 1 entry never written"
checks vhdx_torn.vhdx 3 "the torn entry is reported" "sequence 1001) fails its checks"
checks vhdx_badsum.vhdx 3 "bad checksums are reported" "header [12] (sequence number [0-9]*) fails its checksum" \
    "region table 1 fails its checksum"
checks vhdx_grandchild.avhdx 0 "a sound chain is sound" "no damage found"
for image in ntfs_1m.vhdx ntfs_fixed.vhdx ntfs_32m.vhdx gpt_mixed.vhdx fat_disk.vhdx ext_disk.vhdx; do
    if [[ -f $FIXTURES/$image ]]; then checks "$image" 0 "$image (qemu-img) is sound" "no damage found"; fi
done
if "$HALVARD" info --json "$FIXTURES/vhdx_grandchild.avhdx" | grep 'vhdx_child.avhdx"' >/dev/null; then
    pass "info names the parents read through"
else
    fail "info names the parents read through"
fi

for image in "${!BEFORE[@]}"; do
    [[ $(fingerprint "$image") == "${BEFORE[$image]}" ]] || fail "$(basename "$image") was changed"
done
pass "no image file changed"
check_end
