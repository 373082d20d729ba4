#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what the desktop sees
# there: every file in its place, the desktop entry and the AppStream
# description valid, and the installed program answering --help and
# --version without a display.
# Usage: installed_files.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in desktop-file-validate appstreamcli update-desktop-database; do
  command -v "$tool" >/dev/null || { echo "SKIP: needs $tool (scripts/deps.sh installs it)"; exit 77; }
done
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

id=example.penumbrix.Penumbrix
share=$prefix/share
expected=(bin/penumbrix share/penumbrix/NoImage.bmp share/applications/$id.desktop
          share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/penumbrix.svg share/man/man1/penumbrix.1)
for size in 16 32 48 64 128 256; do expected+=("share/icons/hicolor/${size}x${size}/apps/penumbrix.png"); done
for f in "${expected[@]}"; do
  [ -s "$prefix/$f" ] || { echo "FAIL: $f not installed"; exit 1; }
done
for size in 16 32 48 64 128 256; do
  file "$share/icons/hicolor/${size}x${size}/apps/penumbrix.png" | grep -q "PNG image data, $size x $size," ||
    { echo "FAIL: the ${size}x${size} icon is not a $size px PNG"; exit 1; }
done

desktop-file-validate "$share/applications/$id.desktop"
grep -qx 'Exec=penumbrix %f' "$share/applications/$id.desktop" || { echo "FAIL: Exec takes no file"; exit 1; }
grep -qx 'MimeType=image/bmp;image/x-bmp;image/x-ms-bmp;' "$share/applications/$id.desktop" ||
  { echo "FAIL: the entry names no BMP types"; exit 1; }
appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$share/metainfo/$id.metainfo.xml" ||
  { echo "FAIL: the description doesn't launch the desktop entry"; exit 1; }

# The install refreshed the prefix's desktop database: the desktop finds the
# program for BMP files. A staging install (DESTDIR) leaves it to the packager.
grep -q "^image/bmp=.*$id.desktop" "$share/applications/mimeinfo.cache" ||
  { echo "FAIL: the install left no desktop database naming the program for BMP files"; exit 1; }
staged=$(mktemp -d)
DESTDIR=$staged cmake --install "$build" --prefix /opt/penumbrix >/dev/null
[ -s "$staged/opt/penumbrix/bin/penumbrix" ] && [ ! -e "$staged/opt/penumbrix/share/applications/mimeinfo.cache" ] ||
  { rm -rf "$staged"; echo "FAIL: a staging install touched the desktop database"; exit 1; }
rm -rf "$staged"

# The manual page has the sections a reader looks for.
for section in NAME SYNOPSIS DESCRIPTION OPTIONS KEYS FILES ENVIRONMENT "EXIT STATUS" "SEE ALSO"; do
  grep -qx "\.SH \"\?$section\"\?" "$share/man/man1/penumbrix.1" || { echo "FAIL: the manual page has no $section"; exit 1; }
done

# What the command line can't start is answered before Qt starts, with no
# display at all: --help and --version on standard output with status 0; a
# wrong command line, what is wrong and the usage on standard error, status 2.
answers() { # expected status, the start of its output, arguments...
  local status=$1 expected=$2 got=0 out
  shift 2
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/penumbrix" "$@" 2>&1 >/dev/null) || got=$?
  [ $got -eq 0 ] && out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/penumbrix" "$@" 2>/dev/null)
  if [ $got -ne "$status" ] || [[ "$out" != "$expected"* ]] || { [ "$status" -eq 2 ] && [[ "$out" != *"Usage: penumbrix [--] [FILE]"* ]]; }; then
    echo "FAIL: penumbrix $* gave status $got and: $out"; exit 1
  fi
}
answers 0 "Usage: penumbrix [--] [FILE]" --help
answers 0 "Usage: penumbrix [--] [FILE]" a.bmp -h
answers 0 "penumbrix 0.50" --version
answers 2 "penumbrix: one picture at a time: 2 files given" a.bmp b.bmp
answers 2 "penumbrix: unknown option --bogus" --bogus a.bmp
answers 2 "penumbrix: unknown option -style" -style fusion
answers 2 "penumbrix: an empty file name" ""
answers 2 "penumbrix: --red takes -128 to 127, not 128" --apply --red 128 a.bmp
answers 2 "penumbrix: unknown option -style" --apply -style a.bmp
answers 2 "penumbrix: --apply needs at least one FILE" --apply --light 3
env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/penumbrix" --help | grep -q -- "--apply \[--red N\]" ||
  { echo "FAIL: --help doesn't tell of --apply"; exit 1; }
# The installed batch works with no display.
mkdir "$prefix/out" && cp "$share/penumbrix/NoImage.bmp" "$prefix/in.bmp"
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb XDG_DATA_HOME="$prefix/data" \
  "$prefix/bin/penumbrix" --apply --light 10 --output "$prefix/out" "$prefix/in.bmp" 2>/dev/null && [ -s "$prefix/out/in.bmp" ] ||
  { echo "FAIL: the installed batch did not run without a display"; exit 1; }
echo "installed files: all in place and valid; the command line answered and the batch run without a display"
