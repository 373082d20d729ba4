#!/usr/bin/env bash
# Installs what building and running the program need, from Debian's
# packages, when anything is missing; with --tests, what the tests need too.
# Usage: scripts/deps.sh [--tests]
set -euo pipefail
packages=(cmake g++ make pkg-config qt6-base-dev libgl-dev qt6-translations-l10n fonts-ipafont-gothic xdg-utils
          desktop-file-utils) # the install refreshes the desktop's database with it
case "${1:-}" in
  --tests) packages+=(xvfb xdotool x11-apps x11-utils # the test that runs the built program
                      appstream file) ;;          # the test of the installed files
  "") ;;
  *) echo "Usage: scripts/deps.sh [--tests]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
