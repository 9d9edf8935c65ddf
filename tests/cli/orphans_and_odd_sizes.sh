#!/usr/bin/env bash
# Checks images made by qemu-img (and, for a differencing VHDX, which qemu-img cannot make, the test-only writer)
# at the edges the readers must get right:
#   - a child whose parent was moved away (qcow2 backing file, VMDK delta, VHDX): `info` describes it from its own
#     headers and names the parent and where it looked (exit 0), `info --check` calls the missing parent damage
#     (exit 3), and reading the disk (`volumes`, `export`) is still refused (exit 2);
#   - a flat image of 61,441 bytes exports byte for byte;
#   - a 16 TiB qcow2 exported onto ext4 (largest file 16 TiB - 4 KiB) is refused for the file system's largest
#     file, not for a lack of space, at once.
#
#   orphans_and_odd_sizes.sh BUILD_DIR
set -uo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
HALVARD=$(cd "$1" && pwd)/src/cli/halvard
WRITER=$(dirname "$(readlink -f "$0")")/../fixtures/vhdx_writer.py
for tool in qemu-img python3 cmp; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done
[[ -x $HALVARD ]] || { echo "no halvard binary at $HALVARD" >&2; exit 2; }

work=$(mktemp -d)
mounted=""
cleanup() {
    [[ -n $mounted ]] && umount "$mounted"
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
passed=0
failed=0
pass() { echo "PASS $*"; passed=$((passed + 1)); }
fail() { echo "FAIL $*"; failed=$((failed + 1)); }
# expect NAME STATUS PATTERN COMMAND...: COMMAND exits with STATUS and its output (both streams) matches PATTERN.
expect() {
    local name=$1 status=$2 pattern=$3
    shift 3
    local out rc
    out=$("$@" 2>&1)
    rc=$?
    if [[ $rc -eq $status ]] && grep -Eq -- "$pattern" <<<"$out"; then
        pass "$name"
    else
        fail "$name (exit $rc, wanted $status and /$pattern/): $out"
    fi
}

mkdir away
# qcow2 and VMDK children made by qemu-img, their parents then moved away.
for fmt in qcow2 vmdk; do
    qemu-img create -q -f $fmt base.$fmt 8M
    qemu-img create -q -f $fmt -b base.$fmt -F $fmt child.$fmt
    mv base.$fmt away/
done
# A differencing VHDX with one block of its own, its parent never there.
python3 - "$WRITER" <<'PY'
import importlib.util, sys
spec = importlib.util.spec_from_file_location("vhdx_writer", sys.argv[1])
w = importlib.util.module_from_spec(spec)
spec.loader.exec_module(w)
w.write_child("child.vhdx", 8 << 20, 1 << 20, [("parent_linkage", w.guid_text(__import__("uuid").uuid4())),
              ("relative_path", ".\\gone_parent.vhdx")], {2: (6, bytes([0x5A]) * (1 << 20))})
PY

for image in child.qcow2 child.vmdk child.vhdx; do
    name=${image#child.}
    parent=base.$name
    [[ $name == vhdx ]] && parent=gone_parent.vhdx
    expect "$name orphan: info describes it" 0 "Differencing: +yes" "$HALVARD" info "$image"
    expect "$name orphan: info names the parent and where it looked" 0 \
        "Parent: +.*$parent.*\(not found; looked for .*$parent" "$HALVARD" info "$image"
    expect "$name orphan: info gives the size" 0 "Virtual disk size: +8388608 bytes" "$HALVARD" info "$image"
    expect "$name orphan: --check calls it damage" 3 "Damage: .*not found" "$HALVARD" info --check "$image"
    expect "$name orphan: --json names the missing parent" 0 "\"missing_parent\"" "$HALVARD" info --json "$image"
    expect "$name orphan: volumes refuses it" 2 "not found.*--parent" "$HALVARD" volumes "$image"
    expect "$name orphan: export refuses it" 2 "not found.*--parent" "$HALVARD" export "$image" "$work/out_$name"
    if [[ -e $work/out_$name ]]; then fail "$name orphan: export left a file"; fi
done
# With the parent back, nothing is missing.
mv away/base.qcow2 .
expect "qcow2 child with its parent: no damage" 0 "no damage found" "$HALVARD" info --check child.qcow2

# A flat image that ends inside a sector.
head -c 61441 /dev/urandom >odd.img
mkdir odd_out
expect "odd-sized flat image exports" 0 "61441 bytes written" "$HALVARD" export odd.img odd_out
if cmp -s odd.img odd_out/odd.img.img; then pass "odd-sized flat image: the copy equals it"; else
    fail "odd-sized flat image: the copy differs ($(stat -c %s odd_out/odd.img.img 2>&1) bytes)"; fi

# A 16 TiB disk onto ext4: the work folder when it is an ext4 that refuses 16 TiB files, else a loop-mounted one.
qemu-img create -q -f qcow2 big.qcow2 16T
target=""
if ! truncate -s 16T probe 2>/dev/null; then target=$work/big_out; mkdir "$target"; fi
rm -f probe
if [[ -z $target && $(id -u) -eq 0 ]] && command -v mke2fs >/dev/null; then
    truncate -s 64M ext4.img && mke2fs -q -F -t ext4 -b 4096 ext4.img && mkdir ext4 &&
        mount -o loop ext4.img ext4 && mounted=$work/ext4 && target=$mounted
fi
if [[ -z $target ]]; then
    echo "SKIP 16 TiB export: no file system here refuses 16 TiB files and none can be mounted"
else
    start=$(date +%s)
    expect "16 TiB export onto ext4: the file system's largest file is named" 2 \
        "cannot hold a file of 17592186044416 bytes.*largest file it allows is 17592186040320 bytes" \
        "$HALVARD" export big.qcow2 "$target"
    if "$HALVARD" export big.qcow2 "$target" 2>&1 | grep -q "Insufficient Disk Space"; then
        fail "16 TiB export onto ext4: told as a lack of space"
    else
        pass "16 TiB export onto ext4: not told as a lack of space"
    fi
    [[ $(( $(date +%s) - start )) -lt 30 ]] && pass "16 TiB export onto ext4: refused at once" ||
        fail "16 TiB export onto ext4: took $(( $(date +%s) - start )) s"
    [[ -z $(ls -A "$target" | grep -v lost+found) ]] && pass "16 TiB export onto ext4: no file left" ||
        fail "16 TiB export onto ext4: left $(ls -A "$target")"
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
