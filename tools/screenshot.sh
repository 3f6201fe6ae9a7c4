#!/usr/bin/env bash
# Saves pictures of the main window, started on the offscreen platform against
# the small recorded network of tests/fixtures/gui/recordings, after its first
# check of the computers, with a suspected computer selected, and of the
# Options dialog opened from the window's menu.
#
#   tools/screenshot.sh [BUILD_DIR] [OUTPUT_DIR]    (defaults: build, docs)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
out=${2:-$here/docs}
if [ ! -d "$build" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target gui_screenshot
mkdir -p "$out"
# The window keeps its settings and files in a temporary sandbox of its own.
# On a 1280 x 800 screen, which the window's stored size fits.
QT_QPA_PLATFORM="offscreen:configfile=$here/tests/fixtures/gui/screen-1280x800.json" \
  "$build/tests/app/gui_screenshot" "$out"
