#!/usr/bin/env bash
# Installs the build into a scratch prefix, validates the desktop entry, the
# metainfo, the icons and the manual pages there, and starts the installed
# window: its settings must land in the user's data folder, not beside it.
set -euo pipefail
tmp=$(mktemp -d) && usr=$tmp/usr && ini=Kelterm.ini
trap 'kill "${pid:-}" 2>/dev/null; rm -rf "$tmp"' EXIT
"$1" --install "$2" --prefix "$usr" >/dev/null
desktop-file-validate "$usr"/share/applications/*.desktop
appstreamcli validate --no-net "$usr"/share/metainfo/*.metainfo.xml
icon=$(sed -n 's/^Icon=//p' "$usr"/share/applications/*.desktop)
ls "$usr"/share/icons/hicolor/{48x48,128x128,256x256}/apps/"$icon".png >/dev/null
for page in kelterm kelterm-xfer; do
  man --warnings -l "$usr/share/man/man1/$page.1" 2>&1 >/dev/null | grep . && exit 1
done
XDG_DATA_HOME=$tmp/data QT_QPA_PLATFORM=offscreen "$usr/bin/kelterm" & pid=$!
for _ in $(seq 600); do [ -e "$tmp/data/KelTerm/$ini" ] || [ -e "$usr/bin/$ini" ] && break; sleep 0.1; done
test -e "$tmp/data/KelTerm/$ini" && ! test -e "$usr/bin/$ini"
