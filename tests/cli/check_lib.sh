# Shared by the command-line check scripts (sourced, not run).
#
#   check_setup USAGE_ARGS TOOL... sets HALVARD (from the script's BUILD_DIR argument), FIXTURES, TMP
#                                  (removed on exit); exits 2 on a usage error or a missing tool
#   pass TEXT / fail TEXT          one PASS or FAIL line, counted
#   check_end                      prints the counts; the script's status is 1 when anything failed
#   fingerprint FILE               content hash and modification time (nanoseconds)
#   export_equals NAME IMAGE OUT REF   `halvard export IMAGE OUT` must succeed and write exactly REF
#   run_checks ARGS...             runs the Python check on stdin with ARGS, check_lib.py importable; its
#                                  status is the script's when it comes last

check_setup() {
    local usage=$1
    shift
    if [[ ${#SCRIPT_ARGS[@]} -ne 2 ]]; then
        echo "usage: $(basename "$0") $usage" >&2
        exit 2
    fi
    HALVARD=${SCRIPT_ARGS[0]}/src/cli/halvard
    FIXTURES=${SCRIPT_ARGS[1]}
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
    done
    [[ -x $HALVARD ]] || { echo "no halvard binary at $HALVARD" >&2; exit 2; }
    TMP=$(mktemp -d "/tmp/halvard-$(basename "$0" .sh).XXXXXX")
    trap 'rm -rf "$TMP"' EXIT
    passed=0
    failed=0
}

pass() { echo "PASS $*"; passed=$((passed + 1)); }
fail() { echo "FAIL $*"; failed=$((failed + 1)); }

check_end() {
    echo "$passed passed, $failed failed"
    [[ $failed -eq 0 ]]
}

fingerprint() { echo "$(sha256sum <"$1" | cut -d' ' -f1) $(stat -c %.9Y "$1")"; }

export_equals() {
    local name=$1 image=$2 out=$3 ref=$4
    if "$HALVARD" export "$image" "$out" >"$TMP/export.log" 2>&1; then
        if cmp -s "$out" "$ref"; then
            pass "$name: export equals qemu-img convert ($(stat -c %s "$ref") bytes)"
        else
            fail "$name: export differs from qemu-img convert: $(cmp "$out" "$ref" 2>&1 | head -1)"
        fi
    else
        fail "$name: export exited with $? ($(head -1 "$TMP/export.log"))"
    fi
}

CHECK_LIB_DIR=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
# Not exec: the EXIT trap still removes the script's temporary folder. No bytecode in the source tree.
run_checks() { PYTHONPATH=$CHECK_LIB_DIR PYTHONDONTWRITEBYTECODE=1 python3 - "$@"; }
