#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows installer under Wine, as a user (or an administrator's script) runs it: silently
# (/S) into Program Files; what it put there and in the Start menu; the installed demo's
# --version and its walk with what was installed (the string table beside it, the language
# kept under %APPDATA%, read from a default beside the program until the user has their own);
# then the uninstaller, silently, leaving the folder gone.
#   tests/windows/installer_under_wine.sh SETUP_EXE
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
setup="$(realpath "$1")"
. "$here/wine_checks.sh"

"$wine_run" "$setup" /S
dir="$("$wine_run" winepath -u 'C:\Program Files\ZeltoSoft')"
dir="${dir%/}"
missing=""
for f in zeltosoft.exe zeltosoft-demo.exe zeltoctl.exe StringTable.txt README-Windows.txt \
         LICENSE.txt licenses/Qt.txt licenses/LGPL-3.txt licenses/gcc-runtime.txt \
         Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll \
         styles/qwindowsvistastyle.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
         Uninstall.exe; do
  [ -f "$dir/$f" ] || missing="$missing $f"
done
check "installed into Program Files, everything there${missing:+ (missing:$missing)}" \
  eval '[ -z "$missing" ]'
check "no vendor driver in the installer" \
  eval '[ -z "$(find "$dir" -iname "ftd2xx*")" ] && [ ! -e "$dir/Qt6Test.dll" ]'
menu="$(find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/ZeltoSoft' -type d | head -n 1)"
check "Start-menu entries for both programs and the uninstaller" \
  eval '[ -n "$menu" ] && [ -f "$menu/ZeltoSoft.lnk" ] &&
        [ -f "$menu/ZeltoSoft demo (simulated sensor).lnk" ] && [ -f "$menu/Uninstall.lnk" ]'

version="$("$wine_run" "$dir/zeltosoft-demo.exe" --version | tr -d '\r')"
echo "   $version"
check "the installed zeltosoft-demo.exe --version" eval '[[ "$version" =~ ^zeltosoft-demo\ [0-9]+\.[0-9]+\.[0-9]+ ]]'

# An administrator's default beside the program: English. The user has no file yet.
own="$appdata/zeltosoft/ZeltoSoft.prm"
rm -f "$own"
printf '"File configurazione ZeltoSoft"\r\n1\r\n' >"$dir/ZeltoSoft.prm"
walk "$dir/zeltosoft-demo.exe" "$work/walk-installed"
check "walk from the install folder: six screenshots, the serial in the radar window" \
  walk_ok "$work/walk-installed"
check "installed: the default beside the program read (English), the user's own written under %APPDATA%" \
  eval 'grep -qx "&Language" "$work/walk-installed/2-main.txt" && grep -q "^1" "$own"'
# The default goes; the user's file keeps the language at the next start.
rm -f "$dir/ZeltoSoft.prm"
walk "$dir/zeltosoft-demo.exe" "$work/walk-again"
check "the language kept across starts, from %APPDATA%" \
  eval 'walk_ok "$work/walk-again" && grep -qx "&Language" "$work/walk-again/2-main.txt" &&
        [ ! -e "$dir/ZeltoSoft.prm" ]'

# The uninstaller copies itself away and returns at once; the folder goes when it is done.
"$wine_run" "$dir/Uninstall.exe" /S
for _ in $(seq 120); do [ -e "$dir" ] || break; sleep 0.5; done
check "the uninstaller, silently: the install folder gone" eval '[ ! -e "$dir" ]'
check "the uninstaller: the Start-menu entries gone" eval '[ ! -e "$menu" ]'

echo "$failures failed"
[ "$failures" = 0 ]
