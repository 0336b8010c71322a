#!/usr/bin/env bash
# Fetch, insert and connect benchmark, side by side in one run on one private
# PostgreSQL server: this driver (both builds) through unixODBC, the native
# PostgreSQL ODBC driver (psqlodbcw.so) through unixODBC (native_df: the same
# reading through a server-side cursor, UseDeclareFetch=1), and plain JDBC.
# Each fetch shape runs in a transaction and in autocommit mode ("_ac"), where
# PostgreSQL's JDBC driver reads the whole result before the first row.
# Every measurement runs in a process of its own (its peak RSS is that
# work's), and the whole set is repeated; the table gives each repetition.
#   KX_BENCH_ROWS     rows fetched (default 1000000)
#   KX_BENCH_INSERT   rows inserted with parameter arrays of 1000 (default 100000)
#   KX_BENCH_CONNECTS later connects timed after the first (default 20)
#   KX_BENCH_REPEAT   repetitions (default 3)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/common.sh"
source "$KX_ROOT/scripts/lib/postgres.sh"

rows=${KX_BENCH_ROWS:-1000000}
inserts=${KX_BENCH_INSERT:-100000}
connects=${KX_BENCH_CONNECTS:-20}
repeat=${KX_BENCH_REPEAT:-3}

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
# The class-data archive an installation makes, here for the build's jar directory.
"$KX_BUILD/src/kestrix-cds" "$KX_BUILD/standin"

work=$KX_BUILD/bench-run
rm -rf "$work"
mkdir -p "$work/classes"
"$JAVA_HOME/bin/javac" -d "$work/classes" "$KX_ROOT/bench/JdbcBench.java"

kx_pg_start
trap kx_pg_stop EXIT
pg_url="jdbc:postgresql://127.0.0.1:$KX_PG_PORT/postgres"
pg_url_rw="$pg_url?reWriteBatchedInserts=true"

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
kestrixu_rw="DRIVER={Kestrix Unicode};URL={URL=$pg_url_rw};UID=$KX_PG_USER;PWD=$KX_PG_PASSWORD;NLB=1"
kestrix_rw="DRIVER={Kestrix ANSI};URL={URL=$pg_url_rw};UID=$KX_PG_USER;PWD=$KX_PG_PASSWORD;NLB=1"
native="DRIVER={PostgreSQL Unicode};Servername=127.0.0.1;Port=$KX_PG_PORT;Database=postgres;Username=$KX_PG_USER;Password=$KX_PG_PASSWORD"
# The native driver reading through a server-side cursor, 100 rows a call.
native_df="$native;UseDeclareFetch=1;Fetch=100"
# Its keyset-driven cursors (they need its updatable-cursor emulation). Not
# with UseDeclareFetch=1: reading through a server-side cursor, it answers a
# keyset-driven request with a static cursor (odbc_bench says so).
native_ks="$native;UpdatableCursors=1"

kx_log "fetch table: $rows rows"
bin=$(kx_pg_bin)
PGPASSWORD=$KX_PG_PASSWORD "$bin/psql" -q -h 127.0.0.1 -p "$KX_PG_PORT" -U "$KX_PG_USER" -d postgres -v ON_ERROR_STOP=1 <<EOF
CREATE TABLE bench_fetch (id INTEGER, name VARCHAR(40), amount NUMERIC(12,2),
                          ratio DOUBLE PRECISION, stamp TIMESTAMP);
INSERT INTO bench_fetch
  SELECT g, 'row number ' || g, (g % 100000) + (g % 100) / 100.0, g / 7.0,
         TIMESTAMP '2024-01-01' + g * INTERVAL '1 second'
  FROM generate_series(1, $rows) AS g;
CREATE TABLE bench_keyset AS SELECT * FROM bench_fetch;
ALTER TABLE bench_keyset ADD PRIMARY KEY (id);
EOF
# Vacuumed now rather than by the server's autovacuum in the middle of the
# first round (which also sets the rows' hint bits and visibility, work the
# first reader of a fresh table would otherwise do).
for t in bench_fetch bench_keyset; do
  PGPASSWORD=$KX_PG_PASSWORD "$bin/psql" -q -h 127.0.0.1 -p "$KX_PG_PORT" -U "$KX_PG_USER" -d postgres \
    -v ON_ERROR_STOP=1 -c "VACUUM (FREEZE, ANALYZE) $t"
done

results=$work/results.txt
: > "$results"
# The young-generation bound, compiler threads and collector the driver gives its own VM, so that plain JDBC
# and the driver differ only in the road between JDBC and the application.
jdbc() { "$JAVA_HOME/bin/java" -XX:MaxNewSize=16m -XX:CICompilerCount=2 -XX:+UseSerialGC -cp "/usr/share/java/postgresql.jar:$work/classes" JdbcBench "$@"; }
odbc() { "$KX_BUILD/bench/odbc_bench" "$@" | grep '^RESULT'; }
for run in $(seq 1 "$repeat"); do
  kx_log "run $run of $repeat (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  {
    for who in kestrixu kestrix native; do
      odbc "$who" "${!who}" connect "$connects"
      # Each fetch shape in a transaction and in autocommit mode (_ac).
      for ac in "" _ac; do
        odbc "$who" "${!who}" fetch$ac bench_fetch
        odbc "$who" "${!who}" getdata$ac bench_fetch
        odbc "$who" "${!who}" rowset$ac bench_fetch
        odbc "$who" "${!who}" static$ac bench_fetch
        odbc "$who" "${!who}" keyset$ac bench_keyset
      done
      odbc "$who" "${!who}" insert "bench_insert_$who" "$inserts"
    done
    for ac in "" _ac; do
      odbc native_df "$native_df" rowset$ac bench_fetch
      odbc native_df "$native_df" static$ac bench_fetch
      odbc native_ks "$native_ks" keyset$ac bench_keyset
    done
    for who in kestrixu kestrix; do
      rw=${who}_rw
      odbc "$who" "${!rw}" insertrw "bench_insert_$who" "$inserts"
    done
    jdbc "$pg_url" "$KX_PG_USER" "$KX_PG_PASSWORD" connect "$connects"
    jdbc "$pg_url" "$KX_PG_USER" "$KX_PG_PASSWORD" fetch bench_fetch
    jdbc "$pg_url" "$KX_PG_USER" "$KX_PG_PASSWORD" fetch_ac bench_fetch
    jdbc "$pg_url" "$KX_PG_USER" "$KX_PG_PASSWORD" insert bench_insert_jdbc "$inserts"
    jdbc "$pg_url_rw" "$KX_PG_USER" "$KX_PG_PASSWORD" insertrw bench_insert_jdbc "$inserts"
  } | tee /dev/stderr | awk -v run="$run" '{ print run, $0 }' >> "$results"
done

kx_log "results (kestrixu = Unicode build, kestrix = ANSI build; one column per run)"
awk '
  # run RESULT who work rows seconds rate rss [cpu] (cpu: the calling thread of odbc_bench)
  { key = $3 " " $4; secs[key, $1] = $6; rate[key, $1] = $7; rss[key, $1] = $8; n[$4] = $5
    if (NF >= 9) cpu[key, $1] = $9
    if ($1 > runs) runs = $1 }
  function row(who, work, what,    r, k, line) {
    k = who " " work
    if (!((k, 1) in rate)) return
    if (what == "cpu" && !((k, 1) in cpu)) return
    line = sprintf("  %-9s", who)
    for (r = 1; r <= runs; ++r) {
      if (what == "rate") line = line sprintf(" %9.0f", rate[k, r])
      else if (what == "ms") line = line sprintf(" %9.1f", secs[k, r] * 1000)
      else if (what == "cpu") line = line sprintf(" %9.1f", cpu[k, r] * 1000)
      else line = line sprintf(" %9.0f", rss[k, r] / 1024)
    }
    print line
  }
  # base may name its own work ("native insert"); else the same work.
  function ratio(who, work, base, higherBetter,    r, k, b, line) {
    k = who " " work; b = base ~ / / ? base : base " " work
    if (!((k, 1) in secs) || !((b, 1) in secs)) return
    line = sprintf("  %-9s", who " / " (base ~ / / ? "native" : base))
    for (r = 1; r <= runs; ++r) {
      line = line sprintf(" %9.2f", higherBetter ? rate[k, r] / rate[b, r] : secs[b, r] / secs[k, r])
    }
    print line
  }
  END {
    split("kestrixu kestrix native native_df native_ks jdbc", who, " ")
    split("fetch getdata rowset static keyset fetch_ac getdata_ac rowset_ac static_ac keyset_ac insert insertrw", works, " ")
    split("fetch, bound columns, rowset 1|fetch, SQLGetData|fetch, forward-only, rowset 100|static cursor, rowset 100: execute, LAST, FIRST, NEXT to the end|keyset-driven cursor, rowset 100: execute, LAST, ABSOLUTE middle, 1000 NEXT", shapes, "|")
    for (w = 1; w <= 5; ++w) { titles[w] = shapes[w] ", in a transaction"; titles[w + 5] = shapes[w] ", autocommit on" }
    titles[11] = "insert, arrays of 1000"
    titles[12] = "insert, arrays of 1000, reWriteBatchedInserts=true"
    for (w = 1; w <= 12; ++w) {
      work = works[w]
      if (!(work in n)) continue
      printf "%s (%d rows): rows/s\n", titles[w], n[work]
      for (i = 1; i <= 6; ++i) row(who[i], work, "rate")
      # The native driver has no rewriting: its plain insert is the yardstick.
      base = work == "insertrw" ? "native insert" : "native"
      for (i = 1; i <= 2; ++i) { ratio(who[i], work, base, 1); ratio(who[i], work, "jdbc", 1) }
      if (work ~ /rowset|static/) for (i = 1; i <= 2; ++i) ratio(who[i], work, "native_df", 1)
      if (work ~ /keyset/) for (i = 1; i <= 2; ++i) ratio(who[i], work, "native_ks", 1)
      # Every work, the inserts too: their peak RSS is measured as well.
      {
        printf "%s: peak RSS, MiB\n", titles[w]
        for (i = 1; i <= 6; ++i) row(who[i], work, "rss")
        # Less sensitive to a busy machine than the elapsed time.
        printf "%s: CPU time of the calling thread, ms\n", titles[w]
        for (i = 1; i <= 6; ++i) row(who[i], work, "cpu")
      }
    }
    print "first connect (Java VM start included): ms"
    for (i = 1; i <= 6; ++i) row(who[i], "connect1", "ms")
    print "later connects (mean): ms"
    for (i = 1; i <= 6; ++i) row(who[i], "connectN", "ms")
    print "first connect: CPU time of the calling thread, ms"
    for (i = 1; i <= 6; ++i) row(who[i], "connect1", "cpu")
    print "later connects (mean): CPU time of the calling thread, ms"
    for (i = 1; i <= 6; ++i) row(who[i], "connectN", "cpu")
  }' "$results"
