#!/usr/bin/env bash
# zip_runs_on_its_own.sh ZIP WINE_RUN
#
# Unpacks the zip into an empty folder and checks that it holds everything
# the demo reads by bare name and that its programs run from there alone:
# sorvane-capture.exe renders a frame of the piece (the data files, the GL
# path, both DLLs) with no other folder on Wine's DLL path, and the zip has
# no file that the folder does not need.
set -euo pipefail
zip=$1
wine_run=$2
[ -f "$zip" ] || { echo "no $zip: scripts/build-windows packs it"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && unzip -q "$zip")
folder="$work/sorvane-win64"

expected="001_14.jpg 003_01.jpg 003_14.jpg 04-Slow_Amber_Circles.ogg 162_05.jpg 308_18.jpg 311_18.jpg
HOW-TO-RUN.txt SDL2.dll abs.frag abs.vert credits.jpg glew32.dll mask.frag mask.vert sorvane-capture.exe
sorvane.exe"
actual=$(cd "$folder" && ls | sort | tr '\n' ' ')
if [ "$(echo $expected | tr ' ' '\n' | sort | tr '\n' ' ')" != "$actual" ]; then
  echo "the zip holds: $actual"
  echo "expected:      $expected"
  exit 1
fi

cd "$folder"
WINEPATH= "$wine_run" sorvane-capture.exe --time 150 --size 320x160 --out frame.png
[ -s frame.png ] || { echo "sorvane-capture.exe ran but wrote no frame"; exit 1; }
echo "unpacked zip: $(echo $actual | wc -w) files, sorvane-capture.exe rendered 150 s from the folder alone"
