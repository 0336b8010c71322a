#!/usr/bin/env bash
# Fetch and insert benchmark, side by side in one run on one private
# PostgreSQL server: this driver (both builds) through unixODBC, the native
# PostgreSQL ODBC driver (psqlodbcw.so) through unixODBC, and plain JDBC.
#   KX_BENCH_ROWS   rows fetched (default 1000000)
#   KX_BENCH_INSERT rows inserted with parameter arrays of 1000 (default 100000)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/common.sh"
source "$KX_ROOT/scripts/lib/postgres.sh"

rows=${KX_BENCH_ROWS:-1000000}
inserts=${KX_BENCH_INSERT:-100000}

kx_install_packages
if ! dpkg-query -W -f='${Status}' odbc-postgresql 2>/dev/null | grep -q 'install ok installed'; then
  kx_log "installing: odbc-postgresql"
  sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends odbc-postgresql >/dev/null
fi
kx_java_home
kx_build "$KX_BUILD"

work=$KX_BUILD/bench-run
rm -rf "$work"
mkdir -p "$work/classes"
"$JAVA_HOME/bin/javac" -d "$work/classes" "$KX_ROOT/bench/JdbcBench.java"

kx_pg_start
trap kx_pg_stop EXIT
pg_url="jdbc:postgresql://127.0.0.1:$KX_PG_PORT/postgres"

psqlodbc=$(ls /usr/lib/*/odbc/psqlodbcw.so 2>/dev/null | head -n 1)
[ -n "$psqlodbc" ] || { echo "psqlodbcw.so not found" >&2; exit 1; }
cat > "$work/odbcinst.ini" <<EOF
[Kestrix Unicode]
Driver=$KX_BUILD/src/libkestrixu.so
QXLibs=$KX_BUILD/standin

[Kestrix ANSI]
Driver=$KX_BUILD/src/libkestrix.so
QXLibs=$KX_BUILD/standin

[PostgreSQL Unicode]
Driver=$psqlodbc
EOF
: > "$work/odbc.ini"
export ODBCSYSINI=$work ODBCINI=$work/odbc.ini TZ=UTC

kestrixu="DRIVER={Kestrix Unicode};URL={URL=$pg_url};UID=$KX_PG_USER;PWD=$KX_PG_PASSWORD;NLB=1"
kestrix="DRIVER={Kestrix ANSI};URL={URL=$pg_url};UID=$KX_PG_USER;PWD=$KX_PG_PASSWORD;NLB=1"
native="DRIVER={PostgreSQL Unicode};Servername=127.0.0.1;Port=$KX_PG_PORT;Database=postgres;Username=$KX_PG_USER;Password=$KX_PG_PASSWORD"

kx_log "fetch table: $rows rows"
bin=$(kx_pg_bin)
PGPASSWORD=$KX_PG_PASSWORD "$bin/psql" -q -h 127.0.0.1 -p "$KX_PG_PORT" -U "$KX_PG_USER" -d postgres -v ON_ERROR_STOP=1 <<EOF
CREATE TABLE bench_fetch (id INTEGER, name VARCHAR(40), amount NUMERIC(12,2),
                          ratio DOUBLE PRECISION, stamp TIMESTAMP);
INSERT INTO bench_fetch
  SELECT g, 'row number ' || g, (g % 100000) + (g % 100) / 100.0, g / 7.0,
         TIMESTAMP '2024-01-01' + g * INTERVAL '1 second'
  FROM generate_series(1, $rows) AS g;
ANALYZE bench_fetch;
EOF

results=$work/results.txt
: > "$results"
# The young-generation bound the driver gives its own VM, so that plain JDBC
# and the driver differ only in the road between JDBC and the application.
jdbc() { "$JAVA_HOME/bin/java" -XX:MaxNewSize=64m -cp "/usr/share/java/postgresql.jar:$work/classes" JdbcBench \
  "$pg_url" "$KX_PG_USER" "$KX_PG_PASSWORD" "$@"; }
for what in fetch insert; do
  kx_log "$what"
  for who in kestrixu kestrix native; do
    if [ "$what" = fetch ]; then
      "$KX_BUILD/bench/odbc_bench" "$who" "${!who}" fetch bench_fetch | grep '^RESULT' | tee -a "$results"
    else
      "$KX_BUILD/bench/odbc_bench" "$who" "${!who}" insert "bench_insert_$who" "$inserts" | grep '^RESULT' \
        | tee -a "$results"
    fi
  done
  if [ "$what" = fetch ]; then
    jdbc fetch bench_fetch | tee -a "$results"
  else
    jdbc insert bench_insert_jdbc "$inserts" | tee -a "$results"
  fi
done

kx_log "rows per second, and this driver's ratio to the others (kestrixu = Unicode build, kestrix = ANSI build)"
awk '
  { rate[$2 " " $3] = $6; secs[$2 " " $3] = $5; n[$3] = $4 }
  END {
    split("fetch insert", works, " ")
    split("kestrixu kestrix native jdbc", who, " ")
    for (w = 1; w <= 2; ++w) {
      work = works[w]
      printf "%s (%d rows)\n", work, n[work]
      for (i = 1; i <= 4; ++i) {
        k = who[i] " " work
        printf "  %-9s %10.0f rows/s  %8.2f s\n", who[i], rate[k], secs[k]
      }
      for (i = 1; i <= 2; ++i) {
        k = who[i] " " work
        printf "  %-9s / native %.2f   / jdbc %.2f\n", who[i], rate[k] / rate["native " work],
               rate[k] / rate["jdbc " work]
      }
    }
  }' "$results"
