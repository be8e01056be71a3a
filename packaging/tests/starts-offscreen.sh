# The installed program starts on Qt's offscreen platform and stays in its event loop:
# still running when `timeout` stops it (status 124), not ended by a missing library,
# plugin or resource. Arguments: cmake, build tree.
. "$(dirname "$0")/scratch-install.sh"

status=0
QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/zrvimage" || status=$?
[ "$status" -eq 124 ] || fail "the installed zrvimage ended with status $status"
