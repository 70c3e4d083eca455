#!/usr/bin/env bash
# Installs what is missing, builds Orva and opens it: on the files given, or on a small
# sample folder that the build makes when none are given.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release

if [ $# -eq 0 ]; then
  samples=build/samples
  if [ ! -e "$samples/01-landscape.jpg" ]; then
    build/release/tools/orva-make-samples "$samples"
  fi
  set -- "$samples/01-landscape.jpg"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
There is no display to open a window on (neither DISPLAY nor WAYLAND_DISPLAY is set).
On a machine without a desktop, run Orva on a virtual X server:
  xvfb-run -a -s "-screen 0 1920x1080x24" scripts/run.sh $*
MSG
  exit 1
fi
exec build/release/src/app/orva "$@"
