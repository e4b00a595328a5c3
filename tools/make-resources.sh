#!/usr/bin/env bash
# Regenerates the resources that are compiled into Tavio PC Tool (res/res.qrc)
# and the Windows icon:
#
#   res/fonts/OPPOSANS-R.TTF  interface font, family "OPPOSans R", Regular
#   res/fonts/OPPOSANS-B.TTF  its Bold face, same family
#   res/fonts/LICENSE.txt     licence and notices of both faces
#   res/*.png                 icons and panel background, from res/svg/*.svg
#   res/app.ico, res/app.rc   Windows application icon, from res/svg/app.svg
#   res/icons/NxN.png         the desktop icon at the hicolor theme's sizes
#
# The font is a subset of Debian's Droid Sans Fallback (CJK glyphs) with the
# Latin glyphs taken from Debian's Open Sans Regular (Droid Sans Fallback has
# no Latin letters); both are Apache-2.0. The Bold face takes its Latin
# glyphs from Open Sans Bold and its CJK glyphs from Noto Sans CJK SC Bold
# (OFL-1.1; Droid Sans Fallback has no bold), on the Regular face's tables
# and vertical metrics, so both faces set text on the same lines. Without
# it Qt would embolden the Regular face, which closes the dot of an "i".
# The results are renamed and kept small, as they are linked into the
# executable.
#
# Characters: printable ASCII, a few symbols used on their own in the title
# bar and labels (see EXTRA_CHARS below), and every character listed in
# res/fonts/glyphs.txt. glyphs.txt was made by collecting every character in
# U+4E00-U+9FFF, U+3000-U+303F and U+FF00-U+FFEF from the design document that
# quotes all interface texts. When an interface text gains a Chinese character
# or a full-width punctuation mark, add it to glyphs.txt and run this script
# again; a character missing there falls back to a system font at run time.
#
# Usage: tools/make-resources.sh   (from anywhere; needs root or the packages
# below already installed). Running it twice gives identical files.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
RES="$ROOT/res"
SVG="$RES/svg"
FONTS="$RES/fonts"

# Always Debian's interpreter: it is the one that has the fontTools module.
PY=/usr/bin/python3

CJK_FONT=/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf
LATIN_FONT=/usr/share/fonts/truetype/open-sans/OpenSans-Regular.ttf
LATIN_BOLD_FONT=/usr/share/fonts/truetype/open-sans/OpenSans-Bold.ttf
CJK_BOLD_FONT=/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc
CJK_BOLD_INDEX=2 # Noto Sans CJK SC Bold in the collection
CJK_COPYRIGHT=/usr/share/doc/fonts-droid-fallback/copyright
LATIN_COPYRIGHT=/usr/share/doc/fonts-open-sans/copyright
CJK_BOLD_COPYRIGHT=/usr/share/doc/fonts-noto-cjk/copyright
APACHE_TEXT=/usr/share/common-licenses/Apache-2.0

FAMILY="OPPOSans R"
PS_NAME="OPPOSans-R"
BOLD_PS_NAME="OPPOSans-RBold"

# Full-width punctuation used in the texts, plus symbols drawn as button or
# label text: U+25A1 (maximise), U+00D7 (close), U+00B0 (temperature),
# U+00A9 (copyright line), U+201C and U+201D (quotes in Qt's own file dialog),
# U+2192 (a version against the next, as in "1_0_5 → 1_0_6").
EXTRA_CHARS='：，！？（）□×°©“”→'

log() { printf '[make-resources] %s\n' "$*"; }
die() { printf '[make-resources] error: %s\n' "$*" >&2; exit 1; }

# ---------------------------------------------------------------- packages
need_pkgs=()
for pkg in python3 fonttools fonts-droid-fallback fonts-open-sans fonts-noto-cjk librsvg2-bin fontconfig; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need_pkgs+=("$pkg")
done
if ((${#need_pkgs[@]})); then
    log "installing ${need_pkgs[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq "${need_pkgs[@]}" >/dev/null 2>&1 \
        || { apt-get update -qq && apt-get install -y -qq "${need_pkgs[@]}" >/dev/null; }
fi
for f in "$CJK_FONT" "$LATIN_FONT" "$LATIN_BOLD_FONT" "$CJK_BOLD_FONT" "$CJK_COPYRIGHT" \
         "$LATIN_COPYRIGHT" "$CJK_BOLD_COPYRIGHT" "$APACHE_TEXT" "$FONTS/glyphs.txt"; do
    [[ -f "$f" ]] || die "missing $f"
done
command -v rsvg-convert >/dev/null || die "rsvg-convert not found"

mkdir -p "$FONTS"

# ---------------------------------------------------------------- font
# build_face OUT STYLE PS_NAME LATIN [CJK_OUTLINES CJK_INDEX]
# The CJK subset of Droid Sans Fallback gives every face its tables and
# metrics; CJK_OUTLINES, when given, replaces its ideographs' outlines.
build_face() {
log "building $1"
"$PY" - "$CJK_FONT" "$4" "$FONTS/glyphs.txt" "$1" "$FAMILY" "$3" "$EXTRA_CHARS" \
      "$2" "${5:-}" "${6:-0}" <<'PYEOF'
import sys
from fontTools.ttLib import TTFont
from fontTools.ttLib.scaleUpem import scale_upem
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.pens.cu2quPen import Cu2QuPen
from fontTools.pens.transformPen import TransformPen
from fontTools import subset

cjk_path, latin_path, glyphs_path, out_path, family, ps_name, extra = sys.argv[1:8]
style, outlines_path, outlines_index = sys.argv[8], sys.argv[9], int(sys.argv[10])
bold = style == "Bold"

with open(glyphs_path, encoding="utf-8") as f:
    listed = [c for c in f.read() if not c.isspace()]
ascii_chars = [chr(c) for c in range(0x20, 0x7F)]
wanted = sorted(set(ascii_chars) | set(extra) | set(listed))

cjk = TTFont(cjk_path)
latin = TTFont(latin_path)
cjk_cmap = cjk.getBestCmap()
latin_cmap = latin.getBestCmap()
fixed_modified = cjk["head"].modified   # keeps the output reproducible

# Latin letters, digits and Latin-1 symbols come from Open Sans so that the
# text reads as one typeface; everything else from Droid Sans Fallback.
from_latin = [c for c in wanted if ord(c) in latin_cmap and (ord(c) < 0x2000 or c in "\u201c\u201d")]
from_cjk = [c for c in wanted if c not in from_latin and ord(c) in cjk_cmap]
drawn = [c for c in wanted if c in "\u25a1\u2192" and c not in from_latin + from_cjk]
missing = [c for c in wanted if c not in from_latin + from_cjk + drawn]
if missing:
    sys.exit("characters in neither source font: "
             + " ".join("U+%04X" % ord(c) for c in missing))

# 1. CJK part: subset, without hinting, layout tables or vertical metrics
#    (the interface is horizontal and Qt hints on its own).
opts = subset.Options()
opts.hinting = False
opts.layout_features = []
opts.drop_tables += ["vhea", "vmtx", "GSUB", "GPOS", "GDEF", "gasp"]
opts.name_IDs = ["*"]
opts.notdef_outline = True
opts.glyph_names = False
opts.recalc_timestamp = False
sub = subset.Subsetter(options=opts)
sub.populate(unicodes=[ord(c) for c in from_cjk])
sub.subset(cjk)

# Droid Sans Fallback uses 256 units per em; bring it to Open Sans' 2048 so
# the Latin outlines are copied without rounding.
upem = latin["head"].unitsPerEm
scale_upem(cjk, upem)

font = cjk
glyf, hmtx = font["glyf"], font["hmtx"]
order = list(font.getGlyphOrder())
new_glyphs = {}

# 2. The bold ideographs: cubic outlines made quadratic, scaled to this em.
if outlines_path:
    src = TTFont(outlines_path, fontNumber=outlines_index)
    src_set, src_cmap = src.getGlyphSet(), src.getBestCmap()
    scale = upem / src["head"].unitsPerEm
    cmap = font.getBestCmap()
    for c in from_cjk:
        if ord(c) not in src_cmap:
            sys.exit("U+%04X is not in %s" % (ord(c), outlines_path))
        pen = TTGlyphPen(None)
        src_set[src_cmap[ord(c)]].draw(
            TransformPen(Cu2QuPen(pen, max_err=1.0, reverse_direction=True), (scale, 0, 0, scale, 0, 0)))
        g = pen.glyph()
        g.recalcBounds(glyf)
        glyf[cmap[ord(c)]] = g
        hmtx[cmap[ord(c)]] = (round(src["hmtx"][src_cmap[ord(c)]][0] * scale), getattr(g, "xMin", 0))

# 3. Latin part: copy outlines (composites decomposed, no instructions).
latin_set = latin.getGlyphSet()
for c in from_latin:
    src = latin_cmap[ord(c)]
    pen = TTGlyphPen(latin_set)
    latin_set[src].draw(pen)
    name = "lat.%04X" % ord(c)
    new_glyphs[ord(c)] = (name, pen.glyph(), latin["hmtx"][src][0])

# 4. U+25A1 WHITE SQUARE, drawn here: full width like the ideographs,
#    vertically centred on them, stroke about as heavy as theirs.
if "\u25a1" in drawn:
    em = upem
    size, stroke = round(em * 0.70), round(em * (0.1 if bold else 0.065))
    x0 = (em - size) // 2
    y0 = round(em * 0.34) - size // 2
    x1, y1 = x0 + size, y0 + size
    pen = TTGlyphPen(None)
    # outer contour clockwise, inner counter-clockwise (TrueType convention)
    for pts in (((x0, y0), (x0, y1), (x1, y1), (x1, y0)),
                ((x0 + stroke, y0 + stroke), (x1 - stroke, y0 + stroke),
                 (x1 - stroke, y1 - stroke), (x0 + stroke, y1 - stroke))):
        pen.moveTo(pts[0])
        for p in pts[1:]:
            pen.lineTo(p)
        pen.closePath()
    new_glyphs[0x25A1] = ("box.25A1", pen.glyph(), em)

# 5. U+2192 RIGHTWARDS ARROW, drawn here as well (neither source has it):
#    Latin width, on the height of a hyphen, a shaft as heavy as a stem.
if "\u2192" in drawn:
    em = upem
    advance, margin = round(em * 0.62), round(em * 0.06)
    axis, half_stem = round(em * 0.30), round(em * (0.045 if bold else 0.03))
    head_half, head_length = round(em * 0.17), round(em * 0.20)
    tip, neck = advance - margin, advance - margin - head_length
    pen = TTGlyphPen(None)
    points = ((margin, axis - half_stem), (margin, axis + half_stem), (neck, axis + half_stem),
              (neck, axis + head_half), (tip, axis), (neck, axis - head_half), (neck, axis - half_stem))
    pen.moveTo(points[0])
    for p in points[1:]:
        pen.lineTo(p)
    pen.closePath()
    new_glyphs[0x2192] = ("arrow.2192", pen.glyph(), advance)

for cp in sorted(new_glyphs):
    name, g, adv = new_glyphs[cp]
    order.append(name)
font.setGlyphOrder(order)
glyf.setGlyphOrder(order)
for cp in sorted(new_glyphs):
    name, g, adv = new_glyphs[cp]
    glyf[name] = g
    g.recalcBounds(glyf)
    hmtx[name] = (adv, getattr(g, "xMin", 0))
for table in font["cmap"].tables:
    if table.isUnicode():
        for cp in sorted(new_glyphs):
            if cp <= 0xFFFF or table.format in (12, 13):
                table.cmap[cp] = new_glyphs[cp][0]

# 6. Names. Copyright, trademark and licence notices of the sources are kept.
name = font["name"]
name.names = []
notices = {
    0: "Digitized data copyright Google Corporation \u00a9 2006 (Droid Sans Fallback). "
       "Digitized data copyright \u00a9 2010-2011, Google Corporation (Open Sans).",
    1: family,
    2: "Regular",
    3: "%s Regular; 1.00" % family,
    4: family,
    5: "Version 1.00; renamed subset of Droid Sans Fallback 1.00c and Open Sans 1.10",
    6: ps_name,
    7: "Droid is a trademark of Google and may be registered in certain jurisdictions. "
       "Open Sans is a trademark of Google and may be registered in certain jurisdictions.",
    10: "Interface font of Tavio PC Tool: a renamed subset of Droid Sans Fallback "
        "with Latin glyphs from Open Sans.",
    13: "Licensed under the Apache License, Version 2.0",
    14: "http://www.apache.org/licenses/LICENSE-2.0",
}
if bold:
    notices.update({
        0: notices[0] + " Copyright \u00a9 2014-2021 Adobe (Noto Sans CJK).",
        2: "Bold",
        3: "%s Bold; 1.00" % family,
        4: "%s Bold" % family,
        5: "Version 1.00; renamed subset of Droid Sans Fallback 1.00c, Open Sans Bold 1.10 "
           "and Noto Sans CJK SC Bold 2.004",
        10: "Bold face of the interface font of Tavio PC Tool: Latin glyphs from Open Sans "
            "Bold, CJK glyphs from Noto Sans CJK SC Bold.",
        13: "Licensed under the Apache License, Version 2.0 (Droid Sans Fallback, Open Sans) "
            "and the SIL Open Font License, Version 1.1 (Noto Sans CJK)",
        14: "http://www.apache.org/licenses/LICENSE-2.0 https://openfontlicense.org",
    })
for nid, text in notices.items():
    name.setName(text, nid, 3, 1, 0x409)
    if nid <= 6:
        name.setName(text, nid, 1, 0, 0)

# 6. Tables that summarise the glyph set and name the weight.
os2 = font["OS/2"]
os2.usWeightClass = 700 if bold else 400
os2.fsSelection = (os2.fsSelection & ~0b1100001) | (0x20 if bold else 0x40)   # BOLD or REGULAR only
font["head"].macStyle = 1 if bold else 0
os2.recalcAvgCharWidth(font)
os2.recalcUnicodeRanges(font)
font["post"].formatType = 3.0
font["head"].modified = fixed_modified
font.recalcTimestamp = False
font.save(out_path, reorderTables=True)

print("glyphs: %d (%d Latin, %d CJK, %d drawn)"
      % (len(order), len(from_latin), len(from_cjk), len(drawn)))
PYEOF
}
build_face "$FONTS/OPPOSANS-R.TTF" Regular "$PS_NAME" "$LATIN_FONT"
build_face "$FONTS/OPPOSANS-B.TTF" Bold "$BOLD_PS_NAME" "$LATIN_BOLD_FONT" "$CJK_BOLD_FONT" "$CJK_BOLD_INDEX"

# ---------------------------------------------------------------- font licence
{
    echo "NOTICE: OPPOSANS-R.TTF (family \"$FAMILY\") is a renamed subset of Droid Sans"
    echo "Fallback, with its Latin glyphs taken from Open Sans Regular, both licensed"
    echo "under the Apache License, Version 2.0. It was made from the Debian packages"
    echo "fonts-droid-fallback and fonts-open-sans by tools/make-resources.sh, which"
    echo "subsets, merges, rescales and renames the fonts; no glyph was redrawn except"
    echo "U+25A1, a plain square, and U+2192, a plain arrow, both drawn by that script."
    echo
    echo "OPPOSANS-B.TTF (the same family, style Bold) is made the same way, with its"
    echo "Latin glyphs taken from Open Sans Bold and its CJK glyphs from Noto Sans CJK"
    echo "SC Bold (Debian package fonts-noto-cjk, SIL Open Font License 1.1; notices"
    echo "and licence text below), converted to quadratic outlines."
    echo
    echo "======================================================================"
    echo "Droid Sans Fallback ($CJK_COPYRIGHT)"
    echo "======================================================================"
    cat "$CJK_COPYRIGHT"
    echo
    echo "======================================================================"
    echo "Open Sans ($LATIN_COPYRIGHT)"
    echo "======================================================================"
    cat "$LATIN_COPYRIGHT"
    echo
    echo "======================================================================"
    echo "Noto Sans CJK ($CJK_BOLD_COPYRIGHT)"
    echo "======================================================================"
    cat "$CJK_BOLD_COPYRIGHT"
    echo
    echo "======================================================================"
    echo "Apache License, Version 2.0 ($APACHE_TEXT)"
    echo "======================================================================"
    cat "$APACHE_TEXT"
} >"$FONTS/LICENSE.txt"

# ---------------------------------------------------------------- images
render() { # name width height
    log "rendering $1.png ($2x$3)"
    rsvg-convert --width "$2" --height "$3" --format png \
        -o "$RES/$1.png" "$SVG/$1.svg"
}
render upg 200 200
render set 200 200
render usb 36 36
render question 20 20
render bg 242 160
render downarrow 200 200

# ---------------------------------------------------------------- desktop icon
mkdir -p "$RES/icons"
for size in 16 24 32 48 64 128 256; do
    log "rendering icons/${size}x${size}.png"
    rsvg-convert --width "$size" --height "$size" --format png \
        -o "$RES/icons/${size}x${size}.png" "$SVG/app.svg"
done

# ---------------------------------------------------------------- Windows icon
log "building app.ico (256x256, 32-bit)"
tmp_png="$(mktemp --suffix=.png)"
trap 'rm -f "$tmp_png"' EXIT
rsvg-convert --width 256 --height 256 --format png -o "$tmp_png" "$SVG/app.svg"
"$PY" - "$tmp_png" "$RES/app.ico" <<'PYEOF'
import struct, sys
png = open(sys.argv[1], "rb").read()
# ICONDIR: reserved, type 1 (icon), one image.
# ICONDIRENTRY: width/height 0 = 256, no palette, planes 1, 32 bpp,
# size of the image data, offset of the data (6 + 16). The image is PNG.
data = struct.pack("<HHH", 0, 1, 1)
data += struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(png), 6 + 16)
open(sys.argv[2], "wb").write(data + png)
PYEOF
printf 'IDI_ICON1 ICON "app.ico"\n' >"$RES/app.rc"

# ---------------------------------------------------------------- checks
log "checking"
"$PY" - "$RES" "$FAMILY" "$PS_NAME" "$BOLD_PS_NAME" <<'PYEOF'
import struct, sys, os
from fontTools.ttLib import TTFont
res, family, ps_name, bold_ps_name = sys.argv[1:5]

def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        raise SystemExit("not a PNG")
    w, h, depth, colour = struct.unpack(">IIBB", data[16:26])
    return w, h, depth, colour

expected = {"upg": (200, 200), "set": (200, 200), "usb": (36, 36),
            "question": (20, 20), "bg": (242, 160), "downarrow": (200, 200)}
expected.update({"icons/%dx%d" % (n, n): (n, n) for n in (16, 24, 32, 48, 64, 128, 256)})
for name, size in expected.items():
    w, h, depth, colour = png_size(open(os.path.join(res, name + ".png"), "rb").read())
    if (w, h) != size or colour != 6 or depth != 8:
        raise SystemExit("%s.png: %dx%d depth %d colour type %d, expected %dx%d RGBA"
                         % (name, w, h, depth, colour, *size))

ico = open(os.path.join(res, "app.ico"), "rb").read()
reserved, kind, count = struct.unpack("<HHH", ico[:6])
bw, bh, _, _, planes, bpp, size, offset = struct.unpack("<BBBBHHII", ico[6:22])
if (reserved, kind, count, bw, bh, planes, bpp) != (0, 1, 1, 0, 0, 1, 32) \
        or offset + size != len(ico) or png_size(ico[offset:])[:2] != (256, 256):
    raise SystemExit("app.ico is malformed")

for file, style, full, ps, weight in (("OPPOSANS-R.TTF", "Regular", family, ps_name, 400),
                                      ("OPPOSANS-B.TTF", "Bold", family + " Bold", bold_ps_name, 700)):
    font = TTFont(os.path.join(res, "fonts", file))
    names = font["name"]
    for nid, want in ((1, family), (2, style), (4, full), (6, ps)):
        got = names.getName(nid, 3, 1, 0x409)
        if got is None or got.toUnicode() != want:
            raise SystemExit("%s: name ID %d is %r, expected %r"
                             % (file, nid, got and got.toUnicode(), want))
    if names.getName(16, 3, 1, 0x409) is not None:
        raise SystemExit(file + ": unexpected name ID 16")
    if font["OS/2"].usWeightClass != weight:
        raise SystemExit(file + ": weight class %d" % font["OS/2"].usWeightClass)
    cmap = font.getBestCmap()
    absent = [c for c in "升级固件设置连接设备A°×□：" if ord(c) not in cmap]
    if absent:
        raise SystemExit(file + ": missing in cmap: " + "".join(absent))
    glyf = font["glyf"]
    for c in "升A°□":
        if glyf[cmap[ord(c)]].numberOfContours == 0:
            raise SystemExit(file + ": empty outline for " + c)
PYEOF
if command -v fc-scan >/dev/null; then
    for face in OPPOSANS-R.TTF OPPOSANS-B.TTF; do
        fc_family="$(fc-scan --format '%{family}' "$FONTS/$face")"
        [[ "$fc_family" == "$FAMILY" ]] || die "fontconfig sees family '$fc_family' in $face"
    done
fi
log "done"
