# A private PostgreSQL cluster for the tests: initdb into a temporary directory as
# the postgres system user, started on a free loopback port, removed at the end.
# Sourced, not run. Exports KX_PG_PORT, KX_PG_USER and KX_PG_PASSWORD.

kx_pg_bin() {
  ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1
}

kx_pg_as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

kx_pg_start() {
  local bin
  bin=$(kx_pg_bin)
  if [ -z "$bin" ]; then
    echo "PostgreSQL server binaries not found" >&2
    return 1
  fi
  KX_PG_DIR=$(mktemp -d /tmp/kx-pg.XXXXXX)
  KX_PG_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  KX_PG_USER=postgres
  KX_PG_PASSWORD=kx-test-secret
  export KX_PG_PORT KX_PG_USER KX_PG_PASSWORD KX_PG_DIR
  [ "$(id -u)" -ne 0 ] || chown postgres "$KX_PG_DIR"
  printf '%s\n' "$KX_PG_PASSWORD" > "$KX_PG_DIR/pw"
  [ "$(id -u)" -ne 0 ] || chown postgres "$KX_PG_DIR/pw"
  kx_pg_as_owner "$bin/initdb" -D "$KX_PG_DIR/data" -U "$KX_PG_USER" --pwfile="$KX_PG_DIR/pw" \
    --auth=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$KX_PG_DIR/initdb.log" 2>&1 \
    || { cat "$KX_PG_DIR/initdb.log" >&2; return 1; }
  kx_pg_as_owner "$bin/pg_ctl" -D "$KX_PG_DIR/data" -l "$KX_PG_DIR/server.log" -w -t 60 start \
    -o "-c listen_addresses=127.0.0.1 -p $KX_PG_PORT -c unix_socket_directories=$KX_PG_DIR -c max_prepared_transactions=10 -c fsync=off" \
    >/dev/null || { cat "$KX_PG_DIR/server.log" >&2; return 1; }
  local i
  for i in $(seq 1 60); do
    if kx_pg_as_owner "$bin/pg_isready" -h 127.0.0.1 -p "$KX_PG_PORT" -q; then
      kx_log "PostgreSQL on 127.0.0.1:$KX_PG_PORT"
      return 0
    fi
    sleep 1
  done
  echo "PostgreSQL did not accept connections" >&2
  return 1
}

kx_pg_stop() {
  [ -n "${KX_PG_DIR:-}" ] || return 0
  local bin
  bin=$(kx_pg_bin)
  kx_pg_as_owner "$bin/pg_ctl" -D "$KX_PG_DIR/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$KX_PG_DIR"
  KX_PG_DIR=
}
