# The installed program, on a virtual X display, shows a window with the designed title,
# the WM_CLASS its desktop entry names (StartupWMClass) and its 48 x 48 icon.
# Arguments: cmake, build tree.
. "$(dirname "$0")/scratch-install.sh"

ROOT=$root xvfb-run -a -s '-nolisten tcp -screen 0 800x600x24' sh -eu -c '
  title="MIRVALEN－ZRV画像処理ソフト"
  fail() { echo "FAIL: $*" >&2; kill "$pid" 2>/dev/null; exit 1; }
  QT_QPA_PLATFORM=xcb "$ROOT/usr/bin/zrvimage" &
  pid=$!
  shown() {
    window=$(xwininfo -root -tree | grep -F "\"$title\": (\"zrvimage\" " | awk "{ print \$1 }")
    [ -n "$window" ] && xwininfo -id "$window" | grep -q "Map State: IsViewable"
  }
  # However long start-up takes; a minute before giving up.
  tries=0
  until shown; do
    kill -0 "$pid" 2>/dev/null || fail "zrvimage ended before showing its window"
    tries=$((tries + 1))
    [ "$tries" -lt 600 ] || fail "no window titled $title shown"
    sleep 0.1
  done
  xprop -id "$window" _NET_WM_ICON | grep -q "Icon (48 x 48)" || fail "window $window has no 48 x 48 icon"
  kill "$pid"
'
