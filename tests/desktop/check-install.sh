#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what the desktop sees:
# the programs, the desktop entry, the icon and the AppStream metadata, the
# last two files run through their validators.
# Usage: check-install.sh BUILD_DIR APP_ID
set -euo pipefail
build=$1
app_id=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
desktop=$prefix/share/applications/$app_id.desktop
metainfo=$prefix/share/metainfo/$app_id.metainfo.xml
for f in "$prefix/bin/zavrin" "$prefix/bin/zavrin-cli" "$desktop" "$metainfo"; do
  [ -e "$f" ] || fail "not installed: ${f#"$prefix"/}"
done
[ -x "$prefix/bin/zavrin" ] || fail "bin/zavrin is not executable"

# The entry starts the installed program with the chosen files and names an
# icon that the hicolor theme holds.
grep -qx 'Exec=zavrin %F' "$desktop" || fail "Exec is not 'zavrin %F'"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "icon '$icon' not in hicolor/scalable/apps"
mime=$(sed -n 's/^MimeType=//p' "$desktop")
for type in application/zip application/vnd.rar application/x-7z-compressed; do
  [[ ";$mime" == *";$type;"* ]] || fail "MimeType lacks $type"
done
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
  || fail "metainfo does not launch $app_id.desktop"

# The file managers' context menus call the program's two actions.
menus=$prefix/share/kio/servicemenus
grep -qx 'Exec=zavrin --extract-here %F' "$menus/zavrin-extract.desktop" || fail "no Dolphin menu to extract here"
grep -qx 'Exec=zavrin --compress %F' "$menus/zavrin-compress.desktop" || fail "no Dolphin menu to compress"
[ -x "$menus/zavrin-extract.desktop" ] || fail "Dolphin runs only executable service menus"
for script in "Extract Here (Zavrin)" "Compress (Zavrin)"; do
  [ -x "$prefix/share/zavrin/nautilus-scripts/$script" ] || fail "no Nautilus script '$script'"
done

missing=()
command -v desktop-file-validate >/dev/null || missing+=(desktop-file-validate)
command -v appstreamcli >/dev/null || missing+=(appstreamcli)
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIP: ${missing[*]} not installed; files checked, validators not run"
  exit 77
fi
desktop-file-validate "$desktop"
appstreamcli validate --no-net "$metainfo"
echo "installed files valid"
