#!/usr/bin/env bash
# Names that a host or a terminal cannot take as they are, in a real ext2 volume (mke2fs -d; ext names are raw
# bytes): bytes that are not UTF-8, escape sequences, backslashes, dots, the longest name ext allows. Checks that
#   - `ls --json` prints valid JSON (U+FFFD for the bad bytes) and `ls` prints no control character;
#   - `save` writes every file inside the output folder, under a safe name, and lists each renamed one;
#   - the image is not changed.
# The volume is tiny and made here, in the scratch folder.
#
#   hostile_names_stay_inside.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" mke2fs python3

SRC=$TMP/src
mkdir -p "$SRC/sub"
printf 'a' >"$SRC/$(printf 'bad\xffbyte')"
printf 'b' >"$SRC/$(printf 'esc\x1b[31mred')"
printf 'c' >"$SRC/..\\..\\win.ini"
printf 'd' >"$SRC/..."
printf 'e' >"$SRC/sub/$(printf 'n%.0s' {1..255})"
printf 'f' >"$SRC/$(printf 'tab\there')"
IMAGE=$TMP/names.img
mke2fs -q -t ext2 -d "$SRC" "$IMAGE" 2M
VOLUME=custom:extX:0:2
before=$(fingerprint "$IMAGE")

if "$HALVARD" ls "$IMAGE" --volume "$VOLUME" --recursive --json >"$TMP/ls.json" 2>"$TMP/err" &&
    python3 -c 'import json,sys; names=[e["name"] for e in json.load(open(sys.argv[1]))]; assert "bad\ufffdbyte" in names, names' \
        "$TMP/ls.json"; then
    pass "ls --json prints valid JSON for names that are not UTF-8"
else
    fail "ls --json prints valid JSON for names that are not UTF-8: $(cat "$TMP/err")"
fi
"$HALVARD" ls "$IMAGE" --volume "$VOLUME" --recursive >"$TMP/ls.txt"
if ! LC_ALL=C grep -q $'[\x01-\x09\x0b-\x1f\x7f]' "$TMP/ls.txt" && grep -qF 'esc\x1b[31mred' "$TMP/ls.txt"; then
    pass "ls shows control characters as \\xNN"
else
    fail "ls shows control characters as \\xNN"
fi

OUT=$TMP/out/target
mkdir -p "$OUT"
"$HALVARD" save "$IMAGE" --volume "$VOLUME" --path / --out "$OUT" >"$TMP/save.txt" 2>"$TMP/err" ||
    fail "save exits 0: $(cat "$TMP/err")"
outside=$(find "$TMP/out" -mindepth 1 -maxdepth 1 ! -name target | wc -l)
files=$(find "$OUT" -type f | wc -l)
if ((outside == 0 && files == 6)); then
    pass "save writes all 6 files inside the output folder"
else
    fail "save writes all 6 files inside the output folder ($files inside, $outside beside it)"
fi
if python3 - "$OUT" <<'PY'
import os, sys
out = os.fsencode(sys.argv[1])
expected = [b"bad\xffbyte", b"esc_[31mred", b".._.._win.ini", b"...", b"tab_here", b"sub/" + b"n" * 255]
missing = [n for n in expected if not os.path.isfile(os.path.join(out, n))]
sys.exit(1 if missing else 0)
PY
then
    pass "each file under its safe name"
else
    fail "each file under its safe name"
fi
missing=0
for line in 'esc\x1b[31mred -> ' '..\..\win.ini -> ' 'tab\x09here -> '; do
    grep -qF "saved under another name: $line$OUT/" "$TMP/save.txt" || missing=$((missing + 1))
done
((missing == 0)) && pass "the save lists the renamed files" || fail "the save lists the renamed files: $(cat "$TMP/save.txt")"
[[ $(fingerprint "$IMAGE") == "$before" ]] && pass "image unchanged" || fail "image unchanged"
check_end
