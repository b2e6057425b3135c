#!/usr/bin/env bash
# Starts or stops a throwaway PostgreSQL server on a loopback port for the tests.
#   eval "$(tests/pg_server.sh start)"   prints the BELMIRE_PG_* variables to export
#   tests/pg_server.sh stop DIR
# As root the server runs as the unprivileged user "postgres".
set -euo pipefail

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$bindir" ] || { echo "pg_server: PostgreSQL is not installed" >&2; exit 1; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case "${1:-}" in
start)
  dir=$(mktemp -d /tmp/belmire-pg.XXXXXX)
  chmod 755 "$dir"
  [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
  password="pg-$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')"
  printf '%s\n' "$password" > "$dir/pwfile"
  [ "$(id -u)" -eq 0 ] && chown postgres "$dir/pwfile"
  as_owner "$bindir/initdb" -D "$dir/data" -U belmire --pwfile="$dir/pwfile" -A scram-sha-256 -E UTF8 \
    --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
  port=""
  for p in $(seq 55432 55532); do
    if ! (exec 3<>/dev/tcp/127.0.0.1/$p) 2>/dev/null; then port=$p; break; fi
  done
  [ -n "$port" ] || { echo "pg_server: no free port" >&2; exit 1; }
  as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off -c max_connections=50" \
    start >/dev/null
  echo "export BELMIRE_PG_DIR=$dir BELMIRE_PG_HOST=127.0.0.1 BELMIRE_PG_PORT=$port BELMIRE_PG_USER=belmire BELMIRE_PG_PASSWORD=$password"
  ;;
stop)
  dir=${2:?usage: pg_server.sh stop DIR}
  as_owner "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$dir"
  ;;
*)
  echo "usage: $0 start | stop DIR" >&2
  exit 2
  ;;
esac
