#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds both driver libraries and
# a sanitizer build of the unit tests, starts a private PostgreSQL server on
# loopback, and runs every test level through CTest. Exits non-zero on any failure.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
source "$KX_ROOT/scripts/lib/postgres.sh"

kx_install_packages
kx_java_home
export TZ=UTC

kx_log "build ($KX_BUILD)"
kx_build "$KX_BUILD" -DKX_TESTS=ON

status=0
# The README's install path, exactly as a user takes it: the plain commands
# (CMake's default generator, no build type, warnings not errors, no tests),
# cmake --install under a prefix, the build tree removed, the installed
# libraries registered with odbcinst and queried through isql and iusql.
kx_log "the README's install path ($KX_BUILD-plain)"
rm -rf "$KX_BUILD-plain"
cmake -S "$KX_ROOT" -B "$KX_BUILD-plain" -DKX_TESTS=OFF >/dev/null
cmake --build "$KX_BUILD-plain" -j "$(nproc)"
bash "$KX_ROOT/tests/e2e/install_test.sh" "$KX_BUILD-plain" --remove-build || status=1

kx_log "sanitizer build of the unit tests ($KX_BUILD-asan)"
kx_build "$KX_BUILD-asan" -DKX_SANITIZE=ON -DKX_UNIT_ONLY=ON

kx_log "clang build of the fuzzers ($KX_BUILD-fuzz)"
CC=clang CXX=clang++ cmake -S "$KX_ROOT" -B "$KX_BUILD-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKX_WERROR=ON -DKX_UNIT_ONLY=ON >/dev/null
cmake --build "$KX_BUILD-fuzz" --target fuzz_sql_scanner fuzz_sql_analysis fuzz_sql_template \
  fuzz_connect_string fuzz_conversion

kx_pg_start
trap kx_pg_stop EXIT

kx_log "unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$KX_BUILD-asan" -L unit --output-on-failure -j "$(nproc)" || status=1

kx_log "fuzzers (SQL parser, connect strings, conversions), each for a bounded time"
ctest --test-dir "$KX_BUILD-fuzz" -L fuzz --output-on-failure -j 3 || status=1

kx_log "all tests"
ctest --test-dir "$KX_BUILD" --output-on-failure -j "$(nproc)" || status=1

exit $status
