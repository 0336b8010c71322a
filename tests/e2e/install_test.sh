#!/usr/bin/env bash
# cmake --install puts both driver libraries and the jar under a prefix, and
# makes the class-data archive the driver's VM maps (a connect then takes the
# data-source class from it; one changed since it was made is left out and
# the connect still works); the
# README's odbcinst commands register them, and isql and iusql query H2
# through each build, once with InstallDir and once with QXLibs. One library
# registered under several sections takes its settings (jar directory, trace
# file) from the section the connect names, whatever the order of the
# sections.
# Usage: install_test.sh BUILD_DIR [--remove-build]
#   --remove-build: remove BUILD_DIR once installed, so that nothing of the
#   build tree can stand in for what the installation lacks.
set -euo pipefail
build=$1
remove_build=${2:-}
work=$(mktemp -d /tmp/kx-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
if [ "$remove_build" = "--remove-build" ]; then
  rm -rf "$build"
fi
lib=$prefix/lib/kestrix
for f in "$lib/libkestrixu.so" "$lib/libkestrix.so" "$lib/jre/lib/ifxjdbc.jar"; do
  [ -f "$f" ] || { echo "not installed: $f"; exit 1; }
done

status=0
fail() { echo "FAILED: $*"; status=1; }

# What the library's load constructor sets must not depend on the order in
# which the linker placed the objects: no object of the library may have a
# dynamic initialiser that could run after the constructor and wipe its work.
for so in "$lib/libkestrixu.so" "$lib/libkestrix.so"; do
  if inits=$(nm "$so" 2>/dev/null | grep '_GLOBAL__sub_I'); then
    fail "$so has static initialisers (state the load constructor may touch must be constant-initialised or made on first use):"
    echo "$inits"
  fi
done

export ODBCSYSINI=$work ODBCINI=$work/odbc.ini
touch "$work/odbcinst.ini" "$work/odbc.ini"
# The first section of the ANSI library points at a directory without the
# jar: a connect through another section must not read it.
mkdir -p "$work/nojars"
cat > "$work/drivers.ini" <<INI
[Kestrix ANSI elsewhere]
Driver=$lib/libkestrix.so
QXLibs=$work/nojars

[Kestrix Unicode]
Driver=$lib/libkestrixu.so
InstallDir=$lib

[Kestrix ANSI]
Driver=$lib/libkestrix.so
QXLibs=$lib/jre/lib

[Kestrix ANSI traced]
Driver=$lib/libkestrix.so
QXLibs=$lib/jre/lib
DebugFile=$work/trace-\$P.log
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

h2='URL={URL={jdbc:h2:mem:installed;DB_CLOSE_DELAY=-1}};NLB=1'
# query CLIENT ARGS...: the client's answer to SELECT 6*7 (its error text when
# it has none).
query() { echo "SELECT 6*7 AS answer" | "$@" -b -v -d'|' 2>&1 || true; }
answers() { grep -qx '42' <<<"$1"; }

# expect42 CLIENT ARGS...
expect42() {
  local out
  out=$(query "$@")
  answers "$out" || fail "$*: expected 42, got: $out"
}
expect42 isql kx_installed_a
expect42 iusql kx_installed_u
expect42 isql kx_installed_u
expect42 isql -k "DRIVER={Kestrix ANSI};$h2"
expect42 isql -k "DRIVER={Kestrix Unicode};$h2"

# Neither the data source nor the driver sections above named a trace.
if compgen -G "$work/trace-*" >/dev/null; then
  fail "a trace was written although the section used names none: $(ls "$work"/trace-*)"
fi

expect42 isql -k "DRIVER={Kestrix ANSI traced};$h2"
traces=("$work"/trace-*.log)
if [ ! -s "${traces[0]}" ] || ! grep -q 'ODBC Trace' "${traces[0]}"; then
  fail "DRIVER={Kestrix ANSI traced} wrote no trace into $work/trace-<pid>.log"
fi

# The class-data archive the installation made, and what a connect takes from it.
archive=$lib/jre/lib/kestrix-classes.jsa
for f in "$lib/kestrix-cds" "$archive" "$lib/jre/lib/kestrix-classes.stamp"; do
  [ -f "$f" ] || fail "not installed: $f"
done
# connect_logged CONNECT-STRING: a connect whose VM logs the classes it loads;
# source_of_class then says where it took the data-source class from.
connect_logged() {
  rm -f "$work"/load-*.txt
  ZNT_JVM_OPTS="-Xlog:class+load=info:file=$work/load-%p.txt" expect42 isql -k "$1"
}
source_of_class() {
  grep -h 'com.informix.jdbcx.IfxDataSource source:' "$work"/load-*.txt 2>/dev/null | sed 's/.*source: //'
}
connect_logged "DRIVER={Kestrix ANSI};$h2"
src=$(source_of_class)
[ "$src" = "shared objects file (top)" ] || fail "the connect did not take its classes from $archive: $src"
# Changed since it was made (as by a new JDK): left out, and the connect works.
touch "$archive"
connect_logged "DRIVER={Kestrix Unicode};$h2"
src=$(source_of_class)
[ "${src#file:}" != "$src" ] || fail "a changed archive was used: $src"

out=$(query isql -k "DRIVER={Kestrix ANSI elsewhere};$h2")
grep -q "IM003" <<<"$out" && grep -qF "$work/nojars/" <<<"$out" ||
  fail "DRIVER={Kestrix ANSI elsewhere}: expected IM003 naming $work/nojars/, got: $out"

exit $status
