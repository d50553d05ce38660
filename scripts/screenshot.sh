#!/usr/bin/env bash
# Makes docs/screenshot.png: Velmora in a private X server with a window
# manager, connected to the emulated board, after sending "A" and taking the
# board's "U". Drives the window with the end-to-end tests' driver, so it
# needs the same packages (see tests/e2e/run.sh).
#
#   scripts/screenshot.sh [BUILD-DIR]    (default: build; builds nothing)
#   scripts/screenshot.sh --dpi N --out FILE [BUILD-DIR]
#       the window at its default size with Xft.dpi N (96, 192, ...), to FILE
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/docs/screenshot.png
dpi=
while (($#)); do
    case $1 in
        --dpi) dpi=$2; shift 2 ;;
        --out) out=$(realpath -m "$2"); shift 2 ;;
        *) break ;;
    esac
done
build=${1:-build}
mkdir -p "$(dirname "$out")"
VELMORA_XFT_DPI=$dpi VELMORA_SCREENSHOT=$out tests/e2e/run.sh "$build" screenshot
