#!/usr/bin/env bash
# Builds the .deb from the build tree, unpacks it into a scratch root with
# dpkg -x and starts the unpacked program there (offscreen): started from an
# empty folder it must take its control and message texts from the installed
# caption files, and the English menu action's file must reach the window.
# The desktop entry and the AppStream file are validated as installed.
# Usage: package_install.sh BUILD_DIR
set -euo pipefail

build="$(cd "$1" && pwd)"
scratch="$build/package-test"
rm -rf "$scratch"
mkdir -p "$scratch/out" "$scratch/root" "$scratch/home"

fail() { echo "package_install: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$scratch"/out/*.deb)
dpkg -x "$deb" "$scratch/root"
root="$scratch/root"
[ ! -e "$root/usr/bin/caption.ini" ] || fail "caption.ini is installed beside the program"

desktop=$(ls "$root"/usr/share/applications/*.desktop)
desktop-file-validate "$desktop" || fail "desktop entry refused"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$scratch/appstream.log" 2>&1 ||
  { cat "$scratch/appstream.log" >&2; fail "metainfo refused"; }
grep -q "^Icon=k7vconf$" "$desktop" && [ -f "$root/usr/share/icons/hicolor/scalable/apps/k7vconf.svg" ] ||
  fail "the menu's icon is not installed"

# From an empty folder, as a user's first start from the menu would be.
run() { (cd "$scratch/home" && QT_QPA_PLATFORM=offscreen HOME="$scratch/home" \
           XDG_CONFIG_HOME="$scratch/home/config" "$root/usr/bin/k7vconf" "$@"); }
shared="$root/usr/share/k7vconf"
out=$(run --which-captions)
echo "$out"
grep -qxF "control texts: $shared/caption.ini" <<<"$out" || fail "control texts not from the package"
grep -qxF "message texts: $shared/caption.ini" <<<"$out" || fail "message texts not from the package"
grep -q "^message connected: ..*" <<<"$out" || fail "no message text"

# The menu's English action: a bare file name, found among the installed ones.
english_exec=$(sed -n '/^\[Desktop Action English\]/,/^\[/s/^Exec=k7vconf //p' "$desktop")
# shellcheck disable=SC2086 # the entry's arguments, split as the menu splits them
out=$(run $english_exec --which-captions)
echo "$out"
grep -qxF "control texts: $shared/caption-en.ini" <<<"$out" || fail "English action misses its file"
grep -qxF "connect button: Connect" <<<"$out" || fail "English texts not on the window"
[ -d "$scratch/home/config/k7vconf" ] || fail "the menu entry's working folder was not made"
echo "package_install: $(basename "$deb") installs and finds its texts"
