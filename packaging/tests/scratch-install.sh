# Sourced by the packaging tests: installs the build tree ($2, with cmake $1) under
# /usr in a fresh DESTDIR, $root, removed when the test ends; fail prints and stops.
set -eu
cmake=$1 build=$2
shift 2
fail() { echo "FAIL: $*" >&2; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root "$cmake" --install "$build" --prefix /usr >/dev/null
