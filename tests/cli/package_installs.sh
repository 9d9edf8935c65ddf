#!/usr/bin/env bash
# Builds the Debian package from a build folder (scripts/package), unpacks it into a scratch root and checks it as
# an installed system would use it: the files where Debian expects them, the installed `halvard` runs and finds the
# signature definitions in /usr/share/halvard, the man pages render without a warning, the desktop entry is valid,
# and the package declares the libraries it needs.
#
#   package_installs.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

SCRIPT_ARGS=("$1" unused)
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR SOURCE_DIR" dpkg-deb man groff
BUILD=$1
SOURCE=$2

if ! deb=$("$SOURCE/scripts/package" "$BUILD" 2>"$TMP/package.err"); then
    fail "scripts/package failed: $(tail -3 "$TMP/package.err" | tr '\n' ';')"
    check_end
    exit 1
fi
pass "scripts/package built $(basename "$deb")"
ROOT=$TMP/root
dpkg-deb -x "$deb" "$ROOT"

gui=$(grep -q '^HALVARD_BUILD_GUI:BOOL=ON' "$BUILD/CMakeCache.txt" && echo yes || echo no)
expected=(usr/bin/halvard usr/share/halvard/FileSetting.txt usr/share/man/man1/halvard.1
          usr/share/bash-completion/completions/halvard)
[[ $gui == yes ]] && expected+=(usr/bin/halvard-gui usr/share/halvard/how-it-works.html
    usr/share/applications/halvard.desktop usr/share/icons/hicolor/scalable/apps/halvard.svg
    usr/share/man/man1/halvard-gui.1)
missing=()
for f in "${expected[@]}"; do [[ -e $ROOT/$f ]] || missing+=("$f"); done
if ((${#missing[@]} == 0)); then
    pass "the package holds the ${#expected[@]} files where Debian expects them"
else
    fail "missing from the package: ${missing[*]}"
fi

version=$("$ROOT/usr/bin/halvard" --version 2>&1 || true)
[[ $version == "halvard "* ]] && pass "the installed halvard runs: $version" || fail "installed halvard --version: $version"

# The installed program has no FileSetting.txt beside it: it must take /usr/share/halvard's.
if "$ROOT/usr/bin/halvard" carve "$SOURCE/samples/sample.vhdx" --volume 0 --json >"$TMP/carve.json" 2>"$TMP/carve.err"; then
    pass "the installed halvard finds its signature definitions in share/halvard"
else
    fail "installed halvard carve: $(head -2 "$TMP/carve.err" | tr '\n' ';')"
fi

for page in "$ROOT"/usr/share/man/man1/*.1; do
    if ! man -l "$page" >/dev/null 2>&1; then
        fail "man -l $(basename "$page") fails"
    elif warnings=$(groff -man -ww -z "$page" 2>&1) && [[ -z $warnings ]]; then
        pass "man -l renders $(basename "$page") without a warning"
    else
        fail "$(basename "$page"): $warnings"
    fi
done

if [[ $gui == yes ]] && command -v desktop-file-validate >/dev/null; then
    if out=$(desktop-file-validate "$ROOT/usr/share/applications/halvard.desktop" 2>&1) && [[ -z $out ]]; then
        pass "the desktop entry is valid"
    else
        fail "desktop entry: $out"
    fi
fi

depends=$(dpkg-deb -f "$deb" Depends)
if [[ $depends == *libc6* && $depends == *zlib1g* && ($gui == no || $depends == *libqt6widgets6*) ]]; then
    pass "the package declares its libraries"
else
    fail "Depends: $depends"
fi

check_end
