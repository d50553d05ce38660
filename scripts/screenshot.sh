#!/usr/bin/env bash
# Makes docs/screenshot.png: Velmora in a private X server with a window
# manager, connected to the emulated board, after sending "A" and taking the
# board's "U". Drives the window with the end-to-end tests' driver, so it
# needs the same packages (see tests/e2e/run.sh).
#
#   scripts/screenshot.sh [BUILD-DIR]    (default: build; builds nothing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
mkdir -p docs
VELMORA_SCREENSHOT=$PWD/docs/screenshot.png tests/e2e/run.sh "$build" screenshot
