#!/usr/bin/env bash
# Installs every Debian 12 package Orva needs to build, run, test and benchmark.
# Idempotent: when everything is present it installs nothing and exits at once.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # Qt 6: Core, Gui, Widgets, Concurrent, Network, DBus, Test and the platform plugins
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-image-formats-plugins libgl-dev
  # image libraries
  libheif-dev libraw-dev libexiv2-dev libtiff-dev zlib1g-dev libjpeg62-turbo-dev libpng-dev
  libspng-dev libde265-dev libdeflate-dev
  # desktop services; the build renders the icon sizes from its SVG
  libglib2.0-dev libxcb1-dev shared-mime-info desktop-file-utils librsvg2-bin
  # desktop-picture settings schema (tests use it with a key-file backend)
  gsettings-desktop-schemas
  # tests and benchmarks: headless X server, screenshots, fonts, reference decoders, the
  # validators of the desktop entry and AppStream metadata
  xvfb xauth xdotool x11-utils matchbox-window-manager imagemagick fonts-dejavu-core libbenchmark-dev
  libjpeg-turbo-progs libheif-examples appstream
  # the Debian package (scripts/make-deb.sh)
  file lintian
  # test fixtures: animated WebP writer
  libwebp-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "error: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
