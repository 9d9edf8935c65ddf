#!/usr/bin/env bash
# Checks `halvard search` on the NTFS fixture against its manifest (FIXTURE_DIR/manifest.txt): "TXT|JPG" finds
# exactly the manifest's .txt files, with their "/"-joined paths and sizes, in JSON and in the table; a pattern
# that does not compile is a usage error with the page's message.
#
#   search_matches_manifest.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

if [[ $# -ne 2 ]]; then
    echo "usage: $0 BUILD_DIR FIXTURE_DIR" >&2
    exit 2
fi
halvard=$1/src/cli/halvard
image=$2/ntfs_1m.vhdx
manifest=$2/manifest.txt

json=$("$halvard" search "$image" --volume 0 'TXT|JPG' --json)
python3 - "$manifest" "$json" <<'PY'
import json, sys
manifest = [l.rstrip('\n').split('\t') for l in open(sys.argv[1], encoding='utf-8') if l.strip() and not l.startswith('#')]
want = sorted(('/' + f[7], int(f[2])) for f in manifest if f[0] == 'file' and f[7].lower().endswith('.txt'))
got = sorted((e['path'], e['size']) for e in json.loads(sys.argv[2]) if not e['is_dir'])
if got != want:
    sys.exit(f'search results differ from the manifest:\n  got  {got}\n  want {want}')
PY

table=$("$halvard" search "$image" --volume 0 'README')
[[ $table == *"/readme.txt"* && $(wc -l <<<"$table") -eq 1 ]] || { echo "table: $table" >&2; exit 1; }

status=0
err=$("$halvard" search "$image" --volume 0 '*' 2>&1 >/dev/null) || status=$?
[[ $status -eq 1 && $err == *"such characters are not allowed for search.Try again with different pattern."* ]] || {
    echo "bad pattern: status $status, $err" >&2
    exit 1
}
echo "search matches the manifest"
