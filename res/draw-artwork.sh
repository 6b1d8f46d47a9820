#!/usr/bin/env bash
# Draws every bitmap and the icon of quibuploader.exe into res/bitmaps and
# res/quibuploader.ico. The results are committed; the build does not run this.
#
#   bash res/draw-artwork.sh            redraw everything
#   bash res/draw-artwork.sh preview    also write a contact sheet to /tmp
#
# Needs ImageMagick and the DejaVu fonts (fonts-dejavu-core). Bitmaps are
# 24-bit uncompressed BMPs without alpha, as LoadBitmap and the skinned buttons
# expect; the icon holds 16, 32 and 48 pixel images with alpha.
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

# Writes a 24-bit BMP without alpha.
save_bmp() { # <input image> <name>
  "${IM[@]}" "$1" -background white -alpha remove -alpha off -type TrueColor \
    -define bmp:format=bmp3 "BMP3:$out/$2.bmp"
}

# A transparent text image, trimmed to the font's box.
text_png() { # <file> <font> <size> <colour> <text>
  "${IM[@]}" -background none -fill "$4" -font "$2" -pointsize "$3" label:"$5" "$1"
}

# Icon glyph and caption side by side, vertically centred.
caption_png() { # <file> <size> <icon colour> <text colour> <icon> <text>
  local f=$1 size=$2
  text_png "$work/cap_t.png" "$BOLD" "$size" "$4" "$6"
  if [ -n "$5" ]; then
    text_png "$work/cap_i.png" "$BOLD" "$((size + 3))" "$3" "$5"
    "${IM[@]}" -background none "$work/cap_i.png" -size "$((size / 2))x1" xc:none \
      "$work/cap_t.png" -gravity center +append "$f"
  else
    cp "$work/cap_t.png" "$f"
  fi
}

# The product name with a small raised registered sign.
wordmark_png() { # <file> <size> <colour>
  local size=$2 small=$(($2 * 11 / 20))
  text_png "$work/wm_a.png" "$BOLD" "$size" "$3" "quib"
  text_png "$work/wm_r.png" "$BOLD" "$small" "$3" "®"
  text_png "$work/wm_b.png" "$BOLD" "$size" "$3" "-uploader"
  "${IM[@]}" -background none "$work/wm_a.png" \
    \( "$work/wm_r.png" -gravity north -splice "0x$((size / 8))" \) \
    "$work/wm_b.png" -gravity north +append "$1"
}

# Big buttons lying on the navy band of the banner: a light face with a soft
# shadow; pressed is darker and sunk by one pixel, focused carries an orange
# ring, disabled sinks into the band.
band_button() { # <stem> <width> <icon> <text>
  local stem=$1 w=$2 h=38 icon=$3 text=$4
  local x1=$((w - 4)) y1=$((h - 5))
  for state in U D F X; do
    local face=white shadow='#081d38' ring=none fg=$INK ic=$BLUE dx=0 dy=0
    case $state in
      D) face='#c9dbf3'; shadow=$NAVY; dy=1; dx=1 ;;
      F) ring=$ORANGE ;;
      X) face=$MUTED; shadow=$NAVY; fg=$MUTED_INK; ic=$MUTED_INK ;;
    esac
    caption_png "$work/cap.png" 12 "$ic" "$fg" "$icon" "$text"
    local draw=(-fill "$shadow" -draw "roundrectangle 3,$((3 + 2)) $x1,$((y1 + 2)) 8,8")
    [ "$state" = D ] && draw=()
    "${IM[@]}" -size "${w}x${h}" "xc:$NAVY" "${draw[@]}" \
      -fill "$face" -draw "roundrectangle 3,$((3 + dy)) $x1,$((y1 + dy)) 8,8" \
      "$work/face.png"
    if [ "$ring" != none ]; then
      "${IM[@]}" "$work/face.png" -fill none -stroke "$ring" -strokewidth 2 \
        -draw "roundrectangle 4,4 $((x1 - 1)),$((y1 - 1)) 7,7" "$work/face.png"
    fi
    "${IM[@]}" "$work/face.png" "$work/cap.png" -gravity center \
      -geometry "+$dx+$((dy - 1))" -composite "$work/btn.png"
    save_bmp "$work/btn.png" "${stem,,}$(echo "$state" | tr 'UDFX' 'udfx')"
  done
}

# Small text buttons on the dark top bar: plain text, a dark pill when
# pressed, an orange outline when focused. Never disabled, so no X image.
# <visible> is the width that is actually on screen (the rest is cut off by
# the window edge for the last button).
bar_button() { # <stem> <width> <visible> <text>
  local stem=$1 w=$2 vis=$3 text=$4 h=21
  for state in U D F; do
    local fg=$SKY dx=0 dy=0 pre=()
    case $state in
      D) fg=white; dy=1; pre=(-fill '#061a33' -draw "roundrectangle 2,2 $((vis - 3)),$((h - 2)) 6,6") ;;
      F) fg=white; pre=(-fill none -stroke "$ORANGE" -strokewidth 1.5 \
                        -draw "roundrectangle 2,2 $((vis - 3)),$((h - 3)) 6,6") ;;
    esac
    local rest=()
    [ "$w" -gt "$vis" ] && rest=(-size "$((w - vis))x${h}" "xc:$NAVY_DARK" +append)
    text_png "$work/cap.png" "$BOLD" 11 "$fg" "$text"
    "${IM[@]}" -size "${vis}x${h}" "xc:$NAVY_DARK" "${pre[@]}" \
      "$work/cap.png" -gravity center -geometry "+$dx+$dy" -composite \
      "${rest[@]}" "$work/btn.png"
    save_bmp "$work/btn.png" "${stem,,}$(echo "$state" | tr 'UDF' 'udf')"
  done
}

# The wide upload button below the list, on the white dialog background.
upload_button() {
  local w=369 h=42
  for state in U D F X; do
    local top=$ORANGE_HI bottom=$ORANGE_LO fg=white dy=0 ring=none shadow='#d7dde6'
    case $state in
      D) top=$ORANGE_LO; bottom='#d26106'; dy=1; shadow=white ;;
      F) ring=$NAVY ;;
      X) top='#e3e8ef'; bottom='#d5dce6'; fg='#98a6b8' ;;
    esac
    "${IM[@]}" -size "$((w - 6))x$((h - 7))" "gradient:$top-$bottom" \
      \( +clone -fill black -colorize 100 -fill white \
         -draw "roundrectangle 0,0 $((w - 7)),$((h - 8)) 9,9" \) \
      -alpha off -compose CopyOpacity -composite "$work/pill.png"
    caption_png "$work/cap.png" 15 "$fg" "$fg" "⬆" "Upload"
    "${IM[@]}" -size "${w}x${h}" xc:white \
      -fill "$shadow" -draw "roundrectangle 3,5 $((w - 4)),$((h - 2)) 9,9" \
      "$work/pill.png" -geometry "+3+$((2 + dy))" -compose over -composite \
      "$work/face.png"
    if [ "$ring" != none ]; then
      "${IM[@]}" "$work/face.png" -fill none -stroke "$ring" -strokewidth 2 \
        -draw "roundrectangle 4,3 $((w - 5)),$((h - 6)) 8,8" "$work/face.png"
    fi
    "${IM[@]}" "$work/face.png" "$work/cap.png" -gravity center \
      -geometry "+0+$((dy - 1))" -composite "$work/btn.png"
    save_bmp "$work/btn.png" "uplbutton$(echo "$state" | tr 'UDFX' 'udfx')"
  done
}

# The logo mark: an orange rounded square with a white arrow rising out of a
# tray. Drawn large with alpha and scaled down.
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

# Banner at the top of the main window, 369 x 151. Rows of the window that lie
# on it: the settings/help/website buttons at the top (21 px), the add, remove
# and rotate buttons at about y 111 (38 px). Both rows sit on flat colour so
# that the buttons blend in even when dialog units round differently.
banner() {
  logo_png "$work/logo52.png" 52
  wordmark_png "$work/word.png" 26 white
  text_png "$work/tag.png" "$SANS" 11 "$SKY" "Pictures, movies and music to your albums"
  # Hero area with soft circles for depth, kept clear of the button band.
  "${IM[@]}" -size 369x80 "gradient:$BLUE-$NAVY" \
    -fill 'rgba(255,255,255,0.06)' -draw "circle 345,8 345,66" \
    -fill 'rgba(255,255,255,0.04)' -draw "circle 300,-30 300,52" \
    "$work/hero.png"
  "${IM[@]}" -size 369x151 "xc:$NAVY" \
    -fill "$NAVY_DARK" -draw "rectangle 0,0 368,22" \
    "$work/hero.png" -geometry +0+23 -composite \
    -fill '#2a5fa5' -draw "line 0,23 368,23" \
    "$work/logo52.png" -geometry +16+34 -composite \
    "$work/word.png" -geometry +80+35 -composite \
    "$work/tag.png" -geometry +82+70 -composite \
    "$work/banner.png"
  save_bmp "$work/banner.png" banner
}

# Tiled behind the thumbnails: almost white with a faint grid of small crosses
# whose spacing divides the tile (369 = 9 x 41, 312 = 8 x 39), so it repeats
# without seams.
list_background() {
  local draw=() x y
  for ((x = 20; x < 369; x += 41)); do
    for ((y = 19; y < 312; y += 39)); do
      draw+=(-draw "line $((x - 2)),$y $((x + 2)),$y" -draw "line $x,$((y - 2)) $x,$((y + 2))")
    done
  done
  "${IM[@]}" -size 369x312 "xc:$PAPER" -stroke '#e2e9f3' -strokewidth 1 "${draw[@]}" \
    "$work/list.png"
  save_bmp "$work/list.png" listbackground
}

# Top of the about box, 290 x 85.
about_picture() {
  logo_png "$work/logo44.png" 44
  wordmark_png "$work/word.png" 22 white
  text_png "$work/tag.png" "$SANS" 10 "$SKY" "Pictures, movies and music to your albums"
  "${IM[@]}" -size 85x290 "gradient:$BLUE-$NAVY" -rotate -90 \
    -fill 'rgba(255,255,255,0.06)' -draw "circle 262,8 262,80" \
    "$work/logo44.png" -geometry +12+16 -composite \
    "$work/word.png" -geometry +65+16 -composite \
    "$work/tag.png" -geometry +66+46 -composite \
    -fill "$ORANGE" -draw "rectangle 0,82 289,84" \
    "$work/about.png"
  save_bmp "$work/about.png" about
}

# Placeholder thumbnails, 104 x 78: a film frame with a play button for
# movies, a sound wave with a note for audio.
movie_thumbnail() {
  local holes=() x
  for ((x = 4; x < 104; x += 10)); do
    holes+=(-draw "roundrectangle $x,3 $((x + 5)),7 1,1" -draw "roundrectangle $x,70 $((x + 5)),74 1,1")
  done
  "${IM[@]}" -size 104x78 "gradient:#214a7e-#10294a" \
    -fill '#081a31' -draw "rectangle 0,0 103,10" -draw "rectangle 0,67 103,77" \
    -fill '#3b5d8c' "${holes[@]}" \
    -fill "$ORANGE" -draw "circle 52,39 52,56" \
    -fill white -draw "polygon 46,29 46,49 62,39" \
    "$work/movie.png"
  save_bmp "$work/movie.png" movie
}

audio_thumbnail() {
  local bars=() x i=0 hgt
  local heights=(6 10 16 9 22 14 26 18 11 20 8 15 24 12 7 17 21 10 13 6 9)
  for ((x = 5; x < 100 && i < ${#heights[@]}; x += 5)); do
    hgt=${heights[i]}
    i=$((i + 1))
    bars+=(-draw "roundrectangle $x,$((39 - hgt)) $((x + 2)),$((39 + hgt)) 1,1")
  done
  text_png "$work/note.png" "$BOLD" 22 white "♫"
  "${IM[@]}" -size 104x78 "gradient:#214a7e-#10294a" \
    -fill '#2f5b93' "${bars[@]}" \
    -fill "$ORANGE" -draw "circle 52,39 52,56" \
    "$work/note.png" -gravity center -geometry +0+1 -composite \
    "$work/audio.png"
  save_bmp "$work/audio.png" audio
}

# Beside the album list in the album dialog, 64 x 70, on white: an album
# with a photo on its cover.
album_picture() {
  "${IM[@]}" -size 64x70 xc:white \
    -fill '#d9e2ee' -draw "roundrectangle 10,8 60,66 5,5" \
    -fill "$BLUE" -draw "roundrectangle 6,4 56,62 5,5" \
    -fill "$NAVY" -draw "roundrectangle 6,4 15,62 4,4" -draw "rectangle 11,4 15,62" \
    -fill white -draw "rectangle 21,14 50,40" \
    -fill '#bcd6f5' -draw "rectangle 23,16 48,38" \
    -fill "$ORANGE" -draw "circle 42,22 42,25" \
    -fill '#3f8f5a' -draw "polygon 23,38 31,26 37,33 41,29 48,38" \
    -fill '#cfe0f6' -draw "rectangle 21,47 50,49" -draw "rectangle 21,53 42,55" \
    "$work/album.png"
  save_bmp "$work/album.png" album
}

# 110 x 110: the logo mark on white.
logo_picture() {
  logo_png "$work/logo88.png" 88
  "${IM[@]}" -size 110x110 xc:white "$work/logo88.png" -gravity center -composite \
    "$work/logo.png"
  save_bmp "$work/logo.png" logo
}

# Icon group: 16, 32 and 48 pixels, 32 bits per pixel.
program_icon() {
  local s
  for s in 16 32 48; do
    logo_png "$work/icon$s.png" "$s"
    # Keep the small sizes crisp.
    [ "$s" -lt 48 ] && "${IM[@]}" "$work/icon$s.png" -unsharp 0x0.6+0.8+0 "$work/icon$s.png"
  done
  "${IM[@]}" "$work/icon16.png" "$work/icon32.png" "$work/icon48.png" \
    -define icon:format=bmp "$here/quibuploader.ico"
}

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
program_icon

# Every image must have exactly the size the windows are laid out for.
check_size() { # <file> <width>x<height>
  local got
  got=$("${IM[@]}" "$1" -format '%wx%h' info:)
  [ "$got" = "$2" ] || { echo "draw-artwork: $1 is $got, expected $2" >&2; exit 1; }
}
for s in u d f x; do
  check_size "$out/addbutton$s.bmp" 127x38
  check_size "$out/rembutton$s.bmp" 115x38
  check_size "$out/rotbutton$s.bmp" 127x38
  check_size "$out/uplbutton$s.bmp" 369x42
done
for s in u d f; do
  check_size "$out/setbutton$s.bmp" 126x21
  check_size "$out/hlpbutton$s.bmp" 45x21
  check_size "$out/wwwbutton$s.bmp" 90x21
done
check_size "$out/banner.bmp" 369x151
check_size "$out/listbackground.bmp" 369x312
check_size "$out/about.bmp" 290x85
check_size "$out/movie.bmp" 104x78
check_size "$out/audio.bmp" 104x78
check_size "$out/album.bmp" 64x70
check_size "$out/logo.bmp" 110x110

if [ "${1:-}" = preview ]; then
  # The main window as it will look: banner with its buttons, list, upload.
  p=/tmp/quib-artwork-preview
  mkdir -p "$p"
  for f in "$out"/*.bmp; do "${IM[@]}" "$f" "$p/$(basename "${f%.bmp}").png"; done
  "${IM[@]}" -size 369x512 xc:white \
    "$out/banner.bmp" -geometry +0+0 -composite \
    "$out/listbackground.bmp" -geometry +0+158 -composite \
    "$out/movie.bmp" -geometry +14+170 -composite \
    "$out/audio.bmp" -geometry +132+170 -composite \
    "$out/setbuttonu.bmp" -geometry +108+0 -composite \
    "$out/hlpbuttonu.bmp" -geometry +234+0 -composite \
    "$out/wwwbuttonu.bmp" -geometry +285+0 -composite \
    "$out/addbuttonf.bmp" -geometry +0+111 -composite \
    "$out/rembuttonx.bmp" -geometry +126+111 -composite \
    "$out/rotbuttonu.bmp" -geometry +242+111 -composite \
    "$out/uplbuttonu.bmp" -geometry +0+471 -composite \
    "$p/mainwindow.png"
  echo "previews in $p"
fi
