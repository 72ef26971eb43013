#!/bin/sh
# Peak memory and speed of `tamsel-cli scan` on a large IPD backup, without and with --json.
#
#   bench/scan_memory.sh TAMSEL_CLI BACKUP.ipd [JSON_OUT]
#
# Make the backup with `make_bench_ipd BACKUP.ipd 800` (build/bench/make_bench_ipd). Each
# command runs once with the file already in the page cache (a first untimed pass reads it),
# under /usr/bin/time -v; printed: peak resident set size in MB, wall time and MB/s of input.
# Goals for an 800 MB backup: scan under 400 MB, scan --json under 500 MB.
set -eu

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 TAMSEL_CLI BACKUP.ipd [JSON_OUT]" >&2
  exit 2
fi
cli=$1
backup=$2
json=${3:-${TMPDIR:-/tmp}/scan_memory_$$.json}
if [ ! -x /usr/bin/time ]; then
  echo "$0: /usr/bin/time is needed (Debian package time)" >&2
  exit 2
fi
bytes=$(stat -c %s "$backup")
report=$(mktemp)
trap 'rm -f "$report" "$json"' EXIT

cat "$backup" >/dev/null  # into the page cache, so that every run reads it alike

# run LABEL ARGS...: runs the CLI under time -v and prints one line.
run() {
  label=$1
  shift
  if ! /usr/bin/time -v -o "$report" "$cli" -q "$@" >/dev/null; then
    echo "$label: the command failed" >&2
    exit 1
  fi
  awk -v label="$label" -v bytes="$bytes" '
    /Maximum resident set size/ { rss = $NF }
    /Elapsed \(wall clock\)/ {
      n = split($NF, t, ":")
      secs = 0
      for (i = 1; i <= n; i++) secs = secs * 60 + t[i]
    }
    END {
      if (secs <= 0) secs = 0.001
      printf "%-22s peak RSS %8.1f MB   %7.2f s   %8.1f MB/s\n", label, rss / 1024, secs,
             bytes / 1e6 / secs
    }' "$report"
}

printf "%s: %.1f MB\n" "$backup" "$(echo "$bytes" | awk '{ print $1 / 1e6 }')"
run "scan" scan "$backup"
rm -f "$json"
run "scan --json" scan "$backup" --json "$json"
