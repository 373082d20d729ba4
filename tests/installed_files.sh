#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what the desktop sees
# there: every file in its place, the desktop entry and the AppStream
# description valid, and the installed program answering --help and
# --version without a display.
# Usage: installed_files.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in desktop-file-validate appstreamcli; do
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

# No display at all: the answers come before Qt starts.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/penumbrix" --version)
[ "$out" = "penumbrix 0.50" ] || { echo "FAIL: --version printed '$out'"; exit 1; }
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/penumbrix" --help | grep -q '^Usage: penumbrix \[FILE\]' ||
  { echo "FAIL: --help"; exit 1; }
status=0
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/penumbrix" a.bmp b.bmp 2>"$prefix/err" >/dev/null || status=$?
[ $status -eq 2 ] && grep -q '^Usage: penumbrix' "$prefix/err" || { echo "FAIL: two files gave $status"; exit 1; }
echo "installed files: all in place and valid"
