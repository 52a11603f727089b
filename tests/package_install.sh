#!/usr/bin/env bash
# Builds the .deb from the build tree, unpacks it into a scratch root with
# dpkg -x and starts the unpacked program there (offscreen): started from an
# empty folder it must take its control and message texts from the installed
# caption file of the user's language, and the English menu action's file
# must reach the window. Without a display, --help, --version and
# --which-captions still answer, and a wrong option is told, not aborted on.
# The browser page's folder is installed whole in share/k7vconf/web.
# The desktop entry and the AppStream file are validated as installed, and
# every picture it installs has transparent corners.
# Usage: package_install.sh BUILD_DIR
set -euo pipefail

build="$(cd "$1" && pwd)"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
scratch="$build/package-test"
rm -rf "$scratch"
mkdir -p "$scratch/out" "$scratch/root" "$scratch/home"

fail() { echo "package_install: $*" >&2; exit 1; }

# Without the dependency list: dpkg-shlibdeps takes seconds, nothing here
# reads Depends, and scripts/check-package checks the package that has one.
(cd "$build" && cpack -G DEB -B "$scratch/out" -D CPACK_DEBIAN_PACKAGE_SHLIBDEPS=OFF \
  >"$scratch/cpack.log" 2>&1) ||
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
# Docks group the window under the entry by its WM_CLASS, the program's name.
grep -q "^StartupWMClass=k7vconf$" "$desktop" || fail "the entry names no window class"

# Every picture installed, and the window's own icon, has transparent corners.
bash "$source_dir/scripts/check-icon-corners" "$root" "$source_dir/resources/icons/k7vconf.png" ||
  fail "an icon has opaque corners"

# From an empty folder, as a user's first start from the menu would be, in
# the user's language (LANG alone; LC_ALL and LC_MESSAGES would come first).
run() {
  local lang="$1"
  shift
  (cd "$scratch/home" && env -u LC_ALL -u LC_MESSAGES LANG="$lang" QT_QPA_PLATFORM=offscreen \
     HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/config" "$root/usr/bin/k7vconf" "$@")
}
shared="$root/usr/share/k7vconf"
# The browser page beside the caption files, whole, when the build made one.
if [ -f "$build/web/site/index.html" ]; then
  (cd "$build/web/site" && find . -type f) | sort >"$scratch/site.list"
  (cd "$shared/web" && find . -type f) | sort >"$scratch/web.list"
  diff -u "$scratch/site.list" "$scratch/web.list" || fail "share/k7vconf/web is not the page's folder"
fi
expect_texts() { # OUTPUT FILE: both kinds of text come from FILE
  grep -qxF "control texts: $shared/$2" <<<"$1" || fail "control texts not from $2"
  grep -qxF "message texts: $shared/$2" <<<"$1" || fail "message texts not from $2"
}
out=$(run zh_CN.UTF-8 --which-captions)
echo "$out"
expect_texts "$out" caption.ini
grep -q "^message connected: ..*" <<<"$out" || fail "no message text"
out=$(run en_GB.UTF-8 --which-captions)
echo "$out"
expect_texts "$out" caption-en.ini
grep -qxF "connect button: Connect" <<<"$out" || fail "English texts not on the window"

# The menu's English action: a bare file name, found among the installed ones.
english_exec=$(sed -n '/^\[Desktop Action English\]/,/^\[/s/^Exec=k7vconf //p' "$desktop")
# shellcheck disable=SC2086 # the entry's arguments, split as the menu splits them
out=$(run zh_CN.UTF-8 $english_exec --which-captions)
echo "$out"
expect_texts "$out" caption-en.ini
[ -d "$scratch/home/config/k7vconf" ] || fail "the menu entry's working folder was not made"

# No display at all: the options that only print must not need one.
headless() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/k7vconf" "$@"; }
help=$(headless --help) || fail "--help without a display ends with exit $?"
grep -q -- "--user-folder" <<<"$help" || fail "--help does not list the options"
version=$(dpkg-deb --field "$deb" Version)
headless --version | grep -qF "${version%%-*}" || fail "--version without a display"
headless --which-captions | grep -q "^connect button: " || fail "--which-captions without a display"
status=0; headless --no-such-option 2>/dev/null || status=$?
[ "$status" = 1 ] || fail "a wrong option without a display ends with exit $status, not 1"
echo "package_install: $(basename "$deb") installs and finds its texts"
