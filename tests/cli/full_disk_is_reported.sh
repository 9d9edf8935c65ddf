#!/usr/bin/env bash
# Saves and exports into a small tmpfs that cannot hold the result, and checks what the user is told: a clear
# line naming the full disk, a non-zero status, no claim of success; what a save wrote before the disk filled
# stays. Needs root (it mounts the tmpfs); elsewhere it reports a skip.
#
#   full_disk_is_reported.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" mount umount

if [[ $(id -u) -ne 0 ]]; then
    echo "SKIP: needs root to mount a tmpfs"
    exit 0
fi
SMALL=$TMP/small
mkdir -p "$SMALL"
mount -t tmpfs -o size=512k tmpfs "$SMALL" || { echo "SKIP: tmpfs mount refused"; exit 0; }
trap 'umount "$SMALL" 2>/dev/null; rm -rf "$TMP"' EXIT

IMAGE=$FIXTURES/ntfs_1m.vhdx

# Export: the disk is larger than the target; refused before anything is copied.
status=0
"$HALVARD" export "$IMAGE" "$SMALL/disk.img" >"$TMP/out" 2>"$TMP/err" || status=$?
if ((status != 0)) && grep -q "Insufficient Disk Space in saving Location" "$TMP/err" && [[ ! -s $TMP/out ]]; then
    pass "export into a too small folder: the disk-full text and status $status"
else
    fail "export into a too small folder: the disk-full text and a non-zero status (status $status)"
    cat "$TMP/err"
fi
[[ ! -e $SMALL/disk.img ]] && pass "export leaves no file when nothing was copied" ||
    fail "export leaves no file when nothing was copied"

# Save: the files fill the target part way; the save stops there and says so.
status=0
"$HALVARD" save "$IMAGE" --volume 0 --path / --out "$SMALL/save" >"$TMP/out" 2>"$TMP/err" || status=$?
if ((status != 0)) && grep -q "Insufficient Disk Space in saving Location" "$TMP/err"; then
    pass "save into a too small folder: the disk-full text and status $status"
else
    fail "save into a too small folder: the disk-full text and a non-zero status (status $status)"
    cat "$TMP/err"
fi
if grep -qE '^[0-9]+ files written .*, [1-9][0-9]* failed$' "$TMP/out"; then
    pass "the save summary counts the failures"
else
    fail "the save summary counts the failures: $(cat "$TMP/out")"
fi
written=$(find "$SMALL/save" -type f -size +0 | wc -l)
((written > 0)) && pass "files saved before the disk filled stay ($written)" ||
    fail "files saved before the disk filled stay"
check_end
