#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the .deb, installs it on this machine and uses the installed program the way a new
# user would: as an ordinary user with a home folder, with no adapter, on a virtual X server.
# The user switches the language to English through the menu (keyboard, as xdotool types it),
# exits, and at the next start the program must come up in English, with the choice kept in
# the user's config folder and nothing written into the package's folders. The package is
# purged again whatever happens (CI machines are reused).
#
#   scripts/deb-install-test.sh [BUILD_DIR]     (default: build-deb at the repository root)
#
# ZELTO_DEB_TEST_SHOTS=DIR keeps the screenshots it compares (menu bars, whole windows).
#
# Before installing, lintian must find no error and no warning in the .deb. Installed,
# `zeltoctl doctor` must find nothing in the way (the udev rule is in place), no program may
# print anything on standard error at a normal start, and bash must find zeltoctl's completion.
#
# Needs root (dpkg -i, useradd), Xvfb, xdotool, ImageMagick, dpkg-dev, help2man,
# desktop-file-utils, appstream, lintian and bash-completion (scripts/install-deps.sh installs
# them).
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$repo/build-deb}"
user=zelto-ci
step_timeout=20

[[ "$(id -u)" -eq 0 ]] || { echo "deb-install-test: run as root" >&2; exit 1; }
if dpkg-query -W -f='${Status}' zeltosoft 2>/dev/null | grep -q 'install ok installed'; then
  echo "deb-install-test: zeltosoft is already installed here; not touching it" >&2
  exit 1
fi

work="$(mktemp -d)"
chmod 755 "$work"
pids=()
cleanup() {
  local rc=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  dpkg --purge zeltosoft >/dev/null 2>&1 || true
  if [[ -n "${ZELTO_DEB_TEST_SHOTS:-}" ]]; then
    mkdir -p "$ZELTO_DEB_TEST_SHOTS" && cp "$work"/*.png "$ZELTO_DEB_TEST_SHOTS"/ 2>/dev/null
  fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT

echo "== .deb: build ==" >&2
# Built as Debian builds its packages: the hardening flags come from dpkg-buildflags.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cppflags="$(flags CPPFLAGS)"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELTO_WERROR=ON \
  -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  "-DCMAKE_C_FLAGS=$(flags CFLAGS) $cppflags" "-DCMAKE_CXX_FLAGS=$(flags CXXFLAGS) $cppflags" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(flags LDFLAGS)" "-DCMAKE_SHARED_LINKER_FLAGS=$(flags LDFLAGS)" \
  >/dev/null
cmake --build "$build" >/dev/null
rm -f "$build"/zeltosoft_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/zeltosoft_*.deb)"
echo "built $(basename "$deb")" >&2

echo "== .deb: contents ==" >&2
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
libdir="$(dirname "$(grep -m1 '/zeltosoft/zeltosoft$' "$work/files")")"
for wanted in /usr/bin/zeltosoft /usr/bin/zeltosoft-demo "$libdir/zeltosoft" \
  "$libdir/zeltosoft-demo" "$libdir/StringTable.txt" /usr/share/zeltosoft/StringTable.txt \
  /usr/share/applications/org.zeltosoft.ZeltoSoft.desktop \
  /usr/share/applications/org.zeltosoft.ZeltoSoft.Demo.desktop \
  /usr/share/metainfo/org.zeltosoft.ZeltoSoft.metainfo.xml \
  /usr/share/man/man1/zeltosoft.1.gz /usr/share/man/man1/zeltosoft-demo.1.gz \
  /usr/bin/zeltoctl /usr/share/man/man1/zeltoctl.1.gz /usr/share/bash-completion/completions/zeltoctl \
  /usr/share/doc/zeltosoft/copyright /usr/share/doc/zeltosoft/changelog.gz \
  /usr/share/icons/hicolor/scalable/apps/zeltosoft.svg; do
  grep -qx "$wanted" "$work/files" || { echo "missing from the package: $wanted" >&2; exit 1; }
done
grep -q '/rules.d/60-zeltoprog.rules$' "$work/files" || { echo "no udev rule packed" >&2; exit 1; }
for size in 16 32 48 128; do
  grep -qx "/usr/share/icons/hicolor/${size}x${size}/apps/zeltosoft.png" "$work/files" ||
    { echo "no ${size}px icon packed" >&2; exit 1; }
done
dpkg-deb -f "$deb" Version Depends >&2
# As the archive would review it: no error, no warning (informational tags are shown).
echo "== .deb: lintian ==" >&2
lintian --fail-on error,warning --info "$deb" >&2 || { echo "lintian found errors or warnings" >&2; exit 1; }
# No maintainer script: nothing may need a running udev at install time.
dpkg-deb -e "$deb" "$work/control"
for script in preinst postinst prerm postrm; do
  [[ ! -e "$work/control/$script" ]] || { echo "unexpected maintainer script $script" >&2; exit 1; }
done

echo "== .deb: install ==" >&2
dpkg -i "$deb" >/dev/null
desktop-file-validate /usr/share/applications/org.zeltosoft.ZeltoSoft.desktop \
  /usr/share/applications/org.zeltosoft.ZeltoSoft.Demo.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.zeltosoft.ZeltoSoft.metainfo.xml >/dev/null
before="$(find "$libdir" -type f | sort)"

id "$user" >/dev/null 2>&1 || useradd -m -s /bin/bash "$user"
home="$(getent passwd "$user" | cut -d: -f6)"
rm -rf "$home/.config/zeltosoft"
runtime="$work/runtime"
install -d -m 700 -o "$user" "$runtime"
as_user() {
  runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$home" USER="$user" \
    XDG_RUNTIME_DIR="$runtime" LANG=C.UTF-8 "$@"
}

# Runs an installed program as the user; it must succeed and print nothing on stderr.
quiet_run() {
  local out="$work/run.out" err="$work/run.err" rc=0
  as_user "$@" >"$out" 2>"$err" || rc=$?
  [[ $rc -eq 0 ]] || { echo "'$*' ended with $rc:" >&2; cat "$out" "$err" >&2; exit 1; }
  [[ ! -s "$err" ]] || { echo "'$*' printed on stderr:" >&2; cat "$err" >&2; exit 1; }
  cat "$out"
}
# Answers without any display; all three print the package's version.
version="$(dpkg-deb -f "$deb" Version)"
for program in zeltosoft zeltosoft-demo zeltoctl; do
  [[ "$(quiet_run "$program" --version | head -n1)" == "$program $version" ]] ||
    { echo "$program --version does not print $version" >&2; exit 1; }
done
quiet_run zeltosoft --help | grep -q '^Usage: zeltosoft' || { echo "--help failed" >&2; exit 1; }
# The command-line companion, installed beside it, on the simulated bench: the parameters
# with the words of the installed string table, found without a word on stderr.
quiet_run zeltoctl --sim --sim-params 7,3,2,1,1,2 get >"$work/zeltoctl.out"
grep -qx 'sensitivity=7' "$work/zeltoctl.out" && grep -q '^speed=2 .*[A-Za-z]' "$work/zeltoctl.out" ||
  { echo "zeltoctl --sim get printed:" >&2; cat "$work/zeltoctl.out" >&2; exit 1; }
# With the package's rule in place nothing stands in the way (there is no adapter here).
quiet_run zeltoctl doctor >&2
# bash finds the completion where bash-completion loads it from.
as_user bash -ic '__load_completion zeltoctl; complete -p zeltoctl' 2>/dev/null | grep -q _zeltoctl ||
  { echo "bash has no completion for zeltoctl" >&2; exit 1; }

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac 2>/dev/null &
pids+=("$!")
exec 3>&-
for _ in $(seq 50); do [[ -s "$work/display" ]] && break; sleep 0.1; done
display=":$(head -n1 "$work/display")"
x() { timeout "$step_timeout" env DISPLAY="$display" "$@"; }

# Starts the installed program as the user; sets pid and window.
start() {
  as_user DISPLAY="$display" timeout 60 zeltosoft >"$work/out.$1" 2>"$work/err.$1" &
  pid=$!
  pids+=("$pid")
  window="$(x xdotool search --sync --onlyvisible --name '^ZeltoSoft$' | head -n1)"
  x xdotool windowfocus --sync "$window"
  sleep 1  # the first paint and the first supervision tick (1.5 s) are not needed
}
menubar() {  # the window's top 30 rows: the menu bar; and the whole window beside it
  x import -window "$window" "$work/$1-window.png"
  convert "$work/$1-window.png" -crop 300x30+0+0 +repage "$work/$1.png"
}
finish() {
  x xdotool key --clearmodifiers alt+e  # "&Esci" / "&Exit"
  local rc=0
  wait "$pid" || rc=$?
  [[ $rc -eq 0 ]] || { echo "zeltosoft ended with $rc" >&2; cat "$work/err.$1" >&2; exit 1; }
  # A start without an adapter prints nothing.
  [[ ! -s "$work/err.$1" ]] || { echo "zeltosoft printed on stderr:" >&2; cat "$work/err.$1" >&2; exit 1; }
}

echo "== installed program: first start, switch to English ==" >&2
start 1
menubar italian
x xdotool key --clearmodifiers alt+l  # "&Lingua"
sleep 0.5
x xdotool key --clearmodifiers n      # "I&nglese"
sleep 0.5
menubar english
finish 1
prm="$home/.config/zeltosoft/ZeltoSoft.prm"
[[ -f "$prm" ]] || { echo "no $prm after the switch" >&2; exit 1; }
[[ "$(stat -c %U "$prm")" == "$user" ]] || { echo "$prm not owned by $user" >&2; exit 1; }
printf '"File configurazione ZeltoSoft"\r\n1\r\n' | cmp - "$prm" ||
  { echo "unexpected content in $prm" >&2; exit 1; }
[[ "$(find "$libdir" -type f | sort)" == "$before" ]] ||
  { echo "the program wrote into $libdir" >&2; exit 1; }
if compare -metric AE "$work/italian.png" "$work/english.png" null: 2>/dev/null; then
  echo "the menu bar did not change when switching to English" >&2
  exit 1
fi

echo "== installed program: second start comes up in English ==" >&2
start 2
menubar second
compare -metric AE "$work/english.png" "$work/second.png" null: 2>/dev/null ||
  { echo "the second start is not in English" >&2; exit 1; }
finish 2
echo "== installed demo: its titles say it is simulated ==" >&2
# Qt's own -display option picks the X server.
as_user timeout 60 zeltosoft-demo --no-adapter -display "$display" 2>"$work/err.demo" &
pid=$!
pids+=("$pid")
# Window managers show the EWMH title, which carries the demo's display name; search looks
# at the ICCCM one, the window's own text.
window="$(x xdotool search --sync --onlyvisible --name '^ZeltoSoft$' | head -n1)"
title="$(x xdotool getwindowname "$window")"
[[ "$title" == "ZeltoSoft — Simulated demo" ]] ||
  { echo "the demo's window is titled '$title'" >&2; exit 1; }
kill "$pid"
wait "$pid" 2>/dev/null || true
echo "deb-install-test: $(basename "$deb") installed, used and purged" >&2
