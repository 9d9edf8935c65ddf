#!/usr/bin/env bash
# Cross-checks the VHD, VDI and VMDK readers against qemu-img on the images that
# tests/fixtures/make_fixtures.sh converts from formats_disk.raw:
#   - `halvard export` gives byte for byte what `qemu-img convert -O raw` gives;
#   - `halvard info --json` reports the format, the virtual size that qemu-img's raw output has, and
#     the block (grain) size where qemu-img reports a cluster size;
#   - neither command changes the image file (content or modification time).
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
)

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
    ref=$TMP/$name.ref.raw
    out=$TMP/$name.img
    if ! qemu-img convert -f "$driver" -O raw "$img" "$ref" 2>"$TMP/qemu.err"; then
        fail "$name: qemu-img convert failed ($(head -1 "$TMP/qemu.err"))"
        continue
    fi
    if "$HALVARD" export "$img" "$out" >"$TMP/export.log" 2>&1; then
        if cmp -s "$out" "$ref"; then
            pass "$name: export equals qemu-img convert ($(stat -c %s "$ref") bytes)"
        else
            fail "$name: export differs from qemu-img convert: $(cmp "$out" "$ref" 2>&1 | head -1)"
        fi
    else
        fail "$name: export exited with $? ($(head -1 "$TMP/export.log"))"
    fi

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
    rm -f "$out" "$ref"

    if [[ $(fingerprint "$img") == "$before" ]]; then
        pass "$name: image content and mtime unchanged"
    else
        fail "$name: image was modified"
    fi
done

check_end
