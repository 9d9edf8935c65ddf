#!/usr/bin/env bash
# Times the name search over a volume of 100,000 files (bench/search_100k.cpp, built here against the core
# library of BUILD_DIR). Exit status 1 when the best run takes a second or more.
#
#   ninja -C build halvard_core && bench/search_100k.sh build ['PATTERN']
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
pattern=${2:-TXT|JPG}
program=$build/bench-search-100k
c++ -std=c++20 -O2 -DNDEBUG -I"$here/../src" "$here/search_100k.cpp" "$build/src/libhalvard_core.a" -lpthread -o "$program"
"$program" "$pattern"
