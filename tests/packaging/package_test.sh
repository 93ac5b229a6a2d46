#!/usr/bin/env bash
# Builds the .deb and checks it as a distribution's review would: the files
# it installs, lintian, the desktop entry, the AppStream metadata, the MIME
# definition, the man pages, and that the file type it installs recognises a
# program file made by varnook-convert (and not an armoured PGP .asc).
set -uo pipefail
build=$1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
checks=0
check() {
  local what=$1; shift
  checks=$((checks + 1))
  if "$@" >"$work/out" 2>&1; then echo "ok: $what"; else echo "FAILED: $what"; cat "$work/out"; failures=$((failures + 1)); fi
}

(cd "$build" && rm -f varnook_*.deb && cpack -G DEB >/dev/null) || { echo "cpack failed"; exit 1; }
deb=$(ls "$build"/varnook_*.deb)
dpkg-deb -x "$deb" "$work/root"
root=$work/root/usr

listing() {
  for f in bin/varnook bin/varnook-convert share/man/man1/varnook.1.gz share/man/man1/varnook-convert.1.gz \
           share/applications/varnook.desktop share/mime/packages/varnook.xml \
           share/metainfo/org.varnook.Varnook.metainfo.xml share/doc/varnook/copyright \
           share/doc/varnook/changelog.Debian.gz share/icons/hicolor/scalable/apps/varnook.svg \
           share/icons/hicolor/16x16/apps/varnook.png share/icons/hicolor/32x32/apps/varnook.png \
           share/icons/hicolor/48x48/apps/varnook.png; do
    [ -s "$root/$f" ] || { echo "missing: /usr/$f"; return 1; }
  done
}
check "the package holds every file" listing
# lintian speaks of running as root on standard error; its findings go to standard output.
no_findings() { local found; found=$(lintian "$deb" 2>/dev/null) && [ -z "$found" ] || { echo "$found"; return 1; }; }
check "lintian finds nothing" no_findings
check "the desktop entry is valid" desktop-file-validate "$root/share/applications/varnook.desktop"
check "the AppStream metadata is valid" appstreamcli validate --no-net "$root/share/metainfo/org.varnook.Varnook.metainfo.xml"
check "the MIME definition is well-formed" xmllint --noout "$root/share/mime/packages/varnook.xml"
check "the desktop entry opens a file and offers the type" \
  grep -qx 'Exec=varnook %f' "$root/share/applications/varnook.desktop"
check "... for HP BASIC ASCII files, disk images and captures" \
  grep -qx 'MimeType=application/x-hp-basic-ascii;application/x-lif-disk-image;application/x-teledisk-image;application/x-imagedisk-image;' \
  "$root/share/applications/varnook.desktop"
check "man varnook renders" sh -c "man -l '$root/share/man/man1/varnook.1.gz' | grep -q 'varnook-convert(1)'"
check "man varnook-convert renders" sh -c "man -l '$root/share/man/man1/varnook-convert.1.gz' | grep -q 'EXIT STATUS'"
check "the installed programs answer without a display" \
  sh -c "env -u DISPLAY -u WAYLAND_DISPLAY '$root/bin/varnook' --version | grep -qx 'varnook 2.5.0'"

# The file type, with the installed rules beside the system's.
mkdir -p "$work/data/mime/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$root/share/mime/packages/varnook.xml" "$work/data/mime/packages/"
update-mime-database "$work/data/mime" >/dev/null 2>&1
printf '10 BEEP\r\n20 END\r\n' >"$work/prog.txt"
"$root/bin/varnook-convert" --to hp "$work/prog.txt" -o "$work/PROG.asc"
printf -- '-----BEGIN PGP MESSAGE-----\n\nhQEMA\n-----END PGP MESSAGE-----\n' >"$work/message.asc"
type_of() { XDG_DATA_DIRS="$work/data" XDG_DATA_HOME="$work/none" gio info -a standard::content-type "$1" |
            sed -n 's/.*content-type: //p'; }
check "a program file is an HP BASIC program" test "$(type_of "$work/PROG.asc")" = application/x-hp-basic-ascii
check "an armoured PGP .asc is not" test "$(type_of "$work/message.asc")" != application/x-hp-basic-ascii
"$root/bin/varnook-convert" --new-volume "$work/disk"
check "a disk image is one, without an extension too" test "$(type_of "$work/disk")" = application/x-lif-disk-image
printf 'td\0\0\041\0\3\0\0\2' >"$work/packed"
printf 'IMD 1.18: 07/12/2026 10:00:00\r\n\032' >"$work/capture"
check "captures are theirs, by content" \
  test "$(type_of "$work/packed") $(type_of "$work/capture")" = "application/x-teledisk-image application/x-imagedisk-image"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
