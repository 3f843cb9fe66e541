#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a Linux installation holds.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "install check: $*" >&2; exit 1; }
for f in bin/orvl share/man/man1/orvl.1 share/applications/orvl.desktop share/pixmaps/orvl.png \
         share/doc/orvl/Orvl_16.htm; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done
[ -x "$prefix/bin/orvl" ] || fail "bin/orvl is not executable"
"$prefix/bin/orvl" help | grep -q "panel" || fail "the installed orvl has no panel command"

desktop-file-validate "$prefix/share/applications/orvl.desktop" || fail "desktop entry refused"
grep -qx 'Exec=orvl panel' "$prefix/share/applications/orvl.desktop" || fail "desktop entry does not start the panel"

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
