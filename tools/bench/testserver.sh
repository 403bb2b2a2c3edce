# shellcheck shell=bash
# Sourced by the measurement scripts, from the repository's top folder: starts
# tests/servers/ftpserver.py with the given options in the background and waits, with a deadline,
# for the port it reports. Sets server_pid and port; the caller stops the server by its pid.
start_test_server() { # OUTPUT_FILE OPTION...
  local out=$1
  shift
  /usr/bin/python3 tests/servers/ftpserver.py "$@" >"$out" &
  # shellcheck disable=SC2034 # read by the caller
  server_pid=$!
  for _ in $(seq 100); do
    grep -q '^PORT ' "$out" 2>/dev/null && break
    sleep 0.1
  done
  port=$(sed -n 's/^PORT //p' "$out")
  [ -n "$port" ] || { echo "the test server did not start" >&2; exit 1; }
}
