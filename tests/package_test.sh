#!/usr/bin/env bash
# The Debian package: its file list holds the programs, menu entries, icons, manual page and
# completion, and nothing else of the build; the unpacked belmire-convert runs a conversion with
# its data-link files in the user's configuration folder.
# Usage: package_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

(cd "$build" && cpack -G DEB -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1) || { cat "$tmp/cpack.log"; exit 1; }
deb=$(ls "$tmp"/pkg/belmire-convert_*.deb)
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./||' >"$tmp/list"
expected=(
  usr/bin/v67convert usr/bin/v1convert usr/bin/belmire-convert
  usr/share/applications/v67convert.desktop usr/share/applications/v1convert.desktop
  usr/share/icons/hicolor/scalable/apps/belmire-convert.svg
  usr/share/man/man1/belmire-convert.1 usr/share/man/man1/v67convert.1 usr/share/man/man1/v1convert.1
  usr/share/bash-completion/completions/belmire-convert
)
for s in 16 32 48 64 128 256; do expected+=("usr/share/icons/hicolor/${s}x${s}/apps/belmire-convert.png"); done
for f in "${expected[@]}"; do
  grep -qx "$f" "$tmp/list" || { echo "missing from the package: $f"; cat "$tmp/list"; exit 1; }
done
if grep -E '(_test|bench|gtest|\.a$|\.h$)' "$tmp/list"; then echo "the package ships build leftovers"; exit 1; fi
depends=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)
for d in libqt6core6 libpq5 libsqlite3-0 libodbc2 qt6-qpa-plugins qt6-translations-l10n; do
  [[ $depends == *"$d"* ]] || { echo "Depends lacks $d: $depends"; exit 1; }
done
[[ $recommends == "tdsodbc, odbc-postgresql, libsqliteodbc" ]] || { echo "Recommends: $recommends"; exit 1; }

dpkg-deb -x "$deb" "$tmp/root"
# The menu entries validate without a hint (one main category each), and every manual page the others name
# is there.
validation=$(desktop-file-validate "$tmp"/root/usr/share/applications/*.desktop 2>&1) \
  || { echo "desktop-file-validate: $validation"; exit 1; }
[[ -z $validation ]] || { echo "desktop-file-validate: $validation"; exit 1; }
for page in "$tmp"/root/usr/share/man/man1/*.1*; do
  for named in $(zcat -f "$page" | sed -n 's/^\.BR \([a-z0-9-]*\) (1).*/\1/p'); do
    ls "$tmp"/root/usr/share/man/man1/"$named".1* >/dev/null 2>&1 \
      || { echo "$(basename "$page") names $named(1), which the package lacks"; exit 1; }
  done
done
prog=$tmp/root/usr/bin/belmire-convert
config=$tmp/config/belmire-convert
mkdir -p "$config"
"$prog" --help | grep -q "belmire-convert" || { echo "--help failed"; exit 1; }

# A V1 shop on SQLite files, its data-link files in $XDG_CONFIG_HOME/belmire-convert.
sqlite3 "$config/source.db" <"$src/schema/source_v1_sqlite.sql"
sqlite3 "$config/source.db" "insert into Store (StoreId, Store) values ('S1', '门店仓');"
sqlite3 "$config/target.db" <"$src/schema/target_sqlite.sql"
printf '[oledb]\r\n; Everything after this line is an OLE DB initstring\r\nProvider=SQLite;Data Source=%s\r\n' \
  source.db >"$config/数据库连接1.udl"
printf '[oledb]\r\n; Everything after this line is an OLE DB initstring\r\nProvider=SQLite;Data Source=%s\r\n' \
  target.db >"$config/数据库连接2.udl"
XDG_CONFIG_HOME=$tmp/config "$prog" --from v1 --quiet warehouses >"$tmp/out" 2>"$tmp/err" \
  || { echo "conversion failed"; cat "$tmp/out" "$tmp/err"; exit 1; }
[[ $(sqlite3 "$config/target.db" "select objid || '|' || ckmc from ckda") == "S1|门店仓" ]] \
  || { echo "warehouse not converted"; cat "$tmp/out" "$tmp/err"; exit 1; }
echo "package test passed: $(basename "$deb")"
