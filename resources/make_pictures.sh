#!/bin/bash
# Regenerates every picture of the program (resources/png/*.png, resources/icons/*.png)
# from the Tango icon theme (public domain, Debian package tango-icon-theme) and from
# a few small drawings written below as SVG text.
# Needs: tango-icon-theme, librsvg2-bin (rsvg-convert), imagemagick (convert).
# Output is byte-for-byte reproducible: metadata and timestamps are stripped.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
T=/usr/share/icons/Tango
SC=$T/scalable
PNG=$here/png
ICONS=$here/icons
mkdir -p "$PNG" "$ICONS"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

for tool in rsvg-convert convert; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
[ -d "$SC" ] || { echo "missing Tango icon theme in $T" >&2; exit 1; }

# svg SOURCE SIZE OUT: render an SVG to a SIZE x SIZE PNG
svg() { rsvg-convert -w "$2" -h "$2" -o "$3" "$1"; }

# canvas SIZE OUT: an empty transparent picture
canvas() { convert -size "$1x$1" xc:none "PNG32:$2"; }

# put BASE OVER X Y OUT: composite OVER onto BASE at (X, Y)
put() { convert "$1" "$2" -geometry "$(printf '%+d%+d' "$3" "$4")" -compose over -composite "PNG32:$5"; }

# save IN NAME SIZE [DIR]: write the final picture, checked for size, without metadata
save() {
    local in=$1 name=$2 size=$3 dir=${4:-$PNG}
    convert "$in" -background none -gravity center -extent "${size}x${size}" \
        -strip -define png:exclude-chunks=date,time,tIME,zTXt,tEXt,iTXt \
        -define png:compression-level=9 "PNG32:$dir/$name.png"
    local got
    got=$(convert "$dir/$name.png" -format '%wx%h' info:)
    [ "$got" = "${size}x${size}" ] || { echo "$name: size $got, wanted ${size}x${size}" >&2; exit 1; }
}

# tango CONTEXT/NAME SIZE OUT: a Tango icon at SIZE; 16 and 24 pixels come from the
# theme's own pixel-tuned bitmaps, other sizes are rendered from the scalable SVG
tango() {
    local n=$1 size=$2 out=$3
    if [ "$size" = 16 ] || [ "$size" = 24 ]; then
        if [ -f "$T/${size}x${size}/$n.png" ]; then
            convert "$T/${size}x${size}/$n.png" "PNG32:$out"
            return
        fi
    fi
    svg "$SC/$n.svg" "$size" "$out"
}

# ---------------------------------------------------------------- own drawings
# Drawings in the Tango palette (aluminium #eeeeec..#2e3436, sky blue #729fcf/#3465a4/#204a87,
# chameleon #8ae234/#73d216/#4e9a06, butter #fce94f/#edd400/#c4a000).

# A smartphone, drawn for 48 x 48 and larger
cat >"$W/phone.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">
 <defs>
  <linearGradient id="body" x1="0" y1="0" x2="1" y2="1">
   <stop offset="0" stop-color="#888a85"/><stop offset="0.45" stop-color="#555753"/><stop offset="1" stop-color="#2e3436"/>
  </linearGradient>
  <linearGradient id="scr" x1="0" y1="0" x2="0.4" y2="1">
   <stop offset="0" stop-color="#729fcf"/><stop offset="1" stop-color="#204a87"/>
  </linearGradient>
  <radialGradient id="shadow" cx="0.5" cy="0.5" r="0.5">
   <stop offset="0" stop-color="#000" stop-opacity="0.35"/><stop offset="1" stop-color="#000" stop-opacity="0"/>
  </radialGradient>
 </defs>
 <ellipse cx="24" cy="44.5" rx="15" ry="3" fill="url(#shadow)"/>
 <rect x="11.5" y="1.5" width="25" height="43" rx="4.5" fill="url(#body)" stroke="#1e2224"/>
 <rect x="12.5" y="2.5" width="23" height="41" rx="3.5" fill="none" stroke="#ffffff" stroke-opacity="0.3"/>
 <rect x="14" y="7.5" width="20" height="30" fill="url(#scr)" stroke="#1a1a1a"/>
 <g stroke="#000" stroke-opacity="0.25" stroke-width="0.5">
  <rect x="15.5" y="9.5" width="4.5" height="4.5" rx="1" fill="#ef2929"/>
  <rect x="21.75" y="9.5" width="4.5" height="4.5" rx="1" fill="#fcaf3e"/>
  <rect x="28" y="9.5" width="4.5" height="4.5" rx="1" fill="#fce94f"/>
  <rect x="15.5" y="16" width="4.5" height="4.5" rx="1" fill="#8ae234"/>
  <rect x="21.75" y="16" width="4.5" height="4.5" rx="1" fill="#eeeeec"/>
  <rect x="28" y="16" width="4.5" height="4.5" rx="1" fill="#ad7fa8"/>
  <rect x="15.5" y="22.5" width="4.5" height="4.5" rx="1" fill="#e9b96e"/>
  <rect x="21.75" y="22.5" width="4.5" height="4.5" rx="1" fill="#73d216"/>
  <rect x="28" y="22.5" width="4.5" height="4.5" rx="1" fill="#f57900"/>
 </g>
 <path d="M 14.5,8 L 33.5,8 L 33.5,18 C 27,21 20,23 14.5,23.5 Z" fill="#ffffff" fill-opacity="0.22"/>
 <rect x="21" y="4.2" width="6" height="1.4" rx="0.7" fill="#1e2224"/>
 <circle cx="24" cy="40.8" r="2.2" fill="#2e3436" stroke="#babdb6" stroke-width="0.8"/>
</svg>
EOF

# A smartphone, drawn pixel by pixel for 16 x 16
cat >"$W/phone16.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">
 <defs>
  <linearGradient id="body" x1="0" y1="0" x2="1" y2="1">
   <stop offset="0" stop-color="#888a85"/><stop offset="1" stop-color="#2e3436"/>
  </linearGradient>
  <linearGradient id="scr" x1="0" y1="0" x2="0" y2="1">
   <stop offset="0" stop-color="#8fb3e0"/><stop offset="1" stop-color="#204a87"/>
  </linearGradient>
 </defs>
 <rect x="3.5" y="0.5" width="9" height="15" rx="1.5" fill="url(#body)" stroke="#1e2224"/>
 <rect x="5" y="2" width="6" height="10" fill="url(#scr)"/>
 <rect x="5" y="2" width="6" height="4" fill="#ffffff" fill-opacity="0.2"/>
 <rect x="7" y="13" width="2" height="1" fill="#babdb6"/>
</svg>
EOF

# A green down arrow badge for 16 x 16 (lower right)
cat >"$W/install16.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">
 <path d="M 11.5,7.5 L 14.5,7.5 L 14.5,10.5 L 16.5,10.5 L 13,15.5 L 9.5,10.5 L 11.5,10.5 Z"
       fill="#73d216" stroke="#3b7504" stroke-width="1" stroke-linejoin="round"/>
 <path d="M 12.5,8.5 L 13.5,8.5" stroke="#ffffff" stroke-opacity="0.6" stroke-width="1"/>
</svg>
EOF

# A green tick, drawn for 32 x 32
cat >"$W/check.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">
 <defs>
  <linearGradient id="g" x1="0" y1="0" x2="0" y2="1">
   <stop offset="0" stop-color="#8ae234"/><stop offset="1" stop-color="#4e9a06"/>
  </linearGradient>
 </defs>
 <path d="M 3.5,17.5 L 8.5,12.5 L 13,17 L 24.5,5.5 L 29.5,10.5 L 13,27 Z"
       fill="url(#g)" stroke="#3b7504" stroke-width="1.5" stroke-linejoin="round"/>
 <path d="M 5.6,17.5 L 8.5,14.6 L 13,19.1 L 24.5,7.6" fill="none"
       stroke="#ffffff" stroke-opacity="0.45" stroke-width="1"/>
</svg>
EOF

# A bold blue plus, drawn for 32 x 32
cat >"$W/plus.svg" <<'EOF2'
<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">
 <defs>
  <linearGradient id="g" x1="0" y1="0" x2="0" y2="1">
   <stop offset="0" stop-color="#9cbde6"/><stop offset="0.5" stop-color="#729fcf"/><stop offset="1" stop-color="#3465a4"/>
  </linearGradient>
 </defs>
 <path d="M 12.5,3.5 L 19.5,3.5 L 19.5,12.5 L 28.5,12.5 L 28.5,19.5 L 19.5,19.5 L 19.5,28.5
          L 12.5,28.5 L 12.5,19.5 L 3.5,19.5 L 3.5,12.5 L 12.5,12.5 Z"
       fill="url(#g)" stroke="#204a87" stroke-width="1" stroke-linejoin="round"/>
 <path d="M 13.5,11.5 L 13.5,4.5 L 18.5,4.5 M 4.5,18.5 L 4.5,13.5 L 13.5,13.5 M 18.5,13.5 L 27.5,13.5"
       fill="none" stroke="#ffffff" stroke-opacity="0.5" stroke-width="1"/>
</svg>
EOF2

# A weight (for a package's size), drawn for 16 x 16
cat >"$W/weight16.svg" <<'EOF2'
<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">
 <defs>
  <linearGradient id="g" x1="0" y1="0" x2="1" y2="1">
   <stop offset="0" stop-color="#888a85"/><stop offset="1" stop-color="#2e3436"/>
  </linearGradient>
 </defs>
 <circle cx="8" cy="4" r="2.5" fill="none" stroke="#2e3436" stroke-width="1.6"/>
 <path d="M 4.5,6.5 L 11.5,6.5 L 14.5,14.5 L 1.5,14.5 Z" fill="url(#g)" stroke="#1e2224" stroke-width="1" stroke-linejoin="round"/>
 <path d="M 5.2,7.5 L 10.8,7.5" stroke="#ffffff" stroke-opacity="0.35" stroke-width="1"/>
</svg>
EOF2

# A closed envelope (an e-mail address), drawn for 16 x 16
cat >"$W/mail16.svg" <<'EOF2'
<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">
 <defs>
  <linearGradient id="g" x1="0" y1="0" x2="0" y2="1">
   <stop offset="0" stop-color="#ffffff"/><stop offset="1" stop-color="#d3d7cf"/>
  </linearGradient>
 </defs>
 <rect x="1.5" y="3.5" width="13" height="9" fill="url(#g)" stroke="#555753" stroke-width="1"/>
 <path d="M 1.5,12.5 L 6.5,8 M 14.5,12.5 L 9.5,8" fill="none" stroke="#babdb6" stroke-width="1"/>
 <path d="M 1.5,3.5 L 8,9.5 L 14.5,3.5" fill="none" stroke="#555753" stroke-width="1" stroke-linejoin="round"/>
</svg>
EOF2

# A yellow star, drawn for 32 x 32
cat >"$W/star.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">
 <defs>
  <linearGradient id="g" x1="0" y1="0" x2="0.3" y2="1">
   <stop offset="0" stop-color="#fffbb0"/><stop offset="0.5" stop-color="#fce94f"/><stop offset="1" stop-color="#edd400"/>
  </linearGradient>
 </defs>
 <polygon points="16.00,2.50 19.53,12.15 29.79,12.52 21.71,18.85 24.52,28.73 16.00,23.00 7.48,28.73 10.29,18.85 2.21,12.52 12.47,12.15"
          fill="url(#g)" stroke="#c4a000" stroke-width="1.3" stroke-linejoin="round"/>
</svg>
EOF

# State badges for 16 x 16 documents: green disc, yellow star, blue disc with a plus
cat >"$W/badge1.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">
 <defs>
  <radialGradient id="g" cx="0.35" cy="0.3" r="0.75">
   <stop offset="0" stop-color="#b8f07a"/><stop offset="0.5" stop-color="#73d216"/><stop offset="1" stop-color="#4e9a06"/>
  </radialGradient>
 </defs>
 <circle cx="11" cy="11" r="4.5" fill="url(#g)" stroke="#2f6104" stroke-width="1"/>
</svg>
EOF
cat >"$W/badge2.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">
 <polygon points="11.00,5.60 12.29,9.02 15.95,9.19 13.09,11.48 14.06,15.01 11.00,13.00 7.94,15.01 8.91,11.48 6.05,9.19 9.71,9.02"
          fill="#fce94f" stroke="#a08000" stroke-width="1" stroke-linejoin="round"/>
</svg>
EOF
cat >"$W/badge3.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">
 <defs>
  <radialGradient id="g" cx="0.35" cy="0.3" r="0.75">
   <stop offset="0" stop-color="#729fcf"/><stop offset="0.6" stop-color="#3465a4"/><stop offset="1" stop-color="#204a87"/>
  </radialGradient>
 </defs>
 <circle cx="11" cy="11" r="4.5" fill="url(#g)" stroke="#162f5a" stroke-width="1"/>
 <rect x="10" y="8" width="2" height="6" fill="#ffffff"/>
 <rect x="8" y="10" width="6" height="2" fill="#ffffff"/>
</svg>
EOF

# A chain link, drawn for 16 x 16
cat >"$W/link16.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">
 <g transform="rotate(-45 8 8)" fill="none" stroke-linecap="round">
  <rect x="0.8" y="5.5" width="8.2" height="5" rx="2.5" stroke="#2e3436" stroke-width="2.6"/>
  <rect x="7" y="5.5" width="8.2" height="5" rx="2.5" stroke="#2e3436" stroke-width="2.6"/>
  <rect x="0.8" y="5.5" width="8.2" height="5" rx="2.5" stroke="#babdb6" stroke-width="1.2"/>
  <rect x="7" y="5.5" width="8.2" height="5" rx="2.5" stroke="#d3d7cf" stroke-width="1.2"/>
 </g>
</svg>
EOF

# The pointing hand cursor, 32 x 32; the fingertip (hot spot) is pixel (11, 1)
cat >"$W/hand.svg" <<'EOF'
<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">
 <path d="M 9.5,20 L 9.5,3.5 A 2,2 0 0 1 13.5,3.5 L 13.5,11
          A 2,2 0 0 1 17.5,11 L 17.5,12 A 2,2 0 0 1 21.5,12 L 21.5,13.5 A 2,2 0 0 1 25.5,13.5
          L 25.5,21.5 C 25.5,24.5 24.5,26.5 23.5,27.5 L 23.5,30.5 L 12.5,30.5 L 12.5,27.5
          L 5.2,20.8 A 1.9,1.9 0 0 1 7.8,18 L 9.5,19.5 Z"
       fill="#ffffff" stroke="#000000" stroke-width="1" stroke-linejoin="round"/>
 <path d="M 13.5,11 L 13.5,16 M 17.5,12 L 17.5,16 M 21.5,13.5 L 21.5,16.5"
       fill="none" stroke="#000000" stroke-width="1"/>
</svg>
EOF

# ---------------------------------------------------------------- helpers for composites

# phoneat SIZE OUT: the smartphone at SIZE (16 uses the pixel drawing)
phoneat() { if [ "$1" -le 16 ]; then svg "$W/phone16.svg" "$1" "$2"; else svg "$W/phone.svg" "$1" "$2"; fi; }

# appicon SIZE OUT: program icon = smartphone with a package in front of it
appicon() {
    local s=$1 out=$2 ps pk px py
    ps=$s
    pk=$(( s * 60 / 100 ))
    phoneat "$ps" "$W/ai_phone.png"
    svg "$SC/mimetypes/package-x-generic.svg" "$pk" "$W/ai_pkg.png"
    canvas "$s" "$W/ai_base.png"
    put "$W/ai_base.png" "$W/ai_phone.png" "$(( -s * 12 / 100 ))" 0 "$W/ai_1.png"
    px=$(( s - pk ))
    py=$(( s - pk ))
    put "$W/ai_1.png" "$W/ai_pkg.png" "$px" "$py" "$out"
}

# ---------------------------------------------------------------- the pictures

# Side panel pictures, 48 x 48
svg "$SC/places/network-server.svg" 40 "$W/server.png"
svg "$SC/apps/internet-web-browser.svg" 26 "$W/globe.png"
canvas 48 "$W/b48.png"
put "$W/b48.png" "$W/server.png" 0 0 "$W/t1.png"
put "$W/t1.png" "$W/globe.png" 22 22 "$W/t2.png"
save "$W/t2.png" TAB_SOURCES 48

svg "$SC/mimetypes/package-x-generic.svg" 30 "$W/pk30.png"
put "$W/b48.png" "$W/pk30.png" 9 1 "$W/t1.png"
put "$W/t1.png" "$W/pk30.png" 0 17 "$W/t2.png"
put "$W/t2.png" "$W/pk30.png" 18 17 "$W/t3.png"
save "$W/t3.png" TAB_PACKAGES 48

svg "$SC/devices/computer.svg" 36 "$W/comp36.png"
phoneat 34 "$W/ph34.png"
put "$W/b48.png" "$W/comp36.png" 0 2 "$W/t1.png"
put "$W/t1.png" "$W/ph34.png" 19 14 "$W/t2.png"
save "$W/t2.png" TAB_SYNC 48

svg "$SC/categories/preferences-system.svg" 48 "$W/t1.png"
save "$W/t1.png" TAB_SETTINGS 48

# Tool buttons, 32 x 32
svg "$SC/actions/view-refresh.svg" 32 "$W/t1.png";  save "$W/t1.png" REFRESH 32
svg "$W/plus.svg" 32 "$W/t1.png";                   save "$W/t1.png" ADD 32
svg "$W/check.svg" 32 "$W/t1.png";                  save "$W/t1.png" CHECK 32
svg "$SC/places/user-trash.svg" 32 "$W/t1.png";     save "$W/t1.png" DELETE 32
svg "$SC/actions/process-stop.svg" 32 "$W/t1.png";  save "$W/t1.png" STOP 32
svg "$SC/actions/go-next.svg" 32 "$W/t1.png";       save "$W/t1.png" RIGHT 32

svg "$SC/mimetypes/package-x-generic.svg" 28 "$W/pk28.png"
svg "$SC/actions/go-down.svg" 20 "$W/down20.png"
canvas 32 "$W/b32.png"
put "$W/b32.png" "$W/pk28.png" 1 5 "$W/t1.png"
put "$W/t1.png" "$W/down20.png" 11 -1 "$W/t2.png"
save "$W/t2.png" DOWNLOAD 32

svg "$W/star.svg" 28 "$W/star28.png"
svg "$W/check.svg" 18 "$W/check18.png"
put "$W/b32.png" "$W/star28.png" 0 0 "$W/t1.png"
put "$W/t1.png" "$W/check18.png" 14 14 "$W/t2.png"
save "$W/t2.png" MARKALL 32

# Sync page
phoneat 48 "$W/t1.png";                              save "$W/t1.png" IPHONE 48
svg "$SC/devices/computer.svg" 48 "$W/comp48.png";   save "$W/comp48.png" COMPUTER 48
convert "$W/comp48.png" -flop "PNG32:$W/t1.png";     save "$W/t1.png" COMPUTERF 48
tango devices/drive-harddisk 16 "$W/t1.png";         save "$W/t1.png" DRIVE 16
phoneat 16 "$W/t1.png";                              save "$W/t1.png" PHONE1 16
svg "$W/install16.svg" 16 "$W/inst.png"
put "$W/t1.png" "$W/inst.png" 0 0 "$W/t2.png";       save "$W/t2.png" PHONE2 16

# Packages page
tango actions/system-search 24 "$W/t1.png";          save "$W/t1.png" SEARCH 24
tango actions/go-previous 24 "$W/t1.png";            save "$W/t1.png" BACK 24
svg "$SC/mimetypes/package-x-generic.svg" 48 "$W/t1.png"; save "$W/t1.png" APPLICATION 48
tango mimetypes/package-x-generic 16 "$W/t1.png";    save "$W/t1.png" PACKAGE 16
svg "$W/mail16.svg" 16 "$W/t1.png";                  save "$W/t1.png" AUTHOR 16
tango mimetypes/text-x-generic 16 "$W/t1.png";       save "$W/t1.png" DESC 16
tango apps/internet-web-browser 16 "$W/t1.png";      save "$W/t1.png" SITE 16
svg "$W/weight16.svg" 16 "$W/t1.png";                save "$W/t1.png" SIZE 16
svg "$W/link16.svg" 16 "$W/t1.png";                  save "$W/t1.png" DEPENDS 16
tango places/folder 16 "$W/t1.png";                  save "$W/t1.png" SECTION 16

# Row state pictures, 16 x 16
tango mimetypes/text-x-generic 16 "$W/doc16.png"
save "$W/doc16.png" STATE0 16
for n in 1 2 3; do
    svg "$W/badge$n.svg" 16 "$W/badge.png"
    put "$W/doc16.png" "$W/badge.png" 0 0 "$W/t1.png"
    save "$W/t1.png" "STATE$n" 16
done

# Hand cursor, 32 x 32
svg "$W/hand.svg" 32 "$W/t1.png";                    save "$W/t1.png" HAND 32

# Program icon and about picture
appicon 48 "$W/t1.png"
save "$W/t1.png" ICON 48
save "$W/t1.png" orvia 48 "$ICONS"
appicon 256 "$W/t1.png"
save "$W/t1.png" orvia-256 256 "$ICONS"
appicon 90 "$W/t1.png"
save "$W/t1.png" ABOUT 90

# The resource file: every picture under the prefix /png, by its bare name (":/png/TAB_SOURCES")
{
    echo '<!DOCTYPE RCC><RCC version="1.0">'
    echo '<qresource prefix="/png">'
    for n in TAB_SOURCES TAB_PACKAGES TAB_SYNC TAB_SETTINGS REFRESH ADD CHECK DELETE STOP DOWNLOAD \
             IPHONE COMPUTERF COMPUTER RIGHT ABOUT SEARCH MARKALL APPLICATION PACKAGE AUTHOR DESC \
             SITE SIZE DEPENDS SECTION BACK DRIVE PHONE1 PHONE2 STATE0 STATE1 STATE2 STATE3 HAND ICON; do
        [ -f "$PNG/$n.png" ] || { echo "missing $n.png" >&2; exit 1; }
        echo "    <file alias=\"$n\">png/$n.png</file>"
    done
    echo '</qresource>'
    echo '</RCC>'
} >"$here/orvia.qrc"

echo "pictures written to $PNG and $ICONS; resource list in $here/orvia.qrc"
