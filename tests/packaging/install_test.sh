#!/usr/bin/env bash
# Installs the build into a scratch folder and checks that both programs, the
# man page, the desktop entry and the icons land where desktops look.
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
missing=0
for f in bin/varnook bin/varnook-convert share/man/man1/varnook-convert.1 \
         share/applications/varnook.desktop share/icons/hicolor/scalable/apps/varnook.svg \
         share/icons/hicolor/16x16/apps/varnook.png share/icons/hicolor/32x32/apps/varnook.png; do
  if [ ! -s "$root/usr/$f" ]; then
    echo "missing: /usr/$f"
    missing=1
  fi
done
grep -q '^Exec=varnook$' "$root/usr/share/applications/varnook.desktop" || { echo "desktop entry: no Exec"; missing=1; }
grep -q '^Icon=varnook$' "$root/usr/share/applications/varnook.desktop" || { echo "desktop entry: no Icon"; missing=1; }
[ "$("$root/usr/bin/varnook-convert" --version)" = "varnook-convert 2.5.0" ] || { echo "installed varnook-convert does not run"; missing=1; }
exit $missing
