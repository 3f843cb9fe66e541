#!/usr/bin/env bash
# Installs into a temporary prefix, builds that prefix's MIME cache as the system's trigger
# would, and asks xdg-mime what LightWave files without an extension are.
set -euo pipefail
build="$1"
for tool in update-mime-database xdg-mime gio; do
  command -v "$tool" >/dev/null || { echo "mime check: skipped, $tool not installed"; exit 77; }
done
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
update-mime-database "$prefix/share/mime"

fail() { echo "mime check: $*" >&2; exit 1; }
files="$prefix/files"
mkdir "$files"
# Smallest IFF forms: the form type at offset 8 decides, "FORM" alone is any IFF file.
form() { printf 'FORM\0\0\0\x0c%s' "$1"; printf 'PNTS\0\0\0\0'; }
form LWOB >"$files/object5"
form LWO2 >"$files/object6"
form ILBM >"$files/picture"
printf 'LWSC\n1\n\nFirstFrame 1\n' >"$files/scene"
printf 'LWSC\n3\n\nFirstFrame 1\n' >"$files/scene6.txt"

# xdg-mime asks gio under GNOME; its own fallback (file(1)) does not read XDG_DATA_DIRS.
query() {
  XDG_CURRENT_DESKTOP=GNOME XDG_DATA_DIRS="$prefix/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}" \
    xdg-mime query filetype "$1"
}
expect() {
  local got
  got="$(query "$files/$1")"
  [ "$got" = "$2" ] || fail "$1 is $got, not $2"
}
expect object5 image/x-lwo
expect object6 image/x-lwo
expect scene image/x-lws
# A picture in an IFF form stays a picture; a name's extension still outranks magic.
[ "$(query "$files/picture")" != image/x-lwo ] || fail "every IFF file is taken for an object"
expect scene6.txt text/plain
echo "mime check: ok"
