#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a Linux installation holds.
set -euo pipefail
build="$1"
testdata="${2:-}"  # the shared reference files, for the thumbnailer's run; may be absent
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "install check: $*" >&2; exit 1; }
desktop="$prefix/share/applications/org.orvl.orvl.desktop"
for f in bin/orvl share/man/man1/orvl.1 share/applications/org.orvl.orvl.desktop share/pixmaps/orvl.png \
         share/doc/orvl/Orvl_16.htm share/metainfo/org.orvl.orvl.metainfo.xml \
         share/mime/packages/orvl.xml share/thumbnailers/orvl.thumbnailer; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done
[ -x "$prefix/bin/orvl" ] || fail "bin/orvl is not executable"
"$prefix/bin/orvl" help | grep -q "panel" || fail "the installed orvl has no panel command"

# The entry opens LightWave files with `orvl play`; its action still starts the panel.
desktop-file-validate "$desktop" || fail "desktop entry refused"
grep -qx 'Exec=orvl play %f' "$desktop" || fail "desktop entry does not play the file it is given"
grep -qx 'MimeType=image/x-lwo;image/x-lws;' "$desktop" || fail "desktop entry lacks the LightWave types"
sed -n '/^\[Desktop Action panel\]/,/^\[/p' "$desktop" | grep -qx 'Exec=orvl panel' \
  || fail "desktop entry has no action that starts the panel"
# Caches belong to the system that installs: a staged install leaves none behind.
for cache in share/applications/mimeinfo.cache share/mime/mime.cache; do
  [ ! -e "$prefix/$cache" ] || fail "the install wrote $cache"
done

# The MIME package adds magic to the system's own types and defines no new one.
mime="$prefix/share/mime/packages/orvl.xml"
python3 - "$mime" <<'PY' || fail "orvl.xml is not a well-formed MIME package"
import sys, xml.etree.ElementTree as ET
ns = "{http://www.freedesktop.org/standards/shared-mime-info}"
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == ns + "mime-info", root.tag
types = sorted(t.get("type") for t in root.findall(ns + "mime-type"))
assert types == ["image/x-lwo", "image/x-lws"], types
for t in root.findall(ns + "mime-type"):
    assert t.find(ns + "magic") is not None, t.get("type") + " has no magic"
    assert t.find(ns + "comment") is None and t.find(ns + "glob") is None, t.get("type") + " redefines the type"
PY

# The thumbnailer names the installed program and hands it the file, the output and the size.
thumb="$prefix/share/thumbnailers/orvl.thumbnailer"
head -1 "$thumb" | grep -qx '\[Thumbnailer Entry\]' || fail "orvl.thumbnailer has no [Thumbnailer Entry] group"
for line in 'TryExec=orvl' 'Exec=orvl thumbnail %i %o --size %s' 'MimeType=image/x-lwo;image/x-lws;'; do
  grep -qxF "$line" "$thumb" || fail "orvl.thumbnailer lacks $line"
done
# Once the program has the command, the thumbnailer's own command line must work as written.
if "$prefix/bin/orvl" help | grep -q 'thumbnail'; then
  exec_line="$(sed -n 's/^Exec=orvl //p' "$thumb")"
  obj="$testdata/lightwave/ConcavePolygon.lwo"
  if [ ! -f "$obj" ]; then
    echo "install check: shared test data not found at $testdata, thumbnailer not run"
  else
    args="${exec_line//%i/$obj}"; args="${args//%o/$prefix/thumb.png}"; args="${args//%s/128}"
    # shellcheck disable=SC2086
    "$prefix/bin/orvl" $args || fail "the thumbnailer's command line failed on $obj"
    head -c 8 "$prefix/thumb.png" | od -An -tx1 | grep -q '89 50 4e 47 0d 0a 1a 0a' || fail "the thumbnail is not a PNG"
  fi
fi

# The AppStream record: same id as the desktop entry, and the strictest check that needs no network.
meta="$prefix/share/metainfo/org.orvl.orvl.metainfo.xml"
grep -q '<id>org.orvl.orvl</id>' "$meta" || fail "the metainfo id is not org.orvl.orvl"
grep -q '<launchable type="desktop-id">org.orvl.orvl.desktop</launchable>' "$meta" \
  || fail "the metainfo does not launch the installed desktop entry"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --pedantic "$meta" >"$prefix/appstream.log" 2>&1 \
    || { cat "$prefix/appstream.log" >&2; fail "appstreamcli refuses the metainfo"; }
else
  echo "install check: appstreamcli not installed, metainfo not validated"
fi

# The manual page holds every command synopsis of the README, and nothing else as one.
man="$prefix/share/man/man1/orvl.1"
head -1 "$man" | grep -q '^\.TH ORVL 1' || fail "orvl.1 has no title line"
for cmd in panel render gl-info eval lz lzw pack play-music dump-object dump-scene image; do
  grep -q "^orvl $(printf '%s' "$cmd" | sed 's/-/\\\\-/g')" "$man" || fail "orvl.1 lacks the synopsis of orvl $cmd"
done
if command -v groff >/dev/null; then
  groff -man -Tutf8 -ww "$man" >/dev/null 2>"$prefix/groff.log" || fail "groff cannot format orvl.1"
  [ ! -s "$prefix/groff.log" ] || { cat "$prefix/groff.log" >&2; fail "groff warns about orvl.1"; }
fi

# The HTML page is the README's: the panel's section is there, and the markup is closed.
html="$prefix/share/doc/orvl/Orvl_16.htm"
grep -q '<h3>orvl panel</h3>' "$html" || fail "Orvl_16.htm lacks the panel's section"
tail -1 "$html" | grep -q '</html>' || fail "Orvl_16.htm is cut short"

# The icon is a PNG picture.
head -c 8 "$prefix/share/pixmaps/orvl.png" | od -An -tx1 | grep -q '89 50 4e 47 0d 0a 1a 0a' || fail "orvl.png is not a PNG"
echo "install check: ok"
