#!/usr/bin/env bash
# Runs every command of `halvard` on every fixture image (each volume it lists, in each mode that applies, saving
# and carving into a scratch folder, exporting the whole disk) and checks that no image changed: the same
# content hash and the same modification time afterwards. A flat image whose disk is also in a VHDX gets the
# image-level commands and listings only; its volumes are read in full through the VHDX. The program opens images read-only and must leave them
# exactly as it found them, whatever it reads in them.
#
#   images_stay_unchanged.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" python3 sha256sum

run() { "$HALVARD" "$@" >/dev/null 2>&1 || true; }  # a refusal is fine here; only the image matters

shopt -s nullglob
images=("$FIXTURES"/*.vhdx "$FIXTURES"/*.vhd "$FIXTURES"/*.vdi "$FIXTURES"/*.vmdk "$FIXTURES"/*.raw "$FIXTURES"/*.iso)
((${#images[@]} > 0)) || { fail "fixture images found in $FIXTURES"; check_end; exit; }

for image in "${images[@]}"; do
    name=$(basename "$image")
    before=$(fingerprint "$image")
    run info "$image" --json
    run volumes "$image" --gpt
    run volumes "$image" --advanced --end 200000
    "$HALVARD" volumes "$image" --json 2>/dev/null >"$TMP/volumes.json" || echo "[]" >"$TMP/volumes.json"
    python3 -c 'import json,sys; [print(v["volume"], v["file_system"]) for v in json.load(open(sys.argv[1]))]' \
        "$TMP/volumes.json" >"$TMP/volumes.txt"
    twin=false
    [[ $image == *.raw && -f ${image%.raw}.vhdx ]] && twin=true
    while read -r volume fs; do
        out=$TMP/out/$name/$volume
        run ls "$image" --volume "$volume" --recursive --json
        $twin && continue
        [[ $volume == 0 ]] && run search "$image" --volume "$volume" "."
        run save "$image" --volume "$volume" --path / --out "$out/save"
        [[ $fs == NTFS ]] && run ls "$image" --volume "$volume" --mode deep --recursive
        [[ $fs == FAT* ]] && run ls "$image" --volume "$volume" --formatted --recursive
        run carve "$image" --volume "$volume" --out "$out/carve"
        rm -rf "$out"
    done <"$TMP/volumes.txt"
    run export "$image" "$TMP/disk.img"
    run export "$image" "$image" --force   # the image itself as the target is refused
    rm -f "$TMP/disk.img"
    if [[ $(fingerprint "$image") == "$before" ]]; then
        pass "$name unchanged after every command"
    else
        fail "$name unchanged after every command"
    fi
done
check_end
