#!/usr/bin/env bash
# Installs every Debian package the build and the tests need; does nothing when all are present.
set -euo pipefail

PACKAGES=(
  # compilers and build tools
  g++ cmake ninja-build ccache pkg-config git libgtest-dev libgmock-dev
  # long fuzzing runs with libFuzzer (scripts/fuzz.sh)
  clang-14 libclang-rt-14-dev
  # libraries
  zlib1g-dev libjpeg62-turbo-dev libpng-dev libopenjp2-7-dev liblcms2-dev
  libfontconfig-dev libfreetype-dev fonts-liberation2
  qt6-base-dev qt6-svg-dev libgl-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavdevice-dev libavutil-dev
  libsane-dev libcurl4-openssl-dev libwmf-dev libemf2svg-dev libuemf-dev
  # opening documents and mail from the desktop, the MIME database; locales for the number-format tests
  xdg-utils shared-mime-info locales
  # checking the desktop entry the preferences install
  desktop-file-utils
  # independent tools the tests check our output with
  qpdf poppler-utils imagemagick libtiff-tools netpbm ffmpeg sane-utils libopenjp2-tools ghostscript
  fonts-cantarell libimage-exiftool-perl libjpeg-turbo-progs giflib-tools pngcheck
  # counting the files a run opens
  strace
  # PostScript output is checked by ghostscript, whose fonts also alias families such as Symbol
  ghostscript
  # libtiff's CCITT RLE writer, reached through Pillow (tiffcp writes no compression 2)
  python3-pil
  # readers of interactive forms beside qpdf and poppler
  python3-pypdf mupdf-tools
  # benchmark peers, and the peak memory of the program's benchmark
  img2pdf time
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
