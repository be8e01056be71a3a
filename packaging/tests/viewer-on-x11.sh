# The installed viewer, on a virtual X display, shows a window titled ZRV画像ビューア with
# the WM_CLASS its desktop entry names (StartupWMClass) and its 48 x 48 icon.
# Arguments: cmake, build tree.
. "$(dirname "$0")/scratch-install.sh"

ROOT=$root xvfb-run -a -s '-nolisten tcp -screen 0 1280x1024x24' sh -eu -c '
  title="ZRV画像ビューア"
  fail() { echo "FAIL: $*" >&2; kill "$pid" 2>/dev/null; exit 1; }
  QT_QPA_PLATFORM=xcb "$ROOT/usr/bin/zrvimage-view" &
  pid=$!
  shown() {
    window=$(xwininfo -root -tree | grep -F "\"$title\": (\"zrvimage-view\" " | awk "{ print \$1 }")
    [ -n "$window" ] && xwininfo -id "$window" | grep -q "Map State: IsViewable"
  }
  # However long start-up takes; a minute before giving up.
  tries=0
  until shown; do
    kill -0 "$pid" 2>/dev/null || fail "zrvimage-view ended before showing its window"
    tries=$((tries + 1))
    [ "$tries" -lt 600 ] || fail "no window titled $title shown"
    sleep 0.1
  done
  xprop -id "$window" _NET_WM_ICON | grep -q "Icon (48 x 48)" || fail "window $window has no 48 x 48 icon"
  kill "$pid"
'
