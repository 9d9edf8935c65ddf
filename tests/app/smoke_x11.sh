#!/usr/bin/env bash
# The desktop program on a real X display, as a user drives it: halvard-gui runs under Xvfb with a window manager,
# keyboard and mouse come from xdotool. The image path is typed into the image page, Next leads through the
# parsing-modes page, the volume list (first volume), the recovery mode page (Standard) to the browser, whose ROOT
# is saved into a folder; Escape answered Yes closes the program. Checked: every live file of the manifest saved
# with its content, the process gone, the single-instance lock gone.
#
#   smoke_x11.sh GUI_BINARY IMAGE MANIFEST [SCREENSHOT_DIR]
#
# With SCREENSHOT_DIR, each page is grabbed into it (image.png, modes.png, volumes.png, recovery.png, browser.png).
# Exit 77 (skipped) when Xvfb, openbox, xdotool, xwd, xprop or xwininfo is missing (scripts/setup installs them).
set -euo pipefail

if [[ $# -lt 3 ]]; then
    echo "usage: $0 GUI_BINARY IMAGE MANIFEST [SCREENSHOT_DIR]" >&2
    exit 2
fi
gui=$1
image=$2
manifest=$3
shots=${4:-}
for tool in Xvfb openbox xdotool xwd xprop xwininfo; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool (scripts/setup installs it)"; exit 77; }
done
[[ -n $shots ]] && { command -v xwdtopnm >/dev/null || { echo "missing tool: xwdtopnm (netpbm)"; exit 2; }; }
[[ -x $gui ]] || { echo "no program at $gui" >&2; exit 2; }
[[ -f $image && -f $manifest ]] || { echo "missing fixture $image or $manifest" >&2; exit 2; }

work=$(mktemp -d)
xvfb_pid="" wm_pid="" app_pid=""
cleanup() {
    for pid in $app_pid $wm_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL $*"
    [[ -n $shots && -n $(active) ]] && shot failed
    [[ -f $work/gui.log ]] && sed 's/^/  program: /' "$work/gui.log" | tail -20
    exit 1
}

# A display of its own, a window manager on it, and the program's runtime folder (its lock) in the work folder.
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(tr -d '\n' <"$work/display")
openbox >"$work/wm.log" 2>&1 &
wm_pid=$!
# The window manager is ready once it announces itself on the root window.
for _ in $(seq 600); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep 'window id' >/dev/null && break; sleep 0.1; done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep 'window id' >/dev/null || fail "the window manager did not start"
mkdir -m 700 "$work/run" "$work/home"
export XDG_RUNTIME_DIR=$work/run HOME=$work/home QT_QPA_PLATFORM=xcb
unset QT_QPA_PLATFORMTHEME

title="Halvard Disk Recovery"
settle() { sleep "${1:-0.8}"; }
active() { xdotool getactivewindow 2>/dev/null || true; }
active_name() { xdotool getactivewindow getwindowname 2>/dev/null || true; }
shot() {
    [[ -z $shots ]] && return 0
    mkdir -p "$shots"
    xwd -silent -id "$(active)" | xwdtopnm 2>/dev/null | pnmtopng >"$shots/$1.png"
}
# Waits until the focused window has the title given (a page, a message box, the folder chooser).
wait_for() {
    for _ in $(seq 400); do
        [[ $(active_name) == "$1" ]] && return 0
        kill -0 "$app_pid" 2>/dev/null || fail "the program ended while waiting for '$1'"
        sleep 0.1
    done
    fail "no window '$1' (the focused one is '$(active_name)')"
}
# The focused window's height: a message box is short, a page is not.
active_height() {
    local id
    id=$(active)
    [[ -n $id ]] || { echo 0; return; }
    xwininfo -id "$id" 2>/dev/null | sed -n 's/^ *Height: *//p'
}
is_box() { local h; h=$(active_height); [[ -n $h && $h -gt 0 && $h -lt 300 ]]; }
# Waits for a message box over the page and answers it with Enter (OK, or Yes, the default).
answer_box() {
    for _ in $(seq 400); do
        is_box && break
        kill -0 "$app_pid" 2>/dev/null || fail "the program ended while waiting for a message box"
        sleep 0.1
    done
    is_box || fail "no message box came (the focused window is '$(active_name)')"
    settle 0.4
    key Return
    for _ in $(seq 100); do is_box || break; sleep 0.1; done
}
# The pages keep Back, Next or Save at the right end of their button row; the rightmost is the one wanted.
click_rightmost() {
    # xwininfo's absolute position (xdotool's counts the frame's offset twice under some window managers).
    local info x y w h
    info=$(xwininfo -id "$(active)")
    x=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$info")
    y=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$info")
    w=$(sed -n 's/^ *Width: *//p' <<<"$info")
    h=$(sed -n 's/^ *Height: *//p' <<<"$info")
    xdotool mousemove $((x + w - 18 - 40)) $((y + h - 14 - 14)) click 1
}
key() { xdotool key --clearmodifiers "$@"; }

"$gui" >"$work/gui.log" 2>&1 &
app_pid=$!

# Image page: the focus is in the path box; the typed path is read on Enter.
wait_for "$title"
settle
xdotool type --delay 5 "$image"
key Return
settle
shot image
click_rightmost

# Parsing-modes page: the standard scan is chosen.
settle
wait_for "$title"
shot modes
click_rightmost

# Volume list: the first volume. Space selects the current row too, where the list has one row only (Down and Up
# then leave the current row where it was, unselected).
settle 1.5
wait_for "$title"
key Down Up space
settle 0.3
shot volumes
click_rightmost

# Recovery mode page: Standard.
settle
wait_for "$title"
shot recovery
click_rightmost

# Browser: the parse ends with its message box ("Scanning process completed."); then ROOT is saved.
answer_box
settle
key Down Home  # ROOT
settle 0.3
shot browser
out=$work/saved
mkdir "$out"
click_rightmost
wait_for "Please choose a folder."
settle 0.5
key ctrl+a
xdotool type --delay 5 "$out"
key Return
settle
[[ $(active_name) == "Please choose a folder." ]] && { key Return; settle; }
answer_box  # "number of files found inside this folder = N .do u want to continue dumping these files..?"
answer_box  # "Saving process done."
settle

# The saved files against the manifest: every live file, content included.
checked=0
while IFS=$'\t' read -r kind state size digest _attrs _created _modified path; do
    [[ $kind == file && $state == live ]] || continue
    [[ -f $out/$path ]] || fail "not saved: $path"
    [[ $(sha256sum <"$out/$path" | cut -d' ' -f1) == "$digest" ]] || fail "content differs: $path"
    checked=$((checked + 1))
done < <(grep -v '^#' "$manifest")
((checked > 0)) || fail "no files in the manifest"
echo "PASS $checked saved files match the manifest"

# Escape answered Yes ends the program; a box about the home page (no web browser here) is answered too.
key Escape
answer_box  # "Do you want to Close Application ?"
for _ in $(seq 100); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.3
    kill -0 "$app_pid" 2>/dev/null || break
    is_box && key Return  # a box about the home page, where no web browser is installed
done
if kill -0 "$app_pid" 2>/dev/null; then fail "the program is still running after it was closed"; fi
wait "$app_pid" || fail "the program ended with an error: $(cat "$work/gui.log")"
app_pid=""
echo "PASS the program ended when closed"
if compgen -G "$work/run/*.lock" >/dev/null; then fail "a lock file is left: $(ls "$work/run")"; fi
echo "PASS no lock left behind"
