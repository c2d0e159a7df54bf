#!/bin/sh
# A PostgreSQL cluster for the journal's server tests, in a folder of its own, listening on a unix
# socket in that folder only (no TCP port, so parallel test runs never meet). As root the cluster
# belongs to the postgres user (the server refuses to run as root); otherwise to the caller.
#
#   pg_fixture.sh start  DIR PID   initialise and start; stop it by itself when process PID is gone
#   pg_fixture.sh pause  DIR       stop the server (fast: connections are cut), keep the cluster
#   pg_fixture.sh resume DIR       start it again
#   pg_fixture.sh stop   DIR       stop the server and remove DIR
set -eu
cmd=$1
dir=$2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [ -z "$bin" ] || [ ! -x "$bin/pg_ctl" ]; then
  echo "pg_fixture: PostgreSQL server programs not found (Debian package postgresql)" >&2
  exit 2
fi

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

server_start() {
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-k $dir -c listen_addresses= -p 5432" start >/dev/null
}

case $cmd in
start)
  watch=$3
  mkdir -p "$dir"
  chmod 700 "$dir"
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$dir"
  fi
  as_owner "$bin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C --no-sync >"$dir/initdb.log" 2>&1 \
    || { cat "$dir/initdb.log" >&2; exit 1; }
  # The role of the password tests logs in with its password only; every other role is trusted.
  printf 'local all kest scram-sha-256\n' >"$dir/hba"
  cat "$dir/data/pg_hba.conf" >>"$dir/hba"
  as_owner sh -c "cat '$dir/hba' >'$dir/data/pg_hba.conf'"
  rm -f "$dir/hba"
  server_start || { cat "$dir/server.log" >&2; exit 1; }
  # The watchdog, in a session of its own so that killing the test's process group spares it: when
  # the test process is gone (killed at a time-out, crashed), it stops the server and removes DIR.
  setsid sh -c '
    while kill -0 "$1" 2>/dev/null && [ -d "$2/data" ]; do sleep 1; done
    if [ -d "$2/data" ]; then
      if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$3/pg_ctl" -D "$2/data" -m immediate stop
      else "$3/pg_ctl" -D "$2/data" -m immediate stop; fi
      rm -rf "$2"
    fi' watchdog "$watch" "$dir" "$bin" </dev/null >/dev/null 2>&1 &
  "$bin/psql" -h "$dir" -p 5432 -U postgres -d postgres -q -v ON_ERROR_STOP=1 \
    -c "CREATE ROLE kest LOGIN PASSWORD 'kest-secret-1'" -c "GRANT ALL ON SCHEMA public TO kest" >/dev/null
  ;;
pause)
  as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
  ;;
resume)
  server_start
  ;;
stop)
  if [ -d "$dir/data" ]; then
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  ;;
*)
  echo "usage: pg_fixture.sh start|pause|resume|stop DIR [PID]" >&2
  exit 2
  ;;
esac
