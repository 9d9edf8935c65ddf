#!/usr/bin/env bash
# Cross-checks the VHD, VDI, VMDK and qcow2 readers against qemu-img on the images that
# tests/fixtures/make_fixtures.sh converts from formats_disk.raw and tests/fixtures/make_chain_fixtures.sh
# builds from it (qcow2 images, chains, snapshots):
#   - `halvard export` gives byte for byte what `qemu-img convert -O raw` gives;
#   - `halvard info --json` reports the format, the virtual size that qemu-img's raw output has, and
#     the block (grain) size where qemu-img reports a cluster size;
#   - `halvard volumes` finds on the image what it finds on qemu's raw output, and `ls` and `save` of each volume
#     list and write what they do from it (content and time stamps);
#   - neither command changes the image file nor the files of its chain (content or modification time);
#   - an internal snapshot reads as qemu-img converts it, and what cannot be read (encrypted, external data
#     file, missing backing file, another format) is refused with one line and exit status 2.
# An expected image that is missing is a failure: the fixture script is meant to make them all.
#
#   formats_match_qemu.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" qemu-img python3 cmp sha256sum

# image name, qemu's driver, the format halvard must report
IMAGES=(
    "formats_dyn.vhd vpc VHD"
    "formats_fixed.vhd vpc VHD"
    "formats_dyn.vdi vdi VDI"
    "formats_static.vdi vdi VDI"
    "formats_sparse.vmdk vmdk VMDK"
    "formats_stream.vmdk vmdk VMDK"
    "chains/qcow2_v3.qcow2 qcow2 QCOW2"
    "chains/qcow2_v2.qcow2 qcow2 QCOW2"
    "chains/qcow2_zlib.qcow2 qcow2 QCOW2"
    "chains/qcow2_zstd.qcow2 qcow2 QCOW2"
    "chains/qcow2_small.qcow2 qcow2 QCOW2"
    "chains/qcow2_mid.qcow2 qcow2 QCOW2"
    "chains/qcow2_top.qcow2 qcow2 QCOW2"
    "chains/qcow2_l2ext_base.qcow2 qcow2 QCOW2"
    "chains/qcow2_l2ext_top.qcow2 qcow2 QCOW2"
    "chains/qcow2_over_vmdk.qcow2 qcow2 QCOW2"
    "chains/qcow2_snap.qcow2 qcow2 QCOW2"
    "chains/vmdk_flat.vmdk vmdk VMDK"
    "chains/vmdk_vmfs.vmdk vmdk VMDK"
    "chains/vmdk_split.vmdk vmdk VMDK"
    "chains/vmdk_splitflat.vmdk vmdk VMDK"
    "chains/vmdk_splitfs.vmdk vmdk VMDK"
    "chains/vmdk_child.vmdk vmdk VMDK"
)

# every file of the chains, whose fingerprints must not change (the flat disks qemu-img made of some, kept for the
# GUI's checks, are no image files)
chain_files() { ls "$FIXTURES"/chains/* "$FIXTURES"/formats_* | grep -v '/chains/.*\.raw$'; }
chain_before=$(for f in $(chain_files); do echo "$f $(fingerprint "$f")"; done)

# volume_work IMAGE V OUT: the exit status and output of `ls --recursive --json` of volume V, then the exit status
# and the files (path, size, content hash, modification time) that `save --path /` writes of it
volume_work() {
    local status=0
    "$HALVARD" ls "$1" --volume "$2" --recursive --json >"$3" 2>/dev/null || status=$?
    echo "ls exit $status" >>"$3"
    rm -rf "$TMP/saved"
    status=0
    "$HALVARD" save "$1" --volume "$2" --path / --out "$TMP/saved" >/dev/null 2>&1 || status=$?
    echo "save exit $status" >>"$3"
    if [[ -d $TMP/saved ]]; then
        (cd "$TMP/saved" && find . -type f -printf '%p %s %T@ ' -exec sh -c 'sha256sum <"$1"' _ {} \; | sort) >>"$3"
    fi
}

# info_fields INFO_JSON QEMU_JSON: halvard's format, virtual_size and block_size, then qemu's
# cluster-size ("-" where missing), on one line
info_fields() {
    python3 - "$1" "$2" <<'PY'
import json, sys
def load(path):
    try:
        data = json.load(open(path))
    except ValueError:
        return {}
    if isinstance(data, list) and len(data) == 1:
        data = data[0]
    return data if isinstance(data, dict) else {}
ours, qemu = load(sys.argv[1]), load(sys.argv[2])
print(*[str(v) for v in (ours.get("format", "-"), ours.get("virtual_size", "-"), ours.get("block_size", "-"),
                         qemu.get("cluster-size", "-"))])
PY
}

for entry in "${IMAGES[@]}"; do
    read -r name driver format <<<"$entry"
    img=$FIXTURES/$name
    if [[ ! -f $img ]]; then
        fail "$name: missing from $FIXTURES (run tests/fixtures/make_fixtures.sh $FIXTURES)"
        continue
    fi
    before=$(fingerprint "$img")

    # The driver is named: probing takes a fixed VHD (a flat disk with a footer) for a raw image.
    ref=$TMP/$(basename "$name").ref.raw
    out=$TMP/$(basename "$name").img
    if ! qemu-img convert -f "$driver" -O raw "$img" "$ref" 2>"$TMP/qemu.err"; then
        fail "$name: qemu-img convert failed ($(head -1 "$TMP/qemu.err"))"
        continue
    fi
    export_equals "$name" "$img" "$out" "$ref"

    # The virtual size is compared with the size of qemu's raw output, not with `qemu-img info`'s
    # virtual-size: for VHD, qemu takes the size from the footer's CHS geometry or from its current size
    # depending on which program wrote the image (and on force_size), while this reader always takes the
    # current size. For images qemu-img writes, its raw output is exactly the disk it holds.
    want_size=$(stat -c %s "$ref")
    if "$HALVARD" info "$img" --json >"$TMP/info.json" 2>"$TMP/info.err"; then
        qemu-img info -f "$driver" --output=json "$img" >"$TMP/qemu.json"
        read -r got_format got_size got_block want_block < <(info_fields "$TMP/info.json" "$TMP/qemu.json")
        if [[ $got_format == "$format" ]]; then
            pass "$name: info format = $got_format"
        else
            fail "$name: info format = '$got_format', expected $format"
        fi
        if [[ $got_size == "$want_size" ]]; then
            pass "$name: info virtual_size = $got_size"
        else
            fail "$name: info virtual_size = '$got_size', qemu-img convert gives $want_size bytes"
        fi
        if [[ $want_block != - ]]; then
            if [[ $got_block == "$want_block" ]]; then
                pass "$name: info block_size = $got_block"
            else
                fail "$name: info block_size = '$got_block', qemu-img reports a cluster size of $want_block"
            fi
        fi
    else
        fail "$name: info --json exited with $? ($(head -1 "$TMP/info.err"))"
    fi
    if "$HALVARD" volumes "$img" --json >"$TMP/volumes.img" 2>&1 && "$HALVARD" volumes "$ref" --json >"$TMP/volumes.ref" 2>&1 &&
        cmp -s "$TMP/volumes.img" "$TMP/volumes.ref"; then
        pass "$name: volumes equal those of the raw disk"
    else
        fail "$name: volumes differ from those of the raw disk ($(head -c 200 "$TMP/volumes.img"))"
    fi
    count=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))))' "$TMP/volumes.ref" 2>/dev/null || echo 0)
    for ((v = 0; v < count; v++)); do
        volume_work "$img" "$v" "$TMP/work.img"
        volume_work "$ref" "$v" "$TMP/work.ref"
        if cmp -s "$TMP/work.img" "$TMP/work.ref"; then
            pass "$name: volume $v: ls and save equal those of the raw disk ($(grep -c ' [0-9a-f]\{64\} ' "$TMP/work.ref") files saved)"
        else
            fail "$name: volume $v: ls or save differ from the raw disk's: $(diff "$TMP/work.img" "$TMP/work.ref" | head -3)"
        fi
    done
    rm -f "$out" "$ref"

    if [[ $(fingerprint "$img") == "$before" ]]; then
        pass "$name: image content and mtime unchanged"
    else
        fail "$name: image was modified"
    fi
done

# The internal snapshot, on export and on another command.
snap=$FIXTURES/chains/qcow2_snap.qcow2
qemu-img convert -f qcow2 -l snapshot.name=before -O raw "$snap" "$TMP/snap.ref"
if "$HALVARD" export "$snap" "$TMP/snap.img" --snapshot before >"$TMP/export.log" 2>&1 && cmp -s "$TMP/snap.img" "$TMP/snap.ref"; then
    pass "qcow2_snap.qcow2 --snapshot before: export equals qemu-img convert -l"
else
    fail "qcow2_snap.qcow2 --snapshot before: export differs ($(head -1 "$TMP/export.log"))"
fi
if cmp -s "$TMP/snap.ref" "$FIXTURES/formats_disk.raw"; then
    pass "qcow2_snap.qcow2: the snapshot holds the disk as it was made"
else
    fail "qcow2_snap.qcow2: the snapshot differs from formats_disk.raw"
fi
if "$HALVARD" info "$snap" | grep "^Snapshot: *before (ID 1, " >/dev/null; then
    pass "qcow2_snap.qcow2: info lists the snapshot"
else
    fail "qcow2_snap.qcow2: info does not list the snapshot"
fi
rm -f "$TMP/snap.img" "$TMP/snap.ref"
if "$HALVARD" info "$FIXTURES/chains/qcow2_top.qcow2" --json |
    python3 -c 'import json,sys; p=json.load(sys.stdin)["parents"]; sys.exit(0 if [x.split("/")[-1] for x in p]==["qcow2_mid.qcow2","qcow2_base.qcow2"] else 1)'; then
    pass "qcow2_top.qcow2: info lists the chain, nearest first"
else
    fail "qcow2_top.qcow2: info does not list the chain mid, base"
fi

# Refusals: one line on stderr, exit status 2, the file named (and the option that overrides, where one does).
refused() {
    local name=$1 want=$2 img=$FIXTURES/chains/$1 status=0
    "$HALVARD" volumes "$img" >"$TMP/refused.out" 2>"$TMP/refused.err" || status=$?
    if [[ $status -eq 2 && $(wc -l <"$TMP/refused.err") -eq 1 ]] && grep -q "$img" "$TMP/refused.err" &&
        grep -q -- "$want" "$TMP/refused.err"; then
        pass "$name: refused ($(cat "$TMP/refused.err"))"
    else
        fail "$name: exit $status, expected 2 with one line naming the file and '$want': $(head -3 "$TMP/refused.err")"
    fi
}
refused qcow2_aes.qcow2 "encrypted (AES)"
refused qcow2_datafile.qcow2 "external data file"
refused qcow2_orphan.qcow2 "gone.qcow2 was not found; name it with --parent"
refused qed.qed "signature of QED"
refused vmdk_stale.vmdk "is not the one this disk was made from.*; --force-parent reads through it anyway"
# A split VMDK whose second extent file is missing: the error names that file.
mkdir "$TMP/split"
cp "$FIXTURES/chains/vmdk_splitfs.vmdk" "$FIXTURES/chains/vmdk_splitfs-s001.vmdk" "$TMP/split/"
status=0
"$HALVARD" volumes "$TMP/split/vmdk_splitfs.vmdk" >/dev/null 2>"$TMP/refused.err" || status=$?
if [[ $status -eq 2 && $(wc -l <"$TMP/refused.err") -eq 1 ]] && grep -q "$TMP/split/vmdk_splitfs-s002.vmdk" "$TMP/refused.err"; then
    pass "vmdk_splitfs.vmdk without its second extent: refused ($(cat "$TMP/refused.err"))"
else
    fail "vmdk_splitfs.vmdk without its second extent: exit $status: $(head -3 "$TMP/refused.err")"
fi
if "$HALVARD" volumes "$FIXTURES/chains/vmdk_stale.vmdk" --force-parent >/dev/null 2>&1; then
    pass "vmdk_stale.vmdk: --force-parent reads through the parent"
else
    fail "vmdk_stale.vmdk: --force-parent did not open it"
fi
status=0
"$HALVARD" export "$FIXTURES/chains/qed.qed" "$TMP/qed.img" >/dev/null 2>&1 || status=$?
if [[ $status -eq 2 && ! -e $TMP/qed.img ]]; then
    pass "qed.qed: export writes nothing and exits 2"
else
    fail "qed.qed: export exited $status"
fi

chain_after=$(for f in $(chain_files); do echo "$f $(fingerprint "$f")"; done)
if [[ $chain_after == "$chain_before" ]]; then
    pass "every file of the chains unchanged"
else
    fail "a file of the chains was modified"
fi

check_end
