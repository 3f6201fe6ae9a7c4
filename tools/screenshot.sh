#!/usr/bin/env bash
# Saves pictures of the main window, started on the offscreen platform against
# the small recorded network of tests/fixtures/gui/recordings, after its first
# check of the computers, with a suspected computer selected.
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
QT_QPA_PLATFORM=offscreen "$build/tests/gui/gui_screenshot" "$out"
