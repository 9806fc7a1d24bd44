#!/usr/bin/env bash
# Installs the Debian packages Zavrin needs to build, test and benchmark.
# Idempotent: packages already present are left alone, and apt is only run
# when something is missing. Works as root or through sudo.
set -euo pipefail
source "$(dirname "$0")/apt-common.sh"

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-tools-dev qt6-tools-dev-tools
  qt6-l10n-tools qt6-translations-l10n libqt6sql6-sqlite libgl-dev
  libzip-dev libuchardet-dev libunrar-dev libssl-dev zlib1g-dev libdeflate-dev libarchive-dev
  7zip zip unzip rar unrar python3
  # The tar family: libarchive reads it; the tests make their archives with
  # GNU tar and these compressors.
  libarchive-dev tar gzip bzip2 xz-utils zstd lz4
  xvfb xauth dbus
  # The test on a real display: a small window manager and X tools that
  # find, place and type into windows.
  openbox xdotool x11-utils
  time openssl strace
  # make format and format-check; the checked-in style is clang-format 14's.
  clang-format
  desktop-file-utils appstream
  # The interface is Chinese first; without a CJK font its texts draw as boxes.
  fonts-noto-cjk
)

mapfile -t missing < <(missing_packages "${packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
as_root apt-get update -qq

# libunrar, unrar and rar live in Debian's non-free component. Enable it only
# when they cannot be had otherwise.
if ! apt-cache policy libunrar-dev | grep -q 'Candidate: [0-9]'; then
  echo "install-deps: libunrar is not installable from the enabled components;"
  echo "install-deps: enabling Debian's non-free component for it."
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    as_root sed -i -E \
      '/^Components:/{/non-free( |$)/! s/$/ non-free/}' /etc/apt/sources.list.d/debian.sources
  fi
  if [ -f /etc/apt/sources.list ]; then
    as_root sed -i -E \
      '/^deb .*debian/{/non-free( |$)/! s/$/ non-free/}' /etc/apt/sources.list
  fi
  as_root apt-get update -qq
fi

as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
