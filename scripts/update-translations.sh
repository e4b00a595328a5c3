#!/usr/bin/env bash
# Collects every translatable text of the program's sources and forms into the
# two catalogues (res/lang_en.ts, res/lang_cn.ts), keeping the translations
# already there. The Chinese catalogue maps each new text to itself; English
# translations of new texts are then filled in by hand (lupdate marks them
# "unfinished"), and the catalogue test lists any that are missing.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
sources=(log app link upgrade ui)
lupdate -silent -no-obsolete -locations none -disable-heuristic sametext -disable-heuristic similartext "${sources[@]}" -ts res/lang_en.ts res/lang_cn.ts

# Chinese: every source is its own translation (the few deliberate
# differences already in the file are kept).
/usr/bin/python3 - res/lang_cn.ts <<'PY'
import re, sys
path = sys.argv[1]
text = open(path, encoding="utf-8").read()
def fill(match):
    source = match.group(1)
    return "<source>%s</source>\n        <translation>%s</translation>" % (source, source)
text = re.sub(r'<source>([^<]*)</source>\n\s*<translation type="unfinished"></translation>', fill, text)
open(path, "w", encoding="utf-8").write(text)
PY
grep -c 'type="unfinished"' res/lang_en.ts | sed 's/^/English texts still to translate: /' || true
