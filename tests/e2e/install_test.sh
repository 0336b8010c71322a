#!/usr/bin/env bash
# cmake --install puts both driver libraries and the jar under a prefix; the
# README's odbcinst commands register them, and isql and iusql query H2
# through each build, once with InstallDir and once with QXLibs.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/kx-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
lib=$prefix/lib/kestrix
for f in "$lib/libkestrixu.so" "$lib/libkestrix.so" "$lib/jre/lib/ifxjdbc.jar"; do
  [ -f "$f" ] || { echo "not installed: $f"; exit 1; }
done

export ODBCSYSINI=$work ODBCINI=$work/odbc.ini
touch "$work/odbcinst.ini" "$work/odbc.ini"
cat > "$work/drivers.ini" <<INI
[Kestrix Unicode]
Driver=$lib/libkestrixu.so
InstallDir=$lib

[Kestrix ANSI]
Driver=$lib/libkestrix.so
QXLibs=$lib/jre/lib
INI
cat > "$work/dsn.ini" <<INI
[kx_installed_u]
Driver=Kestrix Unicode
URLString={URL={jdbc:h2:mem:installed;DB_CLOSE_DELAY=-1}}
NoLoginBox=1

[kx_installed_a]
Driver=Kestrix ANSI
URLString={URL={jdbc:h2:mem:installed;DB_CLOSE_DELAY=-1}}
NoLoginBox=1
INI
odbcinst -i -d -f "$work/drivers.ini" >/dev/null
odbcinst -i -s -f "$work/dsn.ini" >/dev/null

status=0
for run in "isql kx_installed_a" "iusql kx_installed_u" "isql kx_installed_u"; do
  out=$(echo "SELECT 6*7 AS answer" | $run -b -v -d'|' 2>&1) || true
  if ! grep -qx '42' <<<"$out"; then
    echo "$run: expected 42, got:"; echo "$out"; status=1
  fi
done
exit $status
