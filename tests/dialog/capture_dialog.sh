#!/bin/sh
# Takes the picture of the settings dialog for the docs: runs dialog_preview
# under a virtual X server, gives it the focus, crops the screen to the
# dialog and saves it, then presses Escape. Every wait has a timeout.
#   tests/dialog/capture_dialog.sh PATH/TO/dialog_preview [OUT.png]
set -eu
preview=$1
out=${2:-docs/dialog.png}
if [ -z "${SORVANE_CAPTURE_INNER:-}" ]; then
  SORVANE_CAPTURE_INNER=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$preview" "$out"
fi
"$preview" >/dev/null &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
id=$(timeout 10 xdotool search --sync --onlyvisible --name '^sorvane$' | head -n 1)
[ -n "$id" ] || { echo "capture_dialog: the dialog did not appear" >&2; exit 1; }
timeout 5 xdotool windowfocus --sync "$id"
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$id")"
shot=$(mktemp --suffix=.png)
import -window root "$shot"
convert "$shot" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -strip "$out"
rm -f "$shot"
timeout 5 xdotool key Escape
timeout 5 sh -c "while kill -0 $pid 2>/dev/null; do sleep 0.1; done" || true
echo "capture_dialog: wrote $out (${WIDTH}x${HEIGHT})"
