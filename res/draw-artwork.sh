#!/usr/bin/env bash
# Draws every bitmap and the icon of quibuploader.exe into res/bitmaps and
# res/quibuploader.ico. The results are committed; the build does not run this.
#
#   bash res/draw-artwork.sh            redraw everything
#   bash res/draw-artwork.sh preview    also write a contact sheet to /tmp
#
# Needs ImageMagick and the DejaVu fonts (fonts-dejavu-core). Bitmaps are
# 24-bit uncompressed BMPs without alpha, as LoadBitmap and the skinned buttons
# expect. Each is drawn at every scale of QUIB_ARTWORK_SCALES (resource.h)
# from the same drawing: name.bmp at 100 %, name_125.bmp and so on above it.
# The icon holds 16 to 256 pixel images with alpha, each drawn at its size.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=$here/bitmaps
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if command -v magick >/dev/null 2>&1; then IM=(magick); else IM=(convert); fi

fontdir=/usr/share/fonts/truetype/dejavu
SANS=$fontdir/DejaVuSans.ttf
BOLD=$fontdir/DejaVuSans-Bold.ttf
for f in "$SANS" "$BOLD"; do
  [ -f "$f" ] || { echo "draw-artwork: missing $f (install fonts-dejavu-core)" >&2; exit 1; }
done

# Keep in step with QUIB_ARTWORK_SCALES in resource.h.
SCALES=(100 125 150 175 200)

# One palette for everything.
NAVY_DARK='#0d2748'  # top bar of the banner
NAVY='#123764'       # band behind the main buttons
BLUE='#1f64b8'       # hero gradient, icons on light faces
BLUE_SOFT='#4a8ae0'
SKY='#cfe0f6'        # light text on navy
INK='#133a68'        # text on light faces
ORANGE='#ff8c24'     # accent: upload, focus rings, logo
ORANGE_HI='#ffa54d'
ORANGE_LO='#e8700c'
PAPER='#f6f9fd'      # list background
MUTED='#2a4f80'      # disabled face on navy
MUTED_INK='#7f9cc4'

# ---- scale ------------------------------------------------------------------
# Every drawing below is written in the pixels of the 100 % design and scaled
# through these helpers. ImageMagick puts pixel centres on whole coordinates
# and fills half a pixel beyond an outline, so a filled shape's first and last
# pixels are scaled as edges (and stay crisp), while points of curves and
# strokes are scaled about pixel centres. At 100 % all of them are identity.
SCALE=100
SFX=''  # file name suffix: '' at 100 %, _125 and so on above

# A size, offset or first pixel, rounded (halves away from zero).
sc() {
  if (($1 < 0)); then echo $((-((-$1 * SCALE + 50) / 100))); else echo $((($1 * SCALE + 50) / 100)); fi
}
# A font size in pixels: whole, and rounded down so that a text never grows
# past the room the scaled design gives it.
fs() { echo $(($1 * SCALE / 100)); }
# The last pixel of a filled shape whose last pixel at 100 % is <v>.
se() { echo $(($(sc $(($1 + 1))) - 1)); }
# The same, counted from the far edge of an image <n> pixels long at 100 %
# and <N> now, so that shapes stay symmetric when the image size rounds (a
# first pixel counted from the far edge is N - sc(n - v)).
sf() { echo $(($1 - 1 - $(sc $(($2 - 1 - $3))))); } # <N> <n> <v>

calc() {
  awk -v s="$SCALE" "function r(x) { return x < 0 ? -int(-x + 0.5) : int(x + 0.5) }
    BEGIN { s /= 100; printf \"%g\", $1 }"
}
sp() { calc "($1 + 0.5) * s - 0.5"; }               # a point
sl() { calc "$1 * s"; }                             # a length: stroke, corner radius
spf() { calc "$1 - ($2 - $3 - 0.5) * s - 0.5"; }    # a point from the far edge: <N> <n> <c>
# A filled circle: centre and a point on its rim.
circle() { # <cx> <cy> <radius>
  local x y
  x=$(sp "$1")
  y=$(sp "$2")
  echo "circle $x,$y $x,$(calc "$y + ($3 + 0.5) * s - 0.5")"
}
# A filled rectangle from first to last pixel, rounded corners when given.
rect() { # <x0> <y0> <x1> <y1> [radius]
  if [ $# -gt 4 ]; then
    local r
    r=$(sl "$5")
    echo "roundrectangle $(sc "$1"),$(sc "$2") $(se "$3"),$(se "$4") $r,$r"
  else
    echo "rectangle $(sc "$1"),$(sc "$2") $(se "$3"),$(se "$4")"
  fi
}

# Writes a 24-bit BMP without alpha.
save_bmp() { # <input image> <name>
  "${IM[@]}" "$1" -background white -alpha remove -alpha off -type TrueColor \
    -define bmp:format=bmp3 "BMP3:$out/$2$SFX.bmp"
}

# Text must never be cut off by the picture it is put on.
fits() { # <image> <width> <height>
  local got
  got=$("${IM[@]}" "$1" -format '%w %h' info:)
  set -- $got "$2" "$3"
  (($1 <= $3 && $2 <= $4)) || {
    echo "draw-artwork: at $SCALE % a text of $1 x $2 does not fit into $3 x $4" >&2
    exit 1
  }
}

# A transparent text image, trimmed to the font's box.
text_png() { # <file> <font> <size> <colour> <text>
  "${IM[@]}" -background none -fill "$4" -font "$2" -pointsize "$3" label:"$5" "$1"
}

# Icon glyph and caption side by side, vertically centred; <size> at 100 %.
caption_png() { # <file> <size> <icon colour> <text colour> <icon> <text>
  local f=$1 size=$2
  text_png "$work/cap_t.png" "$BOLD" "$(fs "$size")" "$4" "$6"
  if [ -n "$5" ]; then
    text_png "$work/cap_i.png" "$BOLD" "$(fs $((size + 3)))" "$3" "$5"
    "${IM[@]}" -background none "$work/cap_i.png" -size "$(sc $((size / 2)))x1" xc:none \
      "$work/cap_t.png" -gravity center +append "$f"
  else
    cp "$work/cap_t.png" "$f"
  fi
}

# The product name with a small raised registered sign; <size> as drawn.
wordmark_png() { # <file> <size> <colour>
  local size=$2 small=$(($2 * 11 / 20))
  text_png "$work/wm_a.png" "$BOLD" "$size" "$3" "quib"
  text_png "$work/wm_r.png" "$BOLD" "$small" "$3" "®"
  text_png "$work/wm_b.png" "$BOLD" "$size" "$3" "-uploader"
  "${IM[@]}" -background none "$work/wm_a.png" \
    \( "$work/wm_r.png" -gravity north -splice "0x$((size / 8))" \) \
    "$work/wm_b.png" -gravity north +append "$1"
}

# ---- buttons ------------------------------------------------------------------

# Big buttons lying on the navy band of the banner: a light face with a soft
# shadow; pressed is darker and sunk by one pixel, focused carries an orange
# ring, disabled sinks into the band.
band_button() { # <stem> <width> <icon> <text>
  local stem=$1 w=$2 h=38 icon=$3 text=$4
  local W H x0 x1 y0 y1 sh r ring_at one
  W=$(sc "$w")
  H=$(sc $h)
  x0=$(sc 3)
  y0=$x0
  x1=$(sf "$W" "$w" $((w - 4)))
  y1=$(sf "$H" $h $((h - 5)))
  sh=$(sc 2)
  one=$(sc 1)
  r=$(sl 8)
  ring_at="$(sp 4),$(sp 4) $(spf "$W" "$w" $((w - 5))),$(spf "$H" $h $((h - 6))) $(sl 7),$(sl 7)"
  for state in U D F X; do
    local face=white shadow='#081d38' ring=none fg=$INK ic=$BLUE dx=0 dy=0
    case $state in
      D) face='#c9dbf3'; shadow=$NAVY; dy=1; dx=1 ;;
      F) ring=$ORANGE ;;
      X) face=$MUTED; shadow=$NAVY; fg=$MUTED_INK; ic=$MUTED_INK ;;
    esac
    dx=$(sc $dx)
    dy=$(sc $dy)
    caption_png "$work/cap.png" 12 "$ic" "$fg" "$icon" "$text"
    fits "$work/cap.png" $((x1 - x0 + 1 - 2 * $(sc 4))) $((y1 - y0 + 1))
    local draw=(-fill "$shadow" -draw "roundrectangle $x0,$((y0 + sh)) $x1,$((y1 + sh)) $r,$r")
    [ "$state" = D ] && draw=()
    "${IM[@]}" -size "${W}x${H}" "xc:$NAVY" "${draw[@]}" \
      -fill "$face" -draw "roundrectangle $x0,$((y0 + dy)) $x1,$((y1 + dy)) $r,$r" \
      "$work/face.png"
    if [ "$ring" != none ]; then
      "${IM[@]}" "$work/face.png" -fill none -stroke "$ring" -strokewidth "$(sl 2)" \
        -draw "roundrectangle $ring_at" "$work/face.png"
    fi
    "${IM[@]}" "$work/face.png" "$work/cap.png" -gravity center \
      -geometry "+$dx+$((dy - one))" -composite "$work/btn.png"
    save_bmp "$work/btn.png" "${stem,,}$(echo "$state" | tr 'UDFX' 'udfx')"
  done
}

# Small text buttons on the dark top bar: plain text, a dark pill when
# pressed, an orange outline when focused. Never disabled, so no X image.
# <visible> is the width that is actually on screen (the rest is cut off by
# the window edge for the last button).
bar_button() { # <stem> <width> <visible> <text>
  local stem=$1 w=$2 vis=$3 text=$4 h=21
  local W V H m r
  W=$(sc "$w")
  V=$(sc "$vis")
  H=$(sc $h)
  m=$(sc 2)
  r=$(sl 6)
  for state in U D F; do
    local fg=$SKY dx=0 dy=0 pre=()
    case $state in
      D) fg=white; dy=$(sc 1); pre=(-fill '#061a33' -draw "roundrectangle $m,$m $(sf "$V" "$vis" $((vis - 3))),$(sf "$H" $h $((h - 2))) $r,$r") ;;
      F) fg=white; pre=(-fill none -stroke "$ORANGE" -strokewidth "$(sl 1.5)" \
                        -draw "roundrectangle $(sp 2),$(sp 2) $(spf "$V" "$vis" $((vis - 3))),$(spf "$H" $h $((h - 3))) $r,$r") ;;
    esac
    local rest=()
    [ "$W" -gt "$V" ] && rest=(-size "$((W - V))x${H}" "xc:$NAVY_DARK" +append)
    text_png "$work/cap.png" "$BOLD" "$(fs 11)" "$fg" "$text"
    fits "$work/cap.png" $((V - 2 * $(sc 3))) "$H"
    "${IM[@]}" -size "${V}x${H}" "xc:$NAVY_DARK" "${pre[@]}" \
      "$work/cap.png" -gravity center -geometry "+$dx+$dy" -composite \
      "${rest[@]}" "$work/btn.png"
    save_bmp "$work/btn.png" "${stem,,}$(echo "$state" | tr 'UDF' 'udf')"
  done
}

# The wide upload button below the list, on the white dialog background.
upload_button() {
  local w=369 h=42
  local W H m top pw ph r one
  W=$(sc $w)
  H=$(sc $h)
  m=$(sc 3)
  top=$(sc 2)
  pw=$((W - 2 * m))
  ph=$((H - $(sc 5) - top))
  r=$(sl 9)
  one=$(sc 1)
  for state in U D F X; do
    local top_c=$ORANGE_HI bottom=$ORANGE_LO fg=white dy=0 ring=none shadow='#d7dde6'
    case $state in
      D) top_c=$ORANGE_LO; bottom='#d26106'; dy=$one; shadow=white ;;
      F) ring=$NAVY ;;
      X) top_c='#e3e8ef'; bottom='#d5dce6'; fg='#98a6b8' ;;
    esac
    "${IM[@]}" -size "${pw}x${ph}" "gradient:$top_c-$bottom" \
      \( +clone -fill black -colorize 100 -fill white \
         -draw "roundrectangle 0,0 $((pw - 1)),$((ph - 1)) $r,$r" \) \
      -alpha off -compose CopyOpacity -composite "$work/pill.png"
    caption_png "$work/cap.png" 15 "$fg" "$fg" "⬆" "Upload"
    fits "$work/cap.png" $((pw - 2 * $(sc 9))) "$ph"
    "${IM[@]}" -size "${W}x${H}" xc:white \
      -fill "$shadow" -draw "roundrectangle $m,$(sc 5) $(sf "$W" $w $((w - 4))),$(sf "$H" $h $((h - 2))) $r,$r" \
      "$work/pill.png" -geometry "+$m+$((top + dy))" -compose over -composite \
      "$work/face.png"
    if [ "$ring" != none ]; then
      "${IM[@]}" "$work/face.png" -fill none -stroke "$ring" -strokewidth "$(sl 2)" \
        -draw "roundrectangle $(sp 4),$(sp 3) $(spf "$W" $w $((w - 5))),$(spf "$H" $h $((h - 6))) $(sl 8),$(sl 8)" \
        "$work/face.png"
    fi
    "${IM[@]}" "$work/face.png" "$work/cap.png" -gravity center \
      -geometry "+0+$((dy - one))" -composite "$work/btn.png"
    save_bmp "$work/btn.png" "uplbutton$(echo "$state" | tr 'UDFX' 'udfx')"
  done
}

# ---- logo and icon ------------------------------------------------------------

# The logo mark: an orange rounded square with a white arrow rising out of a
# tray, drawn at 256 pixels with alpha. The bitmaps take it scaled down from
# there; their logos are 44 pixels and more.
logo_png() { # <file> <size>
  local big=$work/logo256.png
  if [ ! -f "$big" ]; then
    "${IM[@]}" -size 256x256 "gradient:$ORANGE_HI-$ORANGE_LO" \
      \( +clone -fill black -colorize 100 -fill white \
         -draw "roundrectangle 8,8 247,247 58,58" \) \
      -alpha off -compose CopyOpacity -composite \
      -compose over -fill white -stroke none \
      -draw "polygon 128,38 200,114 157,114 157,168 99,168 99,114 56,114" \
      -fill none -stroke white -strokewidth 24 \
      -draw "stroke-linecap round stroke-linejoin round polyline 62,150 62,206 194,206 194,150" \
      "$big"
  fi
  "${IM[@]}" "$big" -filter Lanczos -resize "${2}x${2}" "$1"
}

# The same mark drawn directly at an icon size <n>, centred, with its
# straight edges and the tray's stroke on whole pixels, so that small icons
# are sharp instead of scaled down.
icon_png() { # <file> <n>
  local n=$2 geo
  geo=$(awk -v n="$n" 'function r(x) { return int(x + 0.5) }
    BEGIN {
      s = n / 256; c = n / 2
      m = r(8 * s); if (m < 1) m = 1
      hw = r(29.5 * s); if (hw < 1) hw = 1      # half the shaft
      hh = r(72.5 * s)                          # half the arrow head
      tip = r(38 * s); base = r(115 * s); end = r(169 * s)
      sw = r(24 * s); if (sw < 1) sw = 1        # the tray
      L = c - r(78 * s) + sw / 2 - 0.5; R = c + r(78 * s) - sw / 2 - 0.5
      B = r(218.5 * s) - sw / 2 - 0.5; T = 150.5 * s - 0.5
      printf "%d %d %g ", m, n - 1 - m, 58 * s
      printf "%g,%d %d,%d %d,%d %d,%d %d,%d %d,%d %d,%d ", c - 0.5, tip, c + hh - 1, base - 1,
        c + hw - 1, base - 1, c + hw - 1, end - 1, c - hw, end - 1, c - hw, base - 1, c - hh, base - 1
      printf "%d %g,%g %g,%g %g,%g %g,%g", sw, L, T, L, B, R, B, R, T
    }')
  set -- "$1" $geo
  "${IM[@]}" -size "${n}x${n}" "gradient:$ORANGE_HI-$ORANGE_LO" \
    \( +clone -fill black -colorize 100 -fill white \
       -draw "roundrectangle $2,$2 $3,$3 $4,$4" \) \
    -alpha off -compose CopyOpacity -composite \
    -compose over -fill white -stroke none \
    -draw "polygon $5 $6 $7 $8 $9 ${10} ${11}" \
    -fill none -stroke white -strokewidth "${12}" \
    -draw "stroke-linecap round stroke-linejoin round polyline ${13} ${14} ${15} ${16}" \
    "$1"
}

# Icon group: the sizes Windows asks for at the usual scales, 32 bits per
# pixel; the 256 pixel image is stored as PNG, as Windows does.
ICON_SIZES=(16 20 24 32 40 48 64 96 128 256)
program_icon() {
  local s files=()
  for s in "${ICON_SIZES[@]}"; do
    icon_png "$work/icon$s.png" "$s"
    files+=("$work/icon$s.png")
  done
  "${IM[@]}" "${files[@]}" -depth 8 "$here/quibuploader.ico"
}

# ---- pictures -----------------------------------------------------------------

# Banner at the top of the main window, 369 x 151 at 100 %. Rows of the window
# that lie on it: the settings/help/website buttons at the top (21 px), the
# add, remove and rotate buttons at about y 111 (38 px). Both rows sit on flat
# colour so that the buttons blend in even when dialog units round differently.
banner() {
  local W H bar hero
  W=$(sc 369)
  H=$(sc 151)
  bar=$(sc 23)
  hero=$(($(sc 103) - bar))
  logo_png "$work/logo.png" "$(sc 52)"
  wordmark_png "$work/word.png" "$(fs 26)" white
  fits "$work/word.png" $((W - $(sc 80))) $((hero - $(sc 12)))
  text_png "$work/tag.png" "$SANS" "$(fs 11)" "$SKY" "Pictures, movies and music to your albums"
  fits "$work/tag.png" $((W - $(sc 82) - $(sc 4))) "$(sc 18)"
  # Hero area with soft circles for depth, kept clear of the button band.
  "${IM[@]}" -size "${W}x${hero}" "gradient:$BLUE-$NAVY" \
    -fill 'rgba(255,255,255,0.06)' -draw "$(circle 345 8 58)" \
    -fill 'rgba(255,255,255,0.04)' -draw "$(circle 300 -30 82)" \
    "$work/hero.png"
  "${IM[@]}" -size "${W}x${H}" "xc:$NAVY" \
    -fill "$NAVY_DARK" -draw "rectangle 0,0 $((W - 1)),$((bar - 1))" \
    "$work/hero.png" -geometry "+0+$bar" -composite \
    -fill '#2a5fa5' -draw "rectangle 0,$bar $((W - 1)),$(se 23)" \
    "$work/logo.png" -geometry "+$(sc 16)+$(sc 34)" -composite \
    "$work/word.png" -geometry "+$(sc 80)+$(sc 35)" -composite \
    "$work/tag.png" -geometry "+$(sc 82)+$(sc 70)" -composite \
    "$work/banner.png"
  save_bmp "$work/banner.png" banner
}

# Tiled behind the thumbnails: almost white with a faint grid of small crosses,
# 9 x 8 of them on the tile (41 x 39 pixels apart at 100 %), so that it repeats
# without seams. Each cross's strokes cover whole pixels at every scale.
list_background() {
  local W H sw draw=()
  W=$(sc 369)
  H=$(sc 312)
  sw=$(sc 1)
  mapfile -t draw < <(awk -v s="$SCALE" -v sw="$sw" 'function r(x) { return int(x + 0.5) }
    BEGIN {
      s /= 100; a = r(2 * s)
      for (x = 20; x < 369; x += 41) {
        for (y = 19; y < 312; y += 39) {
          bx = r((x + 0.5) * s - sw / 2); by = r((y + 0.5) * s - sw / 2)
          cx = bx + sw / 2 - 0.5; cy = by + sw / 2 - 0.5
          printf "-draw\nline %g,%g %g,%g\n", bx - a + sw / 2 - 0.5, cy, bx + sw - 1 + a + 0.5 - sw / 2, cy
          printf "-draw\nline %g,%g %g,%g\n", cx, by - a + sw / 2 - 0.5, cx, by + sw - 1 + a + 0.5 - sw / 2
        }
      }
    }')
  "${IM[@]}" -size "${W}x${H}" "xc:$PAPER" -stroke '#e2e9f3' -strokewidth "$sw" "${draw[@]}" \
    "$work/list.png"
  save_bmp "$work/list.png" listbackground
}

# Top of the about box, 290 x 85 at 100 %.
about_picture() {
  local W H
  W=$(sc 290)
  H=$(sc 85)
  logo_png "$work/logo.png" "$(sc 44)"
  wordmark_png "$work/word.png" "$(fs 22)" white
  fits "$work/word.png" $((W - $(sc 65))) "$(sc 30)"
  text_png "$work/tag.png" "$SANS" "$(fs 10)" "$SKY" "Pictures, movies and music to your albums"
  fits "$work/tag.png" $((W - $(sc 66) - $(sc 2))) $((H - $(sc 3) - $(sc 46)))
  "${IM[@]}" -size "${H}x${W}" "gradient:$BLUE-$NAVY" -rotate -90 \
    -fill 'rgba(255,255,255,0.06)' -draw "$(circle 262 8 72)" \
    "$work/logo.png" -geometry "+$(sc 12)+$(sc 16)" -composite \
    "$work/word.png" -geometry "+$(sc 65)+$(sc 16)" -composite \
    "$work/tag.png" -geometry "+$(sc 66)+$(sc 46)" -composite \
    -fill "$ORANGE" -draw "rectangle 0,$((H - $(sc 3))) $((W - 1)),$((H - 1))" \
    "$work/about.png"
  save_bmp "$work/about.png" about
}

# Placeholder thumbnails, 104 x 78 at 100 %: a film frame with a play button
# for movies, a sound wave with a note for audio.
movie_thumbnail() {
  local W H band holes=() x r
  W=$(sc 104)
  H=$(sc 78)
  band=$(sc 11)
  r=$(sl 1)
  for ((x = 4; x < 104; x += 10)); do
    holes+=(-draw "$(rect $x 3 $((x + 5)) 7 1)"
            -draw "roundrectangle $(sc $x),$((H - $(sc 8))) $(se $((x + 5))),$(sf "$H" 78 74) $r,$r")
  done
  "${IM[@]}" -size "${W}x${H}" "gradient:#214a7e-#10294a" \
    -fill '#081a31' -draw "rectangle 0,0 $((W - 1)),$((band - 1))" \
    -draw "rectangle 0,$((H - band)) $((W - 1)),$((H - 1))" \
    -fill '#3b5d8c' "${holes[@]}" \
    -fill "$ORANGE" -draw "$(circle 52 39 17)" \
    -fill white -draw "polygon $(sp 46),$(sp 29) $(sp 46),$(sp 49) $(sp 62),$(sp 39)" \
    "$work/movie.png"
  save_bmp "$work/movie.png" movie
}

audio_thumbnail() {
  local W H bars=() x i=0 hgt
  local heights=(6 10 16 9 22 14 26 18 11 20 8 15 24 12 7 17 21 10 13 6 9)
  W=$(sc 104)
  H=$(sc 78)
  for ((x = 5; x < 100 && i < ${#heights[@]}; x += 5)); do
    hgt=${heights[i]}
    i=$((i + 1))
    bars+=(-draw "$(rect $x $((39 - hgt)) $((x + 2)) $((39 + hgt)) 1)")
  done
  text_png "$work/note.png" "$BOLD" "$(fs 22)" white "♫"
  "${IM[@]}" -size "${W}x${H}" "gradient:#214a7e-#10294a" \
    -fill '#2f5b93' "${bars[@]}" \
    -fill "$ORANGE" -draw "$(circle 52 39 17)" \
    "$work/note.png" -gravity center -geometry "+0+$(sc 1)" -composite \
    "$work/audio.png"
  save_bmp "$work/audio.png" audio
}

# Beside the album list in the album dialog, 64 x 70 at 100 %, on white: an
# album with a photo on its cover.
album_picture() {
  "${IM[@]}" -size "$(sc 64)x$(sc 70)" xc:white \
    -fill '#d9e2ee' -draw "$(rect 10 8 60 66 5)" \
    -fill "$BLUE" -draw "$(rect 6 4 56 62 5)" \
    -fill "$NAVY" -draw "$(rect 6 4 15 62 4)" -draw "$(rect 11 4 15 62)" \
    -fill white -draw "$(rect 21 14 50 40)" \
    -fill '#bcd6f5' -draw "$(rect 23 16 48 38)" \
    -fill "$ORANGE" -draw "$(circle 42 22 3)" \
    -fill '#3f8f5a' -draw "polygon $(sc 23),$(se 38) $(sp 31),$(sp 26) $(sp 37),$(sp 33) $(sp 41),$(sp 29) $(se 48),$(se 38)" \
    -fill '#cfe0f6' -draw "$(rect 21 47 50 49)" -draw "$(rect 21 53 42 55)" \
    "$work/album.png"
  save_bmp "$work/album.png" album
}

# 110 x 110 at 100 %: the logo mark on white.
logo_picture() {
  logo_png "$work/logo.png" "$(sc 88)"
  "${IM[@]}" -size "$(sc 110)x$(sc 110)" xc:white "$work/logo.png" -gravity center -composite \
    "$work/logo_pic.png"
  save_bmp "$work/logo_pic.png" logo
}

# Every image must have exactly the size the windows are laid out for: the
# 100 % size times the scale, rounded.
check_size() { # <name> <width> <height>
  local got want
  got=$("${IM[@]}" "$out/$1$SFX.bmp" -format '%wx%h' info:)
  want=$(sc "$2")x$(sc "$3")
  [ "$got" = "$want" ] || { echo "draw-artwork: $1$SFX.bmp is $got, expected $want" >&2; exit 1; }
}

draw_scale() {
  band_button ADDBUTTON 127 "+" "Add files"
  band_button REMBUTTON 115 "✕" "Remove"
  band_button ROTBUTTON 127 "↻" "Rotate"
  upload_button
  bar_button SETBUTTON 126 126 "Settings"
  bar_button HLPBUTTON 45 45 "Help"
  bar_button WWWBUTTON 90 84 "Website"
  banner
  list_background
  about_picture
  movie_thumbnail
  audio_thumbnail
  album_picture
  logo_picture

  local s
  for s in u d f x; do
    check_size "addbutton$s" 127 38
    check_size "rembutton$s" 115 38
    check_size "rotbutton$s" 127 38
    check_size "uplbutton$s" 369 42
  done
  for s in u d f; do
    check_size "setbutton$s" 126 21
    check_size "hlpbutton$s" 45 21
    check_size "wwwbutton$s" 90 21
  done
  check_size banner 369 151
  check_size listbackground 369 312
  check_size about 290 85
  check_size movie 104 78
  check_size audio 104 78
  check_size album 64 70
  check_size logo 110 110
}

# The main window as it will look at the current scale: banner with its
# buttons, list with two thumbnails, upload button.
preview_window() { # <file>
  "${IM[@]}" -size "$(sc 369)x$(sc 512)" xc:white \
    "$out/banner$SFX.bmp" -geometry +0+0 -composite \
    "$out/listbackground$SFX.bmp" -geometry "+0+$(sc 158)" -composite \
    "$out/movie$SFX.bmp" -geometry "+$(sc 14)+$(sc 170)" -composite \
    "$out/audio$SFX.bmp" -geometry "+$(sc 132)+$(sc 170)" -composite \
    "$out/setbuttonu$SFX.bmp" -geometry "+$(sc 108)+0" -composite \
    "$out/hlpbuttonu$SFX.bmp" -geometry "+$(sc 234)+0" -composite \
    "$out/wwwbuttonu$SFX.bmp" -geometry "+$(sc 285)+0" -composite \
    "$out/addbuttonf$SFX.bmp" -geometry "+0+$(sc 111)" -composite \
    "$out/rembuttonx$SFX.bmp" -geometry "+$(sc 126)+$(sc 111)" -composite \
    "$out/rotbuttonu$SFX.bmp" -geometry "+$(sc 242)+$(sc 111)" -composite \
    "$out/uplbuttonu$SFX.bmp" -geometry "+0+$(sc 471)" -composite \
    "$1"
}

# Every state of every button and every picture at the current scale.
preview_parts() { # <file>
  local rows=() stem s
  for stem in addbutton rembutton rotbutton uplbutton; do
    rows+=(\( "$out/${stem}u$SFX.bmp" "$out/${stem}d$SFX.bmp" "$out/${stem}f$SFX.bmp" "$out/${stem}x$SFX.bmp" +append \))
  done
  for stem in setbutton hlpbutton wwwbutton; do
    rows+=(\( "$out/${stem}u$SFX.bmp" "$out/${stem}d$SFX.bmp" "$out/${stem}f$SFX.bmp" +append \))
  done
  rows+=(\( "$out/about$SFX.bmp" "$out/movie$SFX.bmp" "$out/audio$SFX.bmp" "$out/album$SFX.bmp" "$out/logo$SFX.bmp" +append \))
  "${IM[@]}" -background '#808080' "${rows[@]}" -gravity south -splice 0x4 -gravity west -append +repage "$1"
}

for SCALE in "${SCALES[@]}"; do
  SFX=$([ "$SCALE" = 100 ] || echo "_$SCALE")
  draw_scale
done
SCALE=100
SFX=''
program_icon

if [ "${1:-}" = preview ]; then
  p=/tmp/quib-artwork-preview
  rm -rf "$p"
  mkdir -p "$p"
  sheet=()
  for SCALE in "${SCALES[@]}"; do
    SFX=$([ "$SCALE" = 100 ] || echo "_$SCALE")
    preview_window "$p/mainwindow$SFX.png"
    preview_parts "$p/parts$SFX.png"
    sheet+=("$p/mainwindow$SFX.png")
  done
  # All scales side by side at their real pixel sizes.
  "${IM[@]}" -background '#808080' "${sheet[@]}" -gravity east -splice 8x0 -gravity north +append +repage \
    "$p/contact-mainwindow.png"
  # The icon images at their size on light and dark, and enlarged 6 times.
  icons=()
  for s in "${ICON_SIZES[@]}"; do icons+=("$work/icon$s.png"); done
  "${IM[@]}" -background none "${icons[@]}" -gravity east -splice 6x0 -gravity south +append +repage "$work/icons.png"
  "${IM[@]}" \( "$work/icons.png" -background white -flatten \) \
    \( "$work/icons.png" -background "$NAVY_DARK" -flatten \) -append "$p/icons.png"
  "${IM[@]}" -background white "${icons[@]:0:6}" -gravity east -splice 6x0 -gravity south +append +repage -flatten \
    -filter point -resize 600% "$p/icons-small-x6.png"
  echo "previews in $p"
fi
