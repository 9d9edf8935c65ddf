#!/usr/bin/env bash
# The man page and the program's own help cannot drift apart: every command `halvard --help` lists has its entry in
# halvard(1), and every option any command's help lists is described there.
#
#   man_page_matches_help.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

SCRIPT_ARGS=("$1" unused)
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR SOURCE_DIR"
PAGE=$2/docs/man/halvard.1

commands=$("$HALVARD" --help | awk '/^Subcommands:/ { list = 1; next } list && NF { print $1 }')
[[ -n $commands ]] || fail "halvard --help lists no commands"
for command in $commands; do
    grep -q "^\.BI \"$command " "$PAGE" || fail "halvard(1) has no entry for the command $command"
    undescribed=()
    for option in $("$HALVARD" "$command" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -qF -- "$(sed 's/-/\\-/g' <<<"$option")" "$PAGE" || undescribed+=("$option")
    done
    if ((${#undescribed[@]} == 0)); then
        pass "halvard(1) describes $command and its options"
    else
        fail "halvard(1) does not describe these options of $command: ${undescribed[*]}"
    fi
done

check_end
