#!/usr/bin/env bash
# Records 1440×900 @30 fps H.264 (veryfast) for SECONDS while a page animates, first
# with vanto's capture, then with ffmpeg's x11grab at the same size, rate, codec and
# preset, in the same desktop; prints frames kept and CPU of each, and the fingerprint
# and PNG costs. Run it inside a headless desktop:
#   scripts/headless-desktop.sh run -- tests/bench/capture_bench.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=${1:?build folder}
seconds=${2:-60}
work=$(mktemp -d)
trap 'kill "$browser" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

cat >"$work/page.html" <<'HTML'
<!doctype html><title>Moving content</title>
<body style="margin:0;background:#fafafa"><div id=box style="position:absolute;width:240px;height:160px;background:#c33"></div>
<script>let t=0;(function step(){t++;box.style.left=(t*7%1200)+'px';box.style.top=(t*3%700)+'px';requestAnimationFrame(step)})()</script>
HTML
chromium --no-sandbox --test-type --disable-gpu --no-first-run --no-default-browser-check \
  --disable-background-networking --disable-component-update --disable-sync --kiosk \
  --user-data-dir="$work/profile" "file://$work/page.html" >/dev/null 2>&1 &
browser=$!
sleep 4

echo "vanto: $("$build/tests/bench/capture_bench" record "$seconds" "$work/vanto.mov" h264 30)"

TIMEFORMAT='%U %S'
cpu=$( { time ffmpeg -loglevel error -y -f x11grab -video_size 1440x900 -framerate 30 -i "$DISPLAY" -t "$seconds" \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p "$work/ffmpeg.mov" >/dev/null 2>&1; } 2>&1 )
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$work/ffmpeg.mov")
echo "ffmpeg: {\"framesWritten\":$frames,\"cpuSeconds\":$(echo "$cpu" | awk '{print $1 + $2}'),\"cpuPercentOfOneCore\":$(echo "$cpu" | awk -v s="$seconds" '{print 100 * ($1 + $2) / s}')}"
echo "vanto frames in file: $(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$work/vanto.mov")"

window=$(xwininfo -root -tree | awk '/Moving content/ && !found {print $1; found=1}')
echo "pictures: $("$build/tests/bench/capture_bench" pictures "$window")"
