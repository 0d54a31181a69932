#!/bin/bash
# pg_cluster.sh - a throwaway PostgreSQL cluster for the server store's tests.
#
#   pg_cluster.sh start FOLDER   makes a cluster in FOLDER (which must not
#                                exist), starts it and prints the libpq
#                                connection string of its database
#   pg_cluster.sh stop FOLDER    stops it and removes FOLDER
#
# The server listens on a socket in FOLDER only (no TCP), so clusters of
# tests running at once never meet.  It does not flush its log to the disk
# (the tests need no durability), unless PG_CLUSTER_DURABLE=1: then it
# syncs every commit as a real server does (the benchmarks).  Run as root (as CI does), the cluster
# belongs to "nobody", since the server refuses to run as root.
set -euo pipefail

bin=${PG_BIN:-/usr/lib/postgresql/15/bin}
action=${1:-}
folder=${2:-}
[ -n "$action" ] && [ -n "$folder" ] || { echo "usage: $0 start|stop FOLDER" >&2; exit 2; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

case "$action" in
  start)
    [ -x "$bin/initdb" ] || { echo "no PostgreSQL server in $bin (install postgresql)" >&2; exit 1; }
    mkdir "$folder"
    [ "$(id -u)" -eq 0 ] && chown nobody "$folder"
    as_owner "$bin/initdb" -D "$folder/data" -U recman --auth=trust -E UTF8 --no-sync >"$folder/initdb.log" 2>&1 ||
      { cat "$folder/initdb.log" >&2; exit 1; }
    durability="-c fsync=off -c synchronous_commit=off -c full_page_writes=off"
    [ "${PG_CLUSTER_DURABLE:-0}" = 1 ] && durability="-c fsync=on -c synchronous_commit=on"
    as_owner "$bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 \
      -o "-c listen_addresses='' -k $folder -p 5432 $durability -c max_connections=300" \
      start >/dev/null || { cat "$folder/server.log" >&2; exit 1; }
    echo "host=$folder port=5432 user=recman dbname=postgres"
    ;;
  stop)
    [ -d "$folder/data" ] && as_owner "$bin/pg_ctl" -D "$folder/data" -m immediate -w stop >/dev/null 2>&1 || true
    rm -rf "$folder"
    ;;
  *)
    echo "usage: $0 start|stop FOLDER" >&2
    exit 2
    ;;
esac
