#!/usr/bin/env bash
# Fetches freely licensed multi-channel MIDI files for trying `tune
# import-midi` on real music: the free music set packaged for a
# transport-simulation game (GPL-2), from the Debian archive, unpacked into a
# scratch folder. Nothing is committed or installed.
#
#   scripts/fetch-midi.sh [FOLDER]     (default: build-midi-files)
#
# Prints the paths of the .mid files it found.
set -euo pipefail

folder="${1:-build-midi-files}"
package="openttd-openmsx"

mkdir -p "$folder"
cd "$folder"
if ! ls ./*.deb >/dev/null 2>&1; then
  apt-get download "$package"
fi
mkdir -p unpacked
for deb in ./*.deb; do dpkg -x "$deb" unpacked; done
find "$PWD/unpacked" -iname '*.mid' | sort
