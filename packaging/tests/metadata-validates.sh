# The installed desktop entry and AppStream file pass the checks distributions run.
# Arguments: cmake, build tree, application id.
. "$(dirname "$0")/scratch-install.sh"
id=$1

desktop=$root/usr/share/applications/$id.desktop
report=$(desktop-file-validate "$desktop") || fail "desktop-file-validate: $report"
# Hints (two main categories, Graphics and Science, are intended) pass; nothing worse.
if printf '%s\n' "$report" | grep -E ': (error|warning):'; then fail "desktop-file-validate complains"; fi

# The icon the entry names is in the hicolor theme: 48 x 48 PNG and scalable SVG.
icon=$(sed -n 's/^Icon=//p' "$desktop")
hicolor=$root/usr/share/icons/hicolor
[ "$(od -An -tu1 -j12 -N12 "$hicolor/48x48/apps/$icon.png" | tr -s ' ')" = " 73 72 68 82 0 0 0 48 0 0 0 48" ] ||
  fail "no 48 x 48 PNG icon $icon"
grep -q '<svg ' "$hicolor/scalable/apps/$icon.svg" || fail "no scalable icon $icon"

appstreamcli validate --no-net --strict "$root/usr/share/metainfo/$id.metainfo.xml"
# The tree as a whole: the desktop entry the metainfo launches is installed beside it.
appstreamcli validate-tree --no-net --strict "$root/usr"
