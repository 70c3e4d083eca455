#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer configuration and runs every test,
# headless. Extra arguments go to ctest (for example -R tst_appstate).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset asan
cmake --build --preset asan
QT_QPA_PLATFORM=offscreen ctest --preset asan "$@"
