#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the integration tests.
#
#   env=$(bash scripts/postgres.sh start) && eval "$env"   # sets VANTOR_TEST_POSTGRES (a DSN)
#                                                          # and VANTOR_POSTGRES_DIR
#   bash scripts/postgres.sh stop [DIR]        # DIR defaults to $VANTOR_POSTGRES_DIR
#
# `start` installs Debian's postgresql if it is missing, creates a cluster in a new temporary
# directory and runs it on a free port of 127.0.0.1 only (no Unix socket in a shared place, no
# password: the cluster trusts local connections and lives only as long as the tests). The server
# refuses to run as root, so as root it runs as the `postgres` user. Its stdout is only the two
# `export` lines; everything else goes to stderr. VANTOR_POSTGRES_NO_INSTALL=1 makes it fail
# instead of installing the server.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

pg_bindir() {
  local dir
  dir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
  if [ -z "$dir" ] || [ ! -x "$dir/initdb" ]; then
    if [ -n "${VANTOR_POSTGRES_NO_INSTALL:-}" ]; then
      echo "postgres.sh: PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb)" >&2
      exit 1
    fi
    apt_install postgresql >&2
    dir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
  fi
  echo "$dir"
}

# Runs a command as the cluster's owner: `postgres` when we are root, else ourselves.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

free_port() {
  python3 - <<'EOF'
import socket
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    print(s.getsockname()[1])
EOF
}

start() {
  local bindir dir port attempt
  bindir=$(pg_bindir)
  dir=$(mktemp -d "${TMPDIR:-/tmp}/vantor-postgres.XXXXXX")
  chmod 755 "$dir"
  if [ "$(id -u)" -eq 0 ]; then chown postgres: "$dir"; fi
  as_owner "$bindir/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 \
    >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
  # Another process may take the port between our check and the server's bind; try again then.
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    if as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off" start >&2; then
      echo "export VANTOR_TEST_POSTGRES=postgresql://postgres@127.0.0.1:$port/postgres"
      echo "export VANTOR_POSTGRES_DIR=$dir"
      return
    fi
    echo "postgres.sh: the server did not start on port $port (attempt $attempt)" >&2
  done
  cat "$dir/server.log" >&2
  exit 1
}

stop() {
  local dir=${1:-${VANTOR_POSTGRES_DIR:-}}
  if [ -z "$dir" ] || [ ! -d "$dir/data" ]; then
    echo "postgres.sh: no cluster directory given (argument or \$VANTOR_POSTGRES_DIR)" >&2
    exit 1
  fi
  as_owner "$(pg_bindir)/pg_ctl" -D "$dir/data" -m immediate stop >&2 || true
  rm -rf "$dir"
}

case "${1:-}" in
  start) start ;;
  stop) stop "${2:-}" ;;
  *) echo "usage: $0 start | stop [DIR]" >&2; exit 2 ;;
esac
