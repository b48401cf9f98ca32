#!/usr/bin/env bash
# Runs a command against a throwaway PostgreSQL server: a cluster in a
# temporary folder, listening only on a Unix socket there (as the postgres
# user when run as root), stopped and removed at the end. The command finds
# it in ZEM_TEST_PG and can stop and start it with "$ZEM_TEST_PG_CTL stop|start".
# Exits 77 (skipped) when PostgreSQL is not installed.
set -euo pipefail
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
    echo "SKIPPED: PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb);" \
        "install the postgresql package to run the PostgreSQL half of these tests" >&2
    exit 77
fi
dir=$(mktemp -d /tmp/zem-pg.XXXXXX)
as=""
if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$dir"
    as="runuser -u postgres --"
fi
cat >"$dir/ctl" <<END
#!/bin/sh
exec $as "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w -o "-k $dir -c listen_addresses='' -F" "\$@"
END
chmod 755 "$dir/ctl"
trap '"$dir/ctl" stop -m immediate >/dev/null 2>&1 || true; rm -rf "$dir"' EXIT
$as "$bin/initdb" -D "$dir/data" -U zem -A trust -E UTF8 --locale=C --no-sync >/dev/null
"$dir/ctl" start >/dev/null
export ZEM_TEST_PG="postgresql:///postgres?host=$dir&user=zem" ZEM_TEST_PG_CTL="$dir/ctl"
status=0
"$@" || status=$?
[ $status -eq 0 ] || tail -n 20 "$dir/log" >&2
exit $status
