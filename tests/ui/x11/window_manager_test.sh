#!/usr/bin/env bash
# The window on a real X server (Xvfb), with a window manager (openbox) and
# without one, driven through X as a user would: the remembered outer
# rectangle survives restarts, the minimum size holds without a window
# manager, the keyboard moves the focus as it should, and a program goes out
# of a disk image and back into it by the keyboard alone. Every wait is for
# a window or a state, with a deadline; none is for a fixed time.
set -uo pipefail
varnook=$1
x_close=$2
convert=$3

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
cp "$varnook" "$work/varnook" # config.ini goes beside it
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb
export ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0 # X and Qt keep their caches to the end
unset WAYLAND_DISPLAY

failures=0
checks=0
check() { # description, then the command that must succeed
  local what=$1; shift
  checks=$((checks + 1))
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# Runs the command until it succeeds; fails after 60 s.
eventually() {
  local deadline=$((SECONDS + 60))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

start_display() {
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  pids+=($!)
  eventually test -s "$work/display" || { echo "Xvfb did not start"; exit 1; }
  export DISPLAY=:$(head -n 1 "$work/display")
}

wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }

start_wm() {
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  pids+=($!)
  eventually wm_running || { echo "openbox did not start:"; cat "$work/openbox.log"; exit 1; }
}

# The window's outer rectangle, "x y width height": the client with the
# frame the window manager says it drew.
outer() {
  local info x y w h left=0 right=0 top=0 bottom=0
  info=$(xwininfo -id "$1") || return 1
  x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  w=$(sed -n 's/.*Width: *//p' <<<"$info")
  h=$(sed -n 's/.*Height: *//p' <<<"$info")
  if extents=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | grep -o '[0-9]*, [0-9]*, [0-9]*, [0-9]*'); then
    IFS=', ' read -r left right top bottom <<<"$extents"
  fi
  echo "$((x - left)) $((y - top)) $((w + left + right)) $((h + top + bottom))"
}
outer_is() { [ "$(outer "$1")" = "$2" ]; }
# Waits until the outer rectangle is the one given; says which it is if not.
outer_becomes() { eventually outer_is "$1" "$2" || { echo "outer rectangle: $(outer "$1"), not $2"; false; }; }
client_at_least() {
  local size
  size=$(xdotool getwindowgeometry "$1" | sed -n 's/.*Geometry: //p')
  [ "${size%x*}" -ge "$2" ] && [ "${size#*x}" -ge "$3" ]
}
maximized() { xprop -id "$1" _NET_WM_STATE | grep -q _NET_WM_STATE_MAXIMIZED_VERT; }
visible() { xdotool search --onlyvisible --name "^$1\$"; }
gone() { ! visible "$1"; }

windows() { [ "$(xdotool search --onlyvisible --name '^Varnook$' | wc -l)" = "$1" ]; }
# Presses the key in the program's active dialog until that dialog has gone
# (a key may come before the dialog takes the keyboard).
answer() {
  local dialog press
  eventually dialog_active || return 1
  dialog=$(xdotool getactivewindow)
  for press in 1 2 3 4 5; do
    xdotool key "$1"
    for _ in $(seq 20); do
      xwininfo -id "$dialog" 2>/dev/null | grep -q IsViewable || return 0
      sleep 0.05
    done
  done
  return 1
}
gone_dialog() { ! dialog_active && [ "$(xdotool getactivewindow)" = "$win" ]; }
# A dialog of the program's (titled Varnook too) is the active window.
dialog_active() {
  local active
  active=$(xdotool getactivewindow) && [ "$active" != "$win" ] && [ "$(xdotool getwindowname "$active")" = Varnook ]
}
app=
win=
start_app() {
  "$work/varnook" 2>>"$work/varnook.log" &
  app=$!
  pids+=($app)
  win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Varnook$' | head -n 1)
  if [ -z "$win" ]; then
    echo "FAILED: the window did not open"
    tail -n 30 "$work/varnook.log"
    exit 1
  fi
}
close_app() { # fails when the program did not end cleanly
  [ -n "$win" ] || { echo "no window to close"; kill "$app"; return 1; }
  "$x_close" "$win"
  wait "$app" || { echo "the program ended with status $?"; tail -n 30 "$work/varnook.log"; return 1; }
}

config() {
  cat >"$work/config.ini" <<INI
[Window]
State=$1
Top=2250
Left=3000
Height=7125
Width=9030

[Option]
ReadHP=True
ReadTXT=False
WriteHP=False
WriteTXT=True
AddLineNum=0
Start=10
Step=10
INI
  cp "$work/config.ini" "$work/expected.ini"
}
unchanged() { cmp -s "$work/config.ini" "$work/expected.ini"; }

# Five start/close cycles in the normal and in the maximized state; in the
# normal state the outer rectangle is the remembered one (150 px from the
# top, 200 from the left, 602 x 475).
restarts() { # where
  local state cycle ok
  for state in 0 2; do
    config "$state"
    ok=true
    for cycle in 1 2 3 4 5; do
      start_app
      if [ "$state" = 0 ]; then
        outer_becomes "$win" "200 150 602 475" || ok=false
      elif wm_running; then
        eventually maximized "$win" || ok=false
      fi
      close_app || ok=false
      unchanged || { diff "$work/expected.ini" "$work/config.ini"; ok=false; }
    done
    check "$1: five restarts in state $state leave config.ini unchanged" $ok
  done
}

# ---- with a window manager
start_display
start_wm
restarts "openbox"

# Restoring a window that opened maximized gives the remembered rectangle.
config 2
start_app
eventually maximized "$win"
wmctrl -ir "$win" -b remove,maximized_vert,maximized_horz
check "openbox: restoring gives the remembered rectangle" outer_becomes "$win" "200 150 602 475"
check "openbox: the program ends cleanly" close_app
check "openbox: ... and it is stored unchanged" eval 'grep -q "^Top=2250$" "$work/config.ini" && grep -q "^Height=7125$" "$work/config.ini"'

# The keyboard. Eight Tabs from Ver.Info: Read File, the read group (one stop),
# Write File, the write group, the code page, Disks..., the document area, and back to Ver.Info,
# whose Space opens the About window.
config 0
start_app
outer_becomes "$win" "200 150 602 475"
xdotool key Tab Tab Tab Tab Tab Tab Tab Tab space
check "openbox: Tab goes round every stop, out of the document area too" eventually visible "Version Information"
about=$(visible "Version Information")
timeout 5 xdotool windowminimize --sync "$about"
viewable() { xwininfo -id "$1" | grep -q IsViewable; }
check "openbox: minimizing the About window hides neither it nor the program" \
  eventually eval 'viewable "$about" && viewable "$win"'
xdotool key Escape
eventually gone "Version Information"

# After Read File, the focus is back on Read File: Space opens the dialog
# again (not the About window).
printf '\x88\x84\x00\x01\x00\x00\x01\x00\x00\x00\x00\x00\x04' >"$work/PROG.asc"
head -c 243 /dev/zero >>"$work/PROG.asc"
printf '\x00\x07\x31\x30\x20\x42\x45\x45\x50\x00\x00\x06\x32\x30\x20\x45\x4e\x44\x00\xff\xff' >>"$work/PROG.asc"
xdotool key Tab space
eventually visible "Open"
xdotool type --delay 20 "$work/PROG.asc"
xdotool key Return
eventually gone "Open"
eventually grep -q "^Dir=$work/PROG.asc$" "$work/config.ini"
focus_back=false
for _ in 1 2 3 4 5 6 7 8 9 10; do # the window may still be busy for the first presses
  xdotool key space
  if timeout 2 xdotool search --sync --onlyvisible --name '^Open$' >/dev/null 2>&1; then focus_back=true; break; fi
  if visible "Version Information" >/dev/null; then break; fi
done
check "openbox: the focus returns to Read File after the command" $focus_back
xdotool key Escape
eventually gone "Open"
close_app

# A file named on the command line (a double-click in a file manager) is
# read at once, as a dropped file is, and remembered; a text file with the
# read option HP BASIC ASCII asks first, and Return reads it as text.
printf '10 PRINT\r\n' >"$work/OTHER.txt"
"$work/varnook" "$work/OTHER.txt" 2>>"$work/varnook.log" &
app=$!
pids+=($app)
check "openbox: a file named on the command line is read" \
  eventually grep -q "^Dir=$work/OTHER.txt$" "$work/config.ini"
win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Varnook$' | sort -n | head -n 1)
answer Return
check "openbox: ... as text, once the user agrees" eventually visible "OTHER.txt - Varnook"
close_app

# A disk image named on the command line shows its disk view, whose list
# has the focus: Return reads the first program. Then, by the keyboard: Write
# File as TXT gives the program back; with the write option HP BASIC ASCII,
# saving onto the image asks no question about replacing it, but for the
# program's name in the volume, and adds the program to the image.
"$convert" --new-volume "$work/disk.lif"
"$convert" --to lif --volume "$work/disk.lif" --from hp --name PROG "$work/PROG.asc"
config 0
"$work/varnook" "$work/disk.lif" 2>>"$work/varnook.log" &
app=$!
pids+=($app)
win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Varnook$' | head -n 1)
check "openbox: the disk image's view opens with the focus" \
  eventually sh -c "[ \"\$(xdotool getactivewindow getwindowname)\" = 'disk.lif - Disk - Varnook' ]"
xdotool key Return
check "openbox: ... and Return reads the program chosen" eventually visible "PROG in disk.lif - Varnook"
xdotool key Tab Tab Tab space # Ver.Info, Read File, the read group, Write File
eventually visible "Save As"
xdotool type --delay 20 "$work/back.txt"
xdotool key Return
check "openbox: the program read from the image is written back byte for byte" \
  eventually cmp -s "$work/back.txt" <(printf '10 BEEP\r\n20 END\r\n')
xdotool key Tab Up shift+Tab space # from Write File: the write group, HP BASIC ASCII, back to Write File
eventually visible "Save As"
xdotool type --delay 20 "$work/disk.lif"
xdotool key Return
eventually gone "Save As"
check "openbox: saving onto the image asks for the program's name, not about replacing" eventually dialog_active
xdotool key ctrl+a
xdotool type --delay 20 COPY
xdotool key Return
check "openbox: ... and adds the program under that name" \
  eventually sh -c "'$convert' --list '$work/disk.lif' | grep -q '^COPY '"
check "openbox: ... and the program in it is the one read" \
  eventually cmp -s <("$convert" --to hp --volume "$work/disk.lif" COPY) "$work/PROG.asc"
close_app

# A whole disk session by the keyboard alone: the disk view (Ctrl+D), a new
# image, two programs in, one renamed, the other purged, the volume packed,
# the program extracted; the image is then what the command line makes of it.
config 0
start_app
mkdir -p "$work/out"
active_is() { [ "$(xdotool getactivewindow getwindowname)" = "$1" ]; }
keys_into() { # the window title, then the keys for it once it is active
  local title=$1; shift
  eventually active_is "$title" || { echo "not active: $title ($(xdotool getactivewindow getwindowname))"; return 1; }
  xdotool "$@"
}
xdotool key ctrl+d
check "openbox: Ctrl+D opens the disk view" eventually active_is "Disk Images - Varnook"
xdotool key ctrl+n
keys_into "New Disk Image - Varnook" key Tab type --delay 20 WORK
xdotool key Return
keys_into "New disk image" type --delay 20 "$work/new.lif"
xdotool key Return
check "openbox: a new image is made and shown" eventually active_is "new.lif - Disk - Varnook"
for program in PROG.asc OTHER.txt; do
  xdotool key ctrl+i
  keys_into "Insert into the disk image" type --delay 20 "$work/$program"
  xdotool key Return
  eventually sh -c "'$convert' list '$work/new.lif' | grep -q '^${program%.*} '"
done
keys_into "new.lif - Disk - Varnook" key F2
keys_into Varnook type --delay 20 SWEEP
xdotool key Return
eventually sh -c "'$convert' list '$work/new.lif' | grep -q '^SWEEP '"
keys_into "new.lif - Disk - Varnook" key Down Delete
keys_into Varnook key alt+y
keys_into "new.lif - Disk - Varnook" key ctrl+p ctrl+e
keys_into "Extract as LIF files into" type --delay 20 "$work/out"
xdotool key Return
check "openbox: the session leaves the command line's image: one program, renamed, packed" \
  eventually sh -c "'$convert' list '$work/new.lif' | awk '{print \$1, \$2, \$3}' | tr '\n' ' ' | grep -qx 'SWEEP ASCII 1 Volume WORK: 1 ' && '$convert' check '$work/new.lif' >/dev/null"
check "openbox: ... and the program extracted is the command line's" \
  eventually cmp -s "$work/out/SWEEP" <("$convert" extract "$work/new.lif" SWEEP)
xdotool key Escape
check "openbox: Escape closes the disk view" eventually active_is Varnook
close_app

# The window tells the truth. The program runs as an ordinary user here, so
# that a write-protected file is one even when the test runs as root.
config 0
printf 'old' >"$work/ro.txt"
chmod 444 "$work/ro.txt"
printf '10 PRINT\r\n' >"$work/plain.txt"
as_user=()
if [ "$(id -u)" = 0 ]; then
  chown -R 65534:65534 "$work"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
"${as_user[@]}" "$work/varnook" "$work/missing.asc" 2>>"$work/varnook.log" &
app=$!
pids+=($app)
win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Varnook$' | sort -n | head -n 1)
check "openbox: a file that cannot be read is said in a message box" eventually dialog_active
check "openbox: ... which Return closes, leaving the window usable (Ctrl+O opens the dialog)" \
  eval 'answer Return && eventually gone_dialog && xdotool key ctrl+o && eventually visible Open'
xdotool key Escape
eventually gone "Open"
xdotool key Tab Tab Tab Tab Tab Tab Tab # from Ver.Info to the document area
xdotool type --delay 20 "10 END"
xdotool key ctrl+s
eventually visible "Save As"
xdotool type --delay 20 "$work/ro.txt"
xdotool key Return
answer y # replace the file
check "openbox: writing a write-protected file is said in a message box" eventually dialog_active
check "openbox: ... and the file is as it was" eval 'answer Return && eventually gone_dialog && [ "$(cat "$work/ro.txt")" = old ]'
"$x_close" "$win"
check "openbox: closing with unwritten edits asks first" eventually dialog_active
check "openbox: ... and Cancel keeps the window and its edits" eval 'answer Escape && eventually gone_dialog && kill -0 $app'
xdotool key ctrl+o
check "openbox: Read File with unwritten edits asks first" answer Return # Write
eventually visible "Save As"
xdotool type --delay 20 "$work/edit.txt"
xdotool key Return
check "openbox: ... Write writes the edits" eventually cmp -s "$work/edit.txt" <(printf '10 END')
check "openbox: ... then the read goes on" eventually visible Open
xdotool type --delay 20 "$work/plain.txt"
xdotool key Return
check "openbox: a text file read as HP BASIC ASCII asks first" answer Return # Yes
check "openbox: ... and Yes reads it as text" eventually visible "plain.txt - Varnook"
check "openbox: nothing unwritten: closing asks nothing" close_app

# ---- without a window manager
start_display
restarts "no window manager"
config 0
start_app
outer_becomes "$win" "200 150 602 475"
xdotool windowsize "$win" 300 200
check "no window manager: the minimum size holds" eventually client_at_least "$win" 529 391
close_app

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
