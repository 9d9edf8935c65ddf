#!/usr/bin/env bash
# Checks the JPEG format check of `halvard carve` against djpeg, on the photos of
# tests/fixtures/make_jpeg_fixtures.sh (FIXTURE_DIR/jpeg_disk.raw and jpeg_manifest.json):
#
#   carve_validates_as_djpeg.sh BUILD_DIR FIXTURE_DIR
#
# Every photo djpeg decodes without a warning (sequential and progressive, subsampled, restarted, odd sizes) is
# carved at its exact length and validated; every photo spliced from pieces of two (djpeg: "Corrupt JPEG data")
# is carved but not validated.
set -euo pipefail
SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" python3
[[ -f $FIXTURES/jpeg_manifest.json ]] || {
    echo "no jpeg_manifest.json in $FIXTURES (run tests/fixtures/make_jpeg_fixtures.sh $FIXTURES)" >&2
    exit 2
}

run_checks "$HALVARD" "$FIXTURES" "$TMP" <<'PY'
import json, os, subprocess, sys
from check_lib import check, end

halvard, fixtures, tmp = sys.argv[1:4]
manifest = json.load(open(os.path.join(fixtures, "jpeg_manifest.json")))
disk = os.path.join(fixtures, "jpeg_disk.raw")
r = subprocess.run([halvard, "carve", disk, "--volume", "custom:RAW:0:%d" % (os.path.getsize(disk) >> 20), "--json"],
                   capture_output=True, text=True, timeout=300)
check(r.returncode == 0, "carve exits 0", r.stderr)
found = {c["offset"]: c for c in (json.loads(r.stdout) if r.returncode == 0 else [])}
for p in manifest["photos"]:
    c = found.get(p["offset"])
    if p["djpeg"] == "whole":
        check(c is not None and c["validated"] == "yes" and c["length"] == p["size"],
              "%s: carved whole and validated" % p["name"], c)
    else:
        check(c is not None and c["validated"] != "yes", "%s (djpeg: corrupt): carved, not validated" % p["name"], c)
end()
PY
