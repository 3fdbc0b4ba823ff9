#!/usr/bin/env bash
# decoders_match.sh LINUX_DUMP EMULATOR WINDOWS_DUMP RUNDIR
#
# Decodes the same files with DevIL (LINUX_DUMP, native) and with the
# Windows build's decoder (WINDOWS_DUMP under EMULATOR, a ;-separated
# command) and fails unless every result is byte for byte the same: the
# run folder's images, PNGs of every colour type, and damaged copies (cut
# short, missing their end marker, with trailing bytes, a folder in a file's
# place, a missing file), which both must refuse or accept alike.
set -euo pipefail
linux_dump=$1
IFS=';' read -r -a emulator <<<"$2"
windows_dump=$3
run_dir=$4
here=$(cd "$(dirname "$0")" && pwd)

[ -x "$linux_dump" ] || { echo "no Linux rgba_dump at $linux_dump: build the Linux tree first"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/linux" "$work/windows"

images=("$run_dir"/*.jpg)
[ ${#images[@]} -ge 7 ] || { echo "expected the run folder's 7 images in $run_dir, found ${#images[@]}"; exit 1; }
cp "${images[@]}" "$work/in/"
python3 "$here/make_pngs.py" "$work/in"
photo=${images[0]}
size=$(stat -c %s "$photo")
head -c $((size / 2)) "$photo" >"$work/in/half.jpg"
head -c $((size - 2)) "$photo" >"$work/in/no-end-marker.jpg"
{ cat "$photo"; echo "trailing bytes"; } >"$work/in/trailing.jpg"
cp "$photo" "$work/in/no-extension"
mkdir "$work/in/folder.jpg"

cd "$work/in"
names=(*)
names+=(missing.jpg)
"$linux_dump" "$work/linux" "${names[@]}"
"${emulator[@]}" "$windows_dump" "$work/windows" "${names[@]}"

compared=0 differ=0
for name in "${names[@]}"; do
  a="$work/linux/$name.rgba" b="$work/windows/$name.rgba"
  if cmp -s "$a" "$b"; then
    compared=$((compared + 1))
  else
    differ=$((differ + 1))
    echo "DIFFERENT: $name: DevIL gives '$(head -n1 "$a")', the Windows decoder '$(head -n1 "$b" 2>/dev/null)'"
    cmp "$a" "$b" || true
  fi
done
refused=$(grep -l '^refused$' "$work"/linux/*.rgba | wc -l)
echo "$compared of ${#names[@]} files decode identically ($refused refused by both)"
[ "$differ" -eq 0 ] && [ "$refused" -ge 4 ]
