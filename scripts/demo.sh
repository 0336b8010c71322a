#!/usr/bin/env bash
# The demo: installs what the driver needs that is missing, builds both driver
# libraries and the stand-in jar (nothing else), registers the driver with
# unixODBC in a private configuration under the build tree (nothing
# system-wide changes), creates a data source on
# an embedded H2 database file with sample rows, and queries it through isql
# (ANSI build) and iusql (Unicode build). Rerunnable: each run starts afresh.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

kx_install_packages "${KX_DRIVER_PACKAGES[@]}"
kx_java_home
# Just the driver: both libraries and the jar, no tests or benchmarks.
kx_build "$KX_BUILD" -DKX_TESTS=OFF
kx_log "built:"
ls -l "$KX_BUILD/src/libkestrixu.so" "$KX_BUILD/src/libkestrix.so" "$KX_BUILD/standin/ifxjdbc.jar"

demo=$KX_BUILD/demo
rm -rf "$demo"
mkdir -p "$demo/db"

# The driver finds the JDBC jars through QXLibs in its own section.
cat > "$demo/odbcinst.ini" <<EOF
[Kestrix Unicode]
Description=Quillmar Informix Driver (Skerrin Edition)(Unicode)
Driver=$KX_BUILD/src/libkestrixu.so
QXLibs=$KX_BUILD/standin

[Kestrix ANSI]
Description=Quillmar Informix Driver (Skerrin Edition)
Driver=$KX_BUILD/src/libkestrix.so
QXLibs=$KX_BUILD/standin
EOF

cat > "$demo/odbc.ini" <<EOF
[ODBC Data Sources]
kestrix_demo = Kestrix Unicode
kestrix_demo_ansi = Kestrix ANSI

[kestrix_demo]
Description=Kestrix demo: embedded H2 database file (Unicode build)
Driver=Kestrix Unicode
URLString={URL={jdbc:h2:$demo/db/demo}}
NoLoginBox=1

[kestrix_demo_ansi]
Description=Kestrix demo: embedded H2 database file (ANSI build)
Driver=Kestrix ANSI
URLString={URL={jdbc:h2:$demo/db/demo}}
NoLoginBox=1
EOF

export ODBCSYSINI=$demo ODBCINI=$demo/odbc.ini
export LANG=C.UTF-8 LC_ALL=C.UTF-8

kx_log "registered drivers (odbcinst -q -d) and data sources (odbcinst -q -s):"
odbcinst -q -d
odbcinst -q -s

# run CLIENT DSN SQL...: one statement per argument, through the client in
# batch mode; fails when the client reports an error.
run() {
  local client=$1 dsn=$2 out
  shift 2
  kx_log "$client $dsn"
  out=$(printf '%s\n' "$@" | "$client" "$dsn" -b -v -c -d'|' 2>&1) || { printf '%s\n' "$out"; return 1; }
  [ -z "$out" ] || printf '%s\n' "$out"
  if grep -q '\[ISQL\]ERROR' <<<"$out"; then
    return 1
  fi
}

kx_log "sample rows in an embedded H2 database file"
run isql kestrix_demo_ansi \
  "CREATE TABLE birds (id INTEGER PRIMARY KEY, name VARCHAR(40) NOT NULL, wingspan_cm NUMERIC(6,1), seen DATE)" \
  "INSERT INTO birds VALUES (1, 'Kestrel', 76.0, DATE '2024-04-02')" \
  "INSERT INTO birds VALUES (2, 'Merlin', 61.5, DATE '2024-05-17')" \
  "INSERT INTO birds VALUES (3, 'Peregrine falcon', 110.0, NULL)" \
  "INSERT INTO birds VALUES (4, 'Grünfink', 27.5, DATE '2024-06-30')" \
  "INSERT INTO birds VALUES (5, '隼 (hayabusa)', 105.0, DATE '2024-07-04')"

kx_log "the rows, read back through both builds:"
run isql kestrix_demo_ansi "SELECT id, name, wingspan_cm, seen FROM birds ORDER BY id"
# iusql prints each UTF-16 unit of a wide column as one byte, so it shows
# only the rows whose names are ASCII.
run iusql kestrix_demo \
  "SELECT name, wingspan_cm FROM birds WHERE wingspan_cm > 70 AND id < 4 ORDER BY wingspan_cm DESC" \
  "SELECT COUNT(*) AS birds, MAX(wingspan_cm) AS widest FROM birds"

kx_log "demo database: $demo/db (configuration: $demo/odbcinst.ini, $demo/odbc.ini)"
