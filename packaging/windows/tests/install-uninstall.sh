#!/usr/bin/env bash
# Installs the Windows installer silently under wine, in a fresh prefix of its own;
# checks that the programs, the licence texts, the Start-menu entry and the uninstall
# entry are there; uninstalls silently and checks that they are gone and the drive holds
# what it held before.
# Usage: install-uninstall.sh INSTALLER CAPTION PREFIX PROGRAMS-FOLDER "zrvimage;zrvimage-batch"
set -euo pipefail
installer=$1 caption=$2 prefix=$3 built=$4 programs=$5

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
fail() { echo "install-uninstall: $*" >&2; wineserver -k >/dev/null 2>&1 || true; exit 1; }
if [ ! -f "$installer" ]; then echo "install-uninstall: $installer is not built; skipped" >&2; exit 77; fi

rm -rf "$prefix"
mkdir -p "$prefix"
wineboot -i </dev/null >/dev/null 2>&1 || true
wineserver -w
drive=$prefix/drive_c
# Everything on the drive but wine's own folder. The uninstaller runs from a copy in
# an empty folder of the temporary one, which Windows takes away at the next start
# (NSIS's way): that folder alone may stay, empty.
listing() { (cd "$drive" && find . -path ./windows -prune -o ! -path '*/Temp/~nsu*.tmp' -print | sort); }
before=$(listing)

folder="$drive/Program Files/zrvimage"
entry="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/$caption.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\zrvimage'

wine "$installer" /S </dev/null >/dev/null 2>&1 || fail "the installer failed"
wineserver -w
IFS=';' read -r -a names <<<"$programs"
for name in "${names[@]}"; do
  cmp -s "$built/$name.exe" "$folder/$name.exe" || fail "$name.exe not installed as built"
done
[ -n "$(ls "$folder/licences/"*.txt 2>/dev/null)" ] || fail "no licence texts installed"
[ -f "$folder/uninstall.exe" ] || fail "no uninstaller"
[ -f "$entry" ] || fail "no Start-menu entry named $caption"
# Exported as a .reg file, UTF-16: the console would show the name in its code page.
wine reg export "$key" 'C:\zrv-entry.reg' </dev/null >/dev/null 2>&1 || fail "no uninstall entry"
shown=$(iconv -f UTF-16 -t UTF-8 "$drive/zrv-entry.reg" | tr -d '\r' | grep '^"DisplayName"=' || true)
rm -f "$drive/zrv-entry.reg"
[ "$shown" = "\"DisplayName\"=\"$caption\"" ] || fail "the uninstall entry is named otherwise: $shown"

wine "C:\\Program Files\\zrvimage\\uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the uninstaller failed"
# The uninstaller runs a copy of itself from the temporary folder; wait for it.
wineserver -w
[ ! -e "$folder" ] || fail "left behind: $(cd "$drive" && find "Program Files/zrvimage")"
[ ! -e "$entry" ] || fail "the Start-menu entry is left"
if wine reg query "$key" >/dev/null 2>&1; then fail "the uninstall entry is left"; fi
if wine reg query 'HKLM\Software\zrvimage' >/dev/null 2>&1; then fail "the install folder's key is left"; fi
after=$(listing)
[ "$before" = "$after" ] || fail "the drive differs after uninstalling: $(diff <(echo "$before") <(echo "$after") | head -20)"
wineserver -k >/dev/null 2>&1 || true
echo "install-uninstall: installed ${programs//;/, } and the Start-menu entry; uninstalled, nothing left"
