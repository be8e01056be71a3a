# An installed program, on a virtual X display, shows a window with its title, the
# WM_CLASS its desktop entry names (StartupWMClass) and its 48 x 48 icon.
# Arguments: cmake, build tree, program, window title.
. "$(dirname "$0")/scratch-install.sh"
[ $# -eq 2 ] || fail "usage: cmake build program title"

# xvfb-run -a now and then hands out a display whose server does not take the
# program's connection (seen right after another test's server went away): only that
# failure is tried again, on a new server, up to three times.
log=$(mktemp)
trap 'rm -rf "$root" "$log"' EXIT
for attempt in 1 2 3; do
if ROOT=$root PROGRAM=$1 TITLE=$2 xvfb-run -a -s '-nolisten tcp -screen 0 1280x1024x24' sh -eu -c '
  fail() { echo "FAIL: $*" >&2; kill "$pid" 2>/dev/null; exit 1; }
  QT_QPA_PLATFORM=xcb "$ROOT/usr/bin/$PROGRAM" &
  pid=$!
  shown() {
    window=$(xwininfo -root -tree | grep -F "\"$TITLE\": (\"$PROGRAM\" " | awk "{ print \$1 }")
    [ -n "$window" ] && xwininfo -id "$window" | grep -q "Map State: IsViewable"
  }
  # However long start-up takes; a minute before giving up.
  tries=0
  until shown; do
    kill -0 "$pid" 2>/dev/null || fail "$PROGRAM ended before showing its window"
    tries=$((tries + 1))
    [ "$tries" -lt 600 ] || fail "no window titled $TITLE shown"
    sleep 0.1
  done
  xprop -id "$window" _NET_WM_ICON | grep -q "Icon (48 x 48)" || fail "window $window has no 48 x 48 icon"
  kill "$pid"
' 2>"$log"; then
  exit 0
fi
cat "$log" >&2
grep -q "could not connect to display" "$log" || exit 1
echo "the display refused the connection; again on another" >&2
done
exit 1
