#!/usr/bin/env bash
# Shows that a publication to a TLS-capable server leaks neither the password nor file contents.
#
# Runs two real publications with build/dev/app/parcelup --no-window and a bare host (no ftpes://),
# each to its own pyftpdlib server on a free port of 127.0.0.1 while tshark records the loopback
# traffic:
#   1. the server offers AUTH TLS (tests/servers/ftpserver.py --tls, TLS not required): Parcelup must
#      switch to TLS by itself, so the capture may hold neither the password nor a marker text
#      that every uploaded file contains;
#   2. a control run against a plain server: there both must be found, which shows the capture
#      and the search would have seen a leak.
# Prints what it found and exits 0 only when both hold. Needs root (capturing; installs tshark when missing), openssl and
# python3-pyftpdlib with python3-openssl (tools/dev/install-deps.sh), and a dev build.
#   tools/dev/capture-tls-publish.sh [--keep]    --keep leaves the captures and logs in the work folder
set -euo pipefail
cd "$(dirname "$0")/../.."
binary=$(pwd)/build/dev/app/parcelup
keep=no
[ "${1:-}" = "--keep" ] && keep=yes

# tshark is only needed here, so the test set-up does not install it.
command -v tshark >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq tshark
for tool in tshark openssl /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (tools/dev/install-deps.sh)" >&2; exit 2; }
done
[ -x "$binary" ] || { echo "missing $binary: cmake --preset dev && cmake --build --preset dev" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/parcelup-capture.XXXXXX")
chmod 755 "$work"   # tshark's dumpcap may run as another user
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if [ "$keep" = yes ]; then echo "kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# Waits up to 20 s for a pattern to show up in a file.
wait_for() {
  local pattern=$1 file=$2
  for _ in $(seq 1 200); do
    grep -q "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "timed out waiting for '$pattern' in $file" >&2
  return 1
}

password="Pw$(head -c 9 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')"
marker="CLEARTEXT-MARKER-$(head -c 9 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=ftp.test -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

# publish NAME [ftpserver.py options...]: one publication under capture; leaves NAME.pcapng,
# NAME.out (parcelup's output) and NAME.status.
publish() {
  local name=$1; shift
  local site=$work/$name-site root=$work/$name-server
  mkdir -p "$site/sub" "$root/htdocs" "$work/$name-state" "$work/$name-runtime"
  chmod 700 "$work/$name-runtime"
  for page in index.html sub/page.html; do
    printf '<html><body>%s in %s, %s</body></html>\n' "$marker" "$page" "$(head -c 2000 /dev/urandom | base64 -w0)" > "$site/$page"
  done
  /usr/bin/python3 tests/servers/ftpserver.py --root "$root" --user publisher --password "$password" \
    "$@" > "$work/$name-server.out" 2> "$work/$name-server.log" &
  pids+=($!)
  wait_for '^PORT ' "$work/$name-server.out"
  local port
  port=$(sed -n 's/^PORT \([0-9]*\)$/\1/p' "$work/$name-server.out")

  # Everything on the loopback interface: the control port and whatever data ports follow.
  tshark -i lo -f "tcp and host 127.0.0.1" -w "$work/$name.pcapng" > "$work/$name-tshark.log" 2>&1 &
  local capture=$!
  pids+=($capture)
  wait_for 'Capturing on' "$work/$name-tshark.log"

  cat > "$work/$name.ini" <<INI
[parcelup]
FTPLocalBaseDir=$site
FTPRemoteBaseDir=htdocs
FTPHost=127.0.0.1:$port
FTPLogonName=publisher
FTPPassword=$password
FTPPassive=1
INI
  set +e
  XDG_STATE_HOME=$work/$name-state XDG_RUNTIME_DIR=$work/$name-runtime \
    "$binary" --no-window --settings "$work/$name.ini" > "$work/$name.out" 2>&1
  echo $? > "$work/$name.status"
  set -e
  # Let the last packets reach the file, then stop the capture by its process id.
  sleep 1
  kill -INT "$capture"; wait "$capture" 2>/dev/null || true
  echo "$port" > "$work/$name.port"
  # The debug log lives beside the program, or in the state folder when that is read-only.
  cat "$work/$name-state/vellumix/parcelup/parcelup.log" 2>/dev/null > "$work/$name-debug.log" ||
    cp "$(dirname "$binary")/parcelup.log" "$work/$name-debug.log" 2>/dev/null || true
  uploaded=$(find "$root/htdocs" -type f | wc -l)
  echo "  $name: parcelup exit status $(cat "$work/$name.status"), $uploaded files on the server"
}

# count FILE TEXT: how often TEXT occurs in the captured bytes, also across segment borders
# (tshark's reassembled TCP streams).
count() {
  local capture=$1 text=$2 raw streams
  raw=$(grep -a -o -- "$text" "$capture" | wc -l)
  streams=$(for stream in $(tshark -r "$capture" -T fields -e tcp.stream 2>/dev/null | sort -un); do
      tshark -r "$capture" -q -z "follow,tcp,ascii,$stream" 2>/dev/null
    done | tr -d '\n' | grep -a -o -- "$text" | wc -l)
  echo $((raw > streams ? raw : streams))
}

echo "Publishing with a bare host to a server that offers TLS, and to a plain one, under tshark:"
publish tls --tls "$work/cert.pem" "$work/key.pem"
publish plain

ok=yes
for name in tls plain; do
  pcap=$work/$name.pcapng
  packets=$(tshark -r "$pcap" 2>/dev/null | wc -l)
  tls_records=$(tshark -r "$pcap" -Y tls 2>/dev/null | wc -l)
  commands=$(tshark -r "$pcap" -d "tcp.port==$(cat "$work/$name.port"),ftp" -Y 'ftp.request' \
    -T fields -e ftp.request.command 2>/dev/null | sort | uniq -c |
    awk 'NF == 2 {printf "%s%s x%s", sep, $2, $1; sep=", "}')
  secret=$(count "$pcap" "$password")
  contents=$(count "$pcap" "$marker")
  echo "$name: $packets packets, $tls_records with TLS records; FTP commands seen in clear text: ${commands:-none}"
  echo "$name: password found $secret times, file marker found $contents times"
  if [ "$name" = tls ]; then
    [ "$(cat "$work/tls.status")" = 0 ] || { echo "  the TLS publication failed:"; cat "$work/tls.out"; ok=no; }
    { [ "$secret" = 0 ] && [ "$contents" = 0 ] && [ "$tls_records" -gt 0 ]; } || ok=no
  else
    { [ "$secret" -gt 0 ] && [ "$contents" -gt 0 ]; } || { echo "  the control capture did not see the clear text: the search is blind"; ok=no; }
  fi
done
echo "debug transcript of the TLS run (parcelup.log) says:"
grep -h -a -e "Logged in" -e "not verify" "$work/tls-debug.log" | sed 's/^/  /' || true
if [ "$ok" = yes ]; then
  echo "RESULT: no password and no file contents in clear text with TLS (the control run shows both)."
  exit 0
fi
echo "RESULT: FAILED"
exit 1
