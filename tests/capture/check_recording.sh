#!/usr/bin/env bash
# Checks the AVI file that capture_tests recorded (3 s of 640x480 YUY2 at 30000/1001 fps, the
# bar background and the test glyph sheet) as other programs read it: ffprobe for the stream,
# ffmpeg for the bytes of frame 10.
set -euo pipefail
avi=${1:?usage: check_recording.sh recording.avi}
fail() { echo "check_recording: $*" >&2; exit 1; }
[ -s "$avi" ] || fail "no recording at $avi"

eval "$(ffprobe -v error -select_streams v:0 -count_frames -of default=noprint_wrappers=1 \
  -show_entries stream=codec_name,width,height,pix_fmt,r_frame_rate,nb_read_frames "$avi" |
  sed -n 's/^\([a-z_]*\)=\([0-9a-z/]*\)$/\1=\2/p')"
echo "ffprobe: $codec_name ${width}x$height $pix_fmt $r_frame_rate fps, $nb_read_frames frames"
[ "$codec_name" = rawvideo ] && [ "$width" = 640 ] && [ "$height" = 480 ] &&
  [ "$pix_fmt" = yuyv422 ] || fail "stream is not 640x480 yuyv422"
# The rate is the exact frame time 333667 (10000000/333667), or 30000/1001.
awk -v r="$r_frame_rate" 'BEGIN { split(r, f, "/"); e = f[1] / f[2] / (30000 / 1001) - 1;
  exit !(e < 1e-4 && e > -1e-4) }' || fail "rate $r_frame_rate is not 29.97"
# 3 s at 29.97 fps is 89.9 frames.
[ "$nb_read_frames" -ge 89 ] && [ "$nb_read_frames" -le 91 ] ||
  fail "$nb_read_frames frames instead of 90 +-1"

frame=$(mktemp)
trap 'rm -f "$frame"' EXIT
ffmpeg -v error -y -i "$avi" -vf 'select=eq(n\,10)' -frames:v 1 -f rawvideo -pix_fmt yuyv422 \
  "$frame"
[ "$(stat -c %s "$frame")" = $((640 * 480 * 2)) ] || fail "frame 10 could not be decoded"
row() { od -An -tu1 -v -w1280 -j $(($1 * 1280)) -N 1280 "$frame"; }

# Background: bars red, green, blue, white over the top half, reversed below; four YUY2 bytes
# (Y0 Cb Y1 Cr) from the middle of each bar.
declare -A yuy2=([red]="81 90 81 239" [green]="144 53 144 34" [blue]="40 239 40 109"
                 [white]="235 128 235 128")
probe() {  # line, x, colour
  local got
  got=$(row "$1" | awk -v x="$2" '{ print $(2*x+1), $(2*x+2), $(2*x+3), $(2*x+4) }')
  [ "$got" = "${yuy2[$3]}" ] || fail "frame 10 at ($2,$1): $got, expected $3 (${yuy2[$3]})"
}
bars=(red green blue white)
for i in 0 1 2 3; do
  probe 120 $((80 + 160 * i)) "${bars[i]}"
  probe 360 $((80 + 160 * i)) "${bars[3 - i]}"
done

# Text: each 8x8 cell of the glyph sheet has the grey 8*column on its left half and 16*row on
# its right half; the luma of both gives back the character and its colour band.
text() {  # top line, first column, cells
  row $(($1 + 3)) | awk -v x0="$2" -v n="$3" '
    function grey(px) { return ($(2 * px + 1) - 16) * 255 / 219 }
    function near(v) { return int(v + (v < 0 ? -0.5 : 0.5)) }
    { band = "w"; s = ""
      for (i = 0; i < n; i++) {
        l = grey(x0 + 8 * i + 1); r = grey(x0 + 8 * i + 5); c = near(l / 8); w = near(r / 16)
        if (c < 0 || c > 31 || w < 0 || w > 15 || (l - 8 * c)^2 > 9 || (r - 16 * w)^2 > 25) {
          s = s "?"; continue }
        b = substr("wrgbyi", int(w / 3) + 1, 1)
        if (b != band) { s = s "#" b; band = b }
        s = s sprintf("%c", 32 + 32 * (w % 3) + c)
      }
      print s }'
}
header=$(text 472 0 27)
echo "frame 10 header: $header"
[ "$header" = "640x480p YUY2 #rCPU Clock #grec" ] || fail "header line is wrong"
# The status line is 43 cells wide at 640 pixels, so it starts at 640 - 43 * 8.
status=$(text 0 296 43)
echo "frame 10 status: $status"
[[ "$status" =~ ^#yFrame#w10\ \ #y\ Drop#w[0-9][0-9\ ]#y\ Time#w0#yh#w00#ym#w[0-9]{2}#ys#w[0-9]{3}#yms\ FPS#w[\ 0-9]{2}\.[0-9]{2}$ ]] ||
  fail "status line is wrong"
echo "check_recording: ok"
