# `cpack` builds the .deb; it holds exactly the expected files and its Depends, computed
# by dpkg-shlibdeps, name the Qt 6 Widgets runtime.
# Arguments: cpack, build tree, the expected files as dpkg-deb -c lists them.
set -eu
cpack=$1 build=$2
shift 2
fail() { echo "FAIL: $*" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; fail "cpack"; }
expected=$(printf '%s\n' "$@" | sort)
deb=$(echo "$out"/zrvimage_*.deb)
[ -f "$deb" ] || fail "no zrvimage_*.deb in $(ls "$out")"

actual=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | sort)
[ "$actual" = "$expected" ] || fail "files in the package:
$actual
expected:
$expected"
# Every directory in the package is a parent of one of those files.
for dir in $(dpkg-deb -c "$deb" | awk '{ print $6 }' | grep '/$'); do
  parent=no
  for file in "$@"; do
    case $file in "$dir"*) parent=yes ;; esac
  done
  [ "$parent" = yes ] || fail "stray directory $dir"
done

[ "$(dpkg-deb -f "$deb" Package)" = zrvimage ] || fail "package name"
dpkg-deb -f "$deb" Depends | grep -Eq '(^|, )libqt6widgets6( |,|$)' ||
  fail "Depends without libqt6widgets6: $(dpkg-deb -f "$deb" Depends)"
