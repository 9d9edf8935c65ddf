#!/usr/bin/env bash
# The --json output of the long commands is one valid array, also when Ctrl-C stops the command part way. Made
# here: an ext2 volume (mke2fs -d) of 3,000 files, one with a name that is not UTF-8, and a raw stretch of 3,000
# small PNG files one per 4 KiB. Checks that
#   - `ls --recursive --json`, `search --json` and `carve --json` print one array holding every entry;
#   - stopped by SIGINT while the reader lags (a 4 KiB pipe read one byte, then drained), each still prints one
#     valid array, holding fewer entries than the whole (so the entries left before the end: streamed), exits 2
#     and says on stderr that it stopped.
#
#   stopped_json_stays_one_array.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" mke2fs python3

python3 - "$TMP" <<'PY'
import os, struct, sys, zlib
tmp = sys.argv[1]
src = os.path.join(tmp, "src")
for folder in range(10):
    os.makedirs(os.path.join(src, f"folder{folder}"))
    for i in range(300):
        with open(os.path.join(src, f"folder{folder}", f"file{i:04}.txt"), "w") as f:
            f.write("x" * i)
with open(os.path.join(os.fsencode(src), b"bad\xffname.txt"), "wb") as f:
    f.write(b"bad")

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0)) +
       chunk(b"IDAT", zlib.compress(b"\x00\x00")) + chunk(b"IEND", b""))
with open(os.path.join(tmp, "pngs.raw"), "wb") as f:
    for i in range(3072):
        f.write(png.ljust(4096, b"\x00"))
PY
EXT=$TMP/names.img
mke2fs -q -t ext2 -N 4096 -d "$TMP/src" "$EXT" 8M >/dev/null
EXT_VOLUME=custom:extX:0:8
PNGS=$TMP/pngs.raw
PNG_VOLUME=custom:RAW:0:12

# Runs the command with stdout on a 4 KiB pipe; with "stop", sends SIGINT once the first byte came out (the
# command is printing, so its handler is in place) and drains the pipe only then. Prints the status, the number
# of array elements (or "invalid"), and whether stderr says the command stopped.
cat >"$TMP/run.py" <<'PY'
import fcntl, json, os, signal, subprocess, sys
stop, err_path, command = sys.argv[1] == "stop", sys.argv[2], sys.argv[3:]
read_end, write_end = os.pipe()
fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, 4096)
with open(err_path, "wb") as err:
    process = subprocess.Popen(command, stdout=write_end, stderr=err)
os.close(write_end)
out = os.read(read_end, 1)
if stop:
    process.send_signal(signal.SIGINT)
while chunk := os.read(read_end, 1 << 16):
    out += chunk
status = process.wait()
try:
    array = json.loads(out)
    count = len(array) if isinstance(array, list) else "invalid"
    names = [e.get("name") for e in array] if isinstance(array, list) else []
except ValueError:
    count, names = "invalid", []
stopped = "stopped" if "stopped" in open(err_path, encoding="utf-8", errors="replace").read() else "-"
print(status, count, stopped, "bad\ufffdname.txt" in names)
PY

whole_and_stopped() {
    local label=$1 least=$2
    shift 2
    read -r status count stopped bad_name < <(python3 "$TMP/run.py" all "$TMP/err" "$HALVARD" "$@")
    if [[ $status == 0 && $count != invalid && $count -ge $least && $stopped == - ]]; then
        pass "$label: one array of $count entries"
    else
        fail "$label: one array of at least $least entries (status $status, $count entries): $(head -c 300 "$TMP/err")"
    fi
    local whole=$count
    [[ $label != carve* ]] && { [[ $bad_name == True ]] && pass "$label: a name that is not UTF-8 reads with U+FFFD" ||
        fail "$label: a name that is not UTF-8 reads with U+FFFD"; }
    read -r status count stopped bad_name < <(python3 "$TMP/run.py" stop "$TMP/err" "$HALVARD" "$@")
    if [[ $status == 2 && $count != invalid && $count -lt $whole && $stopped == stopped ]]; then
        pass "$label stopped by SIGINT: one valid array of $count of $whole entries, exit 2, says it stopped"
    else
        fail "$label stopped by SIGINT: one valid array, fewer entries, exit 2 (status $status, $count of $whole" \
            "entries, stderr: $(head -c 300 "$TMP/err"))"
    fi
}

whole_and_stopped "ls --recursive --json" 3011 ls "$EXT" --volume "$EXT_VOLUME" --recursive --json
whole_and_stopped "search --json" 3001 search "$EXT" --volume "$EXT_VOLUME" '\.txt$' --json
whole_and_stopped "carve --json" 3072 carve "$PNGS" --volume "$PNG_VOLUME" --json

check_end
