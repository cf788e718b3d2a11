#!/usr/bin/env bash
# Installs the Debian packages the build, the tools and the tests need;
# only what is missing, so a prepared machine starts at once.
set -euo pipefail
# biosig-tools is the independent peer reader; chromium renders the plot page in the tool tests.
# The tool converts through EDFlib and DCMTK; MNE, pydicom and dicom3tools check what it writes;
# PixelMed is the second independent reader of the tool's decoding.
# g++-multilib and googletest (sources) build the 32-bit leg; qemu-user runs it
# on kernels without 32-bit support.
pkgs=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev libpng-dev biosig-tools chromium
      libedf-dev libdcmtk-dev dicom3tools python3-mne python3-pydicom libpixelmed-java g++-multilib googletest qemu-user "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}" >&2
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
