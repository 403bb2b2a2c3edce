#!/usr/bin/env bash
# Publishes with Parcelup (release build, console face) side by side with lftp ("mirror -R -p") and
# curl ("-T") against the same servers in the same run, each tool into a fresh server folder:
#
#   1. 1,000 small files in 50 folders to vsftpd on loopback            time, against lftp
#   2. 200 small files in 10 folders to a server that takes up every     files per second, against
#      command and data connection 20 ms late (tests/servers/ftpserver.py         lftp
#      --delay: vsftpd has no such knob, so both tools go to pyftpdlib)
#  2b. the same with 400 files in 20 folders: Parcelup's default four    files per second, against
#      connections; the server delays each connection on its own        lftp and lftp -P 4
#      (timers on its event loop, not a sleep that would hold the others)
#      the same over explicit TLS (AUTH TLS, PROT P)                   reported, against both
#  2c. a host that takes two connections, then one (vsftpd max_per_ip): a first and a later
#      publication end with status 0 and the server folder equal to the site
#   3. one 300 MB file to vsftpd on loopback                             time and peak memory,
#   4. the same over TLS (vsftpd requiring TLS; curl --ssl-reqd -k)       against curl
#   5. the disk syncs (fsync, fdatasync) of a run of case 1, counted with strace, per 1,000 files
#
# Parcelup runs as on a user's second day: its marker store exists (see warm_state) and --all
# makes it publish every file.
#
# Every timed case runs RUNS times (default 3), the tools taking turns, and the medians count.
# The summary at the end gives the figures with their goals, the commit and the command. Needs
# root (vsftpd); builds parcelup with the release preset.
#   tools/bench/bench-publish.sh              RUNS=1 tools/bench/bench-publish.sh   (quicker, noisier)
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$(pwd)
runs=${RUNS:-3}
tools/dev/install-deps.sh
command -v lftp >/dev/null || apt-get install -y -qq lftp
command -v curl >/dev/null || apt-get install -y -qq curl
command -v strace >/dev/null || apt-get install -y -qq strace
cmake --preset release >/dev/null && cmake --build --preset release -j "$(nproc)" --target parcelup >/dev/null
parcelup=$repo/build/release/app/parcelup
python=/usr/bin/python3

work=$(mktemp -d /tmp/parcelup-bench.XXXXXX)
# The servers write into memory, not onto this machine's disk: a real server's disk is not the
# publisher's. On a shared ext4 file system, a sync of the marker store at the end of a run waits
# for the journal to commit, and with it for the write-back of the 300 MB the local server has just
# received (0.13 s of the 0.54 s of a plain upload, in strace); the peers keep no state and never
# pay for it.
servers=$(mktemp -d /dev/shm/parcelup-bench-servers.XXXXXX)
chmod 755 "$work" "$servers"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work" "$servers"' EXIT

# --- the sites

make_site() { # folder folders files-per-folder
  for folder in $(seq -w 1 "$2"); do
    mkdir -p "$1/ordner$folder"
    for file in $(seq -w 1 "$3"); do
      head -c $((1000 + 10#$file * 97)) /dev/urandom > "$1/ordner$folder/seite$file.html"
    done
  done
}
small=$work/small
make_site "$small" 50 20
far=$work/far
make_site "$far" 10 20
far400=$work/far400
make_site "$far400" 20 20
tiny=$work/tiny
mkdir -p "$tiny" && echo x > "$tiny/a.txt"
big=$work/big
mkdir -p "$big"
head -c 300000000 /dev/urandom > "$big/film.bin"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=localhost -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

# --- the servers: each starts on a fresh folder and sets PORT PID USER PASSWORD

vsftpd_server() { # root [vsftpd.conf lines...]
  local out root=$1 line config=(--config max_per_ip=0)
  shift
  for line in "$@"; do config+=(--config "$line"); done
  rm -rf "$root"
  mkdir -p "$root"
  USER=parcelup-bench PASSWORD=bench-$(head -c 6 /dev/urandom | od -An -tx1 | tr -d ' \n')
  out=$(tests/servers/start-vsftpd.sh --background --root "$root" --user "$USER" \
    --password "$PASSWORD" --work "$root.conf" "${config[@]}")
  set -- $out
  PORT=$2 PID=$4
  pids+=("$PID")
}

vsftpd_tls_server() { # root
  vsftpd_server "$1" ssl_enable=YES "rsa_cert_file=$work/cert.pem" \
    "rsa_private_key_file=$work/key.pem" force_local_logins_ssl=YES force_local_data_ssl=YES \
    require_ssl_reuse=YES ssl_request_cert=NO ssl_ciphers=HIGH
}

far_server() { # root [ftpserver.py options...]
  local root=$1
  shift
  rm -rf "$root"
  mkdir -p "$root"
  USER=publisher PASSWORD=bench-far
  $python tests/servers/ftpserver.py --root "$root" --user "$USER" --password "$PASSWORD" --delay 0.02 \
    "$@" > "$root.out" 2>/dev/null &
  PID=$!
  pids+=("$PID")
  for _ in $(seq 1 100); do
    grep -q '^PORT ' "$root.out" 2>/dev/null && break
    sleep 0.1
  done
  PORT=$(sed -n 's/^PORT //p' "$root.out")
}
far_tls_server() { far_server "$1" --tls "$work/cert.pem" "$work/key.pem"; }

stop_server() {
  kill "$PID" 2>/dev/null || true
  wait "$PID" 2>/dev/null || true
}

# --- the tools: each prints the line of tools/bench/measure.py

write_settings() { # name site host
  cat > "$work/$1.ini" <<INI
[parcelup]
FTPLocalBaseDir=$2
FTPRemoteBaseDir=/
FTPHost=$3
FTPLogonName=$USER
FTPPassword=$PASSWORD
FTPPassive=1
INI
}

# A user's marker store exists from the runs before; creating one (a dozen disk syncs, tens of
# milliseconds) happens once per user. So each case gets a store, made by an untimed publication of
# a one-file site to a server of its own, and the timed runs publish every file with --all.
warm_state() { # name
  local site=$work/warm-site
  mkdir -p "$site" && echo warm > "$site/index.html"
  rm -rf "$work/$1-state" && mkdir -p "$work/$1-state"
  vsftpd_server "$servers/srv-warm"
  write_settings "$1-warm" "$site" "127.0.0.1:$PORT"
  XDG_STATE_HOME=$work/$1-state "$parcelup" --no-window --settings "$work/$1-warm.ini" >/dev/null
  stop_server
  rm -rf "$servers/srv-warm"
}

run_parcelup() { # site name host [wrapper...]: with the case's store (warm_state), every file
  local site=$1 name=$2 host=$3
  shift 3
  rm -f "$repo/build/release/app/parcelup.log"
  write_settings "$name" "$site" "$host"
  XDG_STATE_HOME=$work/$name-state "$@" tools/bench/measure.py "$parcelup" --no-window --all --settings "$work/$name.ini"
  cp "$repo/build/release/app/parcelup.log" "$work/$name-debug.log" 2>/dev/null ||
    cp "$work/$name-state/vellumix/parcelup/parcelup.log" "$work/$name-debug.log" 2>/dev/null || true
}

run_lftp() { # site [parallel]
  tools/bench/measure.py lftp -u "$USER,$PASSWORD" -p "$PORT" \
    -e "set ftp:passive-mode on; set ftp:ssl-allow no; mirror -R -p ${2:+-P $2} $1 /; quit" 127.0.0.1
}

run_lftp_tls() { # site [parallel]: AUTH TLS, data connections encrypted too
  tools/bench/measure.py lftp -u "$USER,$PASSWORD" -p "$PORT" \
    -e "set ftp:passive-mode on; set ftp:ssl-force yes; set ftp:ssl-protect-data yes; set ssl:verify-certificate no; mirror -R -p ${2:+-P $2} $1 /; quit" 127.0.0.1
}

run_curl_folders() { # site: one call per folder
  local script=$work/curl-folders.sh
  {
    echo 'set -e'
    for folder in "$1"/*/; do
      name=$(basename "$folder")
      files=$(cd "$folder" && ls | paste -sd, -)
      echo "curl -sS --ftp-pasv --ftp-create-dirs --user '$USER:$PASSWORD' -T '$folder{$files}' 'ftp://127.0.0.1:$PORT/$name/'"
    done
  } > "$script"
  tools/bench/measure.py bash "$script"
}

run_curl_file() { # file [curl options...]
  local file=$1
  shift
  tools/bench/measure.py curl -sS --ftp-pasv "$@" --user "$USER:$PASSWORD" -T "$file" \
    "ftp://127.0.0.1:$PORT/$(basename "$file")"
}

# --- the cases: one run of one tool each, into the server folder srv-<case>

small_parcelup() { vsftpd_server "$servers/srv-small-p"; run_parcelup "$small" small "127.0.0.1:$PORT"; stop_server; }
small_lftp() { vsftpd_server "$servers/srv-small-l"; run_lftp "$small"; stop_server; }
small_lftp4() { vsftpd_server "$servers/srv-small-l4"; run_lftp "$small" 4; stop_server; }
far400_parcelup() { far_server "$servers/srv-far400-p"; run_parcelup "$far400" far400 "127.0.0.1:$PORT"; stop_server; }
far400_lftp() { far_server "$servers/srv-far400-l"; run_lftp "$far400"; stop_server; }
far400_lftp4() { far_server "$servers/srv-far400-l4"; run_lftp "$far400" 4; stop_server; }
fartls_parcelup() { far_tls_server "$servers/srv-fartls-p"; run_parcelup "$far400" fartls "ftpes://127.0.0.1:$PORT"; stop_server; }
fartls_lftp() { far_tls_server "$servers/srv-fartls-l"; run_lftp_tls "$far400"; stop_server; }
fartls_lftp4() { far_tls_server "$servers/srv-fartls-l4"; run_lftp_tls "$far400" 4; stop_server; }
small_curl() { vsftpd_server "$servers/srv-small-c"; run_curl_folders "$small"; stop_server; }
far_parcelup() { far_server "$servers/srv-far-p"; run_parcelup "$far" far "127.0.0.1:$PORT"; stop_server; }
far_lftp() { far_server "$servers/srv-far-l"; run_lftp "$far"; stop_server; }
# A kernel may hand back page cache it finds cold within seconds (this machine's does, by DAMON
# reclaim: of a 300 MB file read once, 10 % was gone 8 s later). Then whichever tool reads the file
# first after a pause reads part of it from disk, and the turn order decides the ratio. Each tool
# gets the file from memory, as a site its generator has just written would be.
in_memory() { cat "$1" > /dev/null; }
big_parcelup() { vsftpd_server "$servers/srv-big-p"; in_memory "$big/film.bin"; run_parcelup "$big" big "127.0.0.1:$PORT"; stop_server; }
big_curl() { vsftpd_server "$servers/srv-big-c"; in_memory "$big/film.bin"; run_curl_file "$big/film.bin"; stop_server; }
big_lftp() { vsftpd_server "$servers/srv-big-l"; in_memory "$big/film.bin"; run_lftp "$big"; stop_server; }
tiny_parcelup() { vsftpd_server "$servers/srv-tiny-p"; run_parcelup "$tiny" tiny "127.0.0.1:$PORT"; stop_server; }
tiny_curl() { vsftpd_server "$servers/srv-tiny-c"; run_curl_file "$tiny/a.txt"; stop_server; }
tls_parcelup() { vsftpd_tls_server "$servers/srv-tls-p"; in_memory "$big/film.bin"; run_parcelup "$big" tls "ftpes://127.0.0.1:$PORT"; stop_server; }
tls_curl() { vsftpd_tls_server "$servers/srv-tls-c"; in_memory "$big/film.bin"; run_curl_file "$big/film.bin" --ssl-reqd -k; stop_server; }

# --- bookkeeping

declare -A result
field() { echo "${result[$1]}" | awk -v k="$2" '{for (i = 1; i < NF; i++) if ($i == k) print $(i + 1)}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
# The median of each figure over the lines of the runs (stdin), and the worst exit status.
median() {
  $python -c '
import statistics, sys
rows = [dict(zip(l.split()[0::2], l.split()[1::2])) for l in sys.stdin if l.startswith("WALL")]
med = lambda k: statistics.median(float(r[k]) for r in rows)
print("WALL %.3f CPU %.3f RSS_KB %d STATUS %d" % (med("WALL"), med("CPU"), med("RSS_KB"),
      max(int(r["STATUS"]) for r in rows)))'
}
# Runs the given cases RUNS times, taking turns, and keeps the medians in result[<case>].
measure() {
  local -A lines=()
  for _ in $(seq 1 "$runs"); do
    for name in "$@"; do lines[$name]+="$("$name")"$'\n'; done
  done
  for name in "$@"; do
    result[$name]=$(printf '%s' "${lines[$name]}" | median)
    printf '  %-14s %s\n' "$name" "${result[$name]}"
  done
}
same_tree() { # site server-folder label
  if diff -r "$1" "$2" >/dev/null 2>&1; then echo "  $3: server folder equals the site"; else
    echo "  $3: SERVER FOLDER DIFFERS"; fi
}
verdict() { # figure operator goal
  awk -v a="$1" -v op="$2" -v g="$3" 'BEGIN {
    if (a == "n/a" || a == "") { print "not measured"; exit }
    ok = (op == "<=") ? (a + 0 <= g + 0) : (a + 0 >= g + 0)
    print ok ? "reached" : "NOT reached" }'
}

commit=$(git rev-parse --short HEAD)$(git diff --quiet HEAD -- . 2>/dev/null || echo "+uncommitted")
echo "Parcelup $commit, release build, $runs run(s) per tool and case (medians), $(nproc) cores"

for name in small far far400 fartls big tiny tls sync limit; do warm_state "$name"; done

echo "== 1. 1,000 small files in 50 folders, vsftpd on loopback"
measure small_parcelup small_lftp small_lftp4 small_curl
same_tree "$small" "$servers/srv-small-p" parcelup
same_tree "$small" "$servers/srv-small-l" lftp
if [ -f "$work/small-debug.log" ]; then
  # The debug log is the control dialogue, one command or reply per line, with CR LF line ends.
  commands=$(tr -d '\r' < "$work/small-debug.log" | grep -cE '^[A-Z]{3,4}( |$)' || true)
  echo "  FTP commands sent by parcelup on its first connection: $commands for 1,000 files ($(ratio "$commands" 1000) per file):"
  echo "   $(tr -d '\r' < "$work/small-debug.log" | grep -oE '^[A-Z]{3,4}( |$)' | sort | uniq -c | sort -rn | tr -s ' \n' ' ')"
fi

echo "== 2. 200 small files in 10 folders, every command and data connection taken up 20 ms late (pyftpdlib)"
measure far_parcelup far_lftp
same_tree "$far" "$servers/srv-far-p" parcelup
same_tree "$far" "$servers/srv-far-l" lftp

echo "== 2b. 400 small files in 20 folders, every reply and data connection 20 ms late, each connection on its own (pyftpdlib)"
measure far400_parcelup far400_lftp far400_lftp4
same_tree "$far400" "$servers/srv-far400-p" parcelup
same_tree "$far400" "$servers/srv-far400-l4" "lftp -P 4"
if [ -f "$work/far400-debug.log" ]; then
  echo "  parcelup: $(tr -d '\r' < "$work/far400-debug.log" | grep -c '^\[[0-9]\] USER ' || true) further log-ins, $(tr -d '\r' < "$work/far400-debug.log" | grep -cE '^(\[[0-9]\] )?STOR ' || true) STORs"
fi

echo "== 2b TLS. the same 400 files over explicit TLS (AUTH TLS, PROT P), 20 ms per reply"
measure fartls_parcelup fartls_lftp fartls_lftp4
same_tree "$far400" "$servers/srv-fartls-p" parcelup

echo "== 2c. a host that takes two connections, then one (vsftpd max_per_ip): a first and a later publication"
limit_status=""
for most in 2 1; do
  vsftpd_server "$servers/srv-limit$most" "max_per_ip=$most"
  write_settings limit "$far400" "127.0.0.1:$PORT"
  first=0 later=0
  XDG_STATE_HOME=$work/limit-state "$parcelup" --no-window --all --settings "$work/limit.ini" >/dev/null || first=$?
  for f in "$far400"/ordner01/*.html; do echo changed >> "$f"; done
  XDG_STATE_HOME=$work/limit-state "$parcelup" --no-window --settings "$work/limit.ini" >/dev/null || later=$?
  stop_server
  echo "  at most $most: first run status $first, later run status $later"
  same_tree "$far400" "$servers/srv-limit$most" "at most $most"
  limit_status+="$first$later"
done

echo "== 3. one 300 MB file, vsftpd on loopback"
measure big_parcelup big_curl big_lftp
cmp -s "$big/film.bin" "$servers/srv-big-p/film.bin" && echo "  parcelup: file byte-exact on the server" || echo "  parcelup: FILE DIFFERS"
# What each run costs besides the file: start, log-in, and for parcelup reading the server's old
# upload log and writing the new one (two more data connections), and the store's syncs.
echo "   the same with one 2-byte file instead, the cost of a run besides the transfer:"
measure tiny_parcelup tiny_curl

echo "== 4. one 300 MB file over TLS, vsftpd requiring TLS"
measure tls_parcelup tls_curl
cmp -s "$big/film.bin" "$servers/srv-tls-p/film.bin" && echo "  parcelup: file byte-exact on the server" || echo "  parcelup: FILE DIFFERS"

echo "== 5. disk syncs during a publication of the 1,000 small files (strace, not timed)"
vsftpd_server "$servers/srv-sync"
run_parcelup "$small" sync "127.0.0.1:$PORT" strace -f -qq -y -e trace=fsync,fdatasync -o "$work/syncs.txt" >/dev/null
stop_server
syncs=$(grep -cE '^[0-9]+ +(fsync|fdatasync)\(' "$work/syncs.txt" || true)
echo "  $syncs syncs in all; by file:"
grep -oE '(fsync|fdatasync)\([0-9]+<[^>]*>' "$work/syncs.txt" | sed -E 's/\([0-9]+</ /; s/>$//; s#[^ ]*/##' |
  sort | uniq -c | sort -rn | sed 's/^/   /' || true

small_time=$(ratio "$(field small_parcelup WALL)" "$(field small_lftp WALL)")
small_time4=$(ratio "$(field small_parcelup WALL)" "$(field small_lftp4 WALL)")
far400_rate=$(ratio "$(field far400_lftp WALL)" "$(field far400_parcelup WALL)")
far400_rate4=$(ratio "$(field far400_lftp4 WALL)" "$(field far400_parcelup WALL)")
fartls_rate=$(ratio "$(field fartls_lftp WALL)" "$(field fartls_parcelup WALL)")
fartls_rate4=$(ratio "$(field fartls_lftp4 WALL)" "$(field fartls_parcelup WALL)")
# Files per second: the same 200 files, so the ratio of the rates is lftp's time over ours.
far_rate=$(ratio "$(field far_lftp WALL)" "$(field far_parcelup WALL)")
big_time=$(ratio "$(field big_parcelup WALL)" "$(field big_curl WALL)")
tls_time=$(ratio "$(field tls_parcelup WALL)" "$(field tls_curl WALL)")
big_memory=$(ratio "$(field big_parcelup RSS_KB)" "$(field big_curl RSS_KB)")
syncs_per_thousand=$syncs # the case has exactly 1,000 files

echo
echo "== Summary: Parcelup $commit, command: RUNS=$runs tools/bench/bench-publish.sh"
printf '  %-58s %8s  %-8s %s\n' figure value goal verdict
summary() { printf '  %-58s %8s  %-8s %s\n' "$1" "$2" "$3 $4" "$(verdict "$2" "$3" "$4")"; }
summary "1,000 small files, loopback: time parcelup/lftp -P 4" "$small_time4" "<=" 0.9
printf '  %-58s %8s\n' "1,000 small files, loopback: time parcelup/lftp (serial)" "$small_time"
summary "400 files, 20 ms per reply: files/s parcelup/lftp" "$far400_rate" ">=" 4
summary "400 files, 20 ms per reply: files/s parcelup/lftp -P 4" "$far400_rate4" ">=" 1.3
printf '  %-58s %8s\n' "400 files over TLS, 20 ms: files/s parcelup/lftp" "$fartls_rate"
printf '  %-58s %8s\n' "400 files over TLS, 20 ms: files/s parcelup/lftp -P 4" "$fartls_rate4"
summary "host limit 2, then 1: runs not ending with status 0" "$(printf '%s' "$limit_status" | tr -d 0 | wc -c)" "<=" 0
summary "200 small files, 20 ms per reply: files/s parcelup/lftp" "$far_rate" ">=" 1.3
summary "300 MB file, plain: time parcelup/curl" "$big_time" "<=" 1.0
summary "300 MB file, TLS: time parcelup/curl --ssl-reqd" "$tls_time" "<=" 1.0
summary "300 MB file: peak memory parcelup/curl" "$big_memory" "<=" 1.5
summary "disk syncs per 1,000 files (not one per file)" "$syncs_per_thousand" "<=" 50
printf '  %-58s %s\n' "parcelup, 1,000 files: wall / processor seconds" "$(field small_parcelup WALL) / $(field small_parcelup CPU)"
printf '  %-58s %s\n' "lftp, 1,000 files: wall / processor seconds" "$(field small_lftp WALL) / $(field small_lftp CPU)"
printf '  %-58s %s\n' "400 files, 20 ms: files/s parcelup, lftp, lftp -P 4" "$(awk -v t="$(field far400_parcelup WALL)" 'BEGIN{printf "%.1f", 400/t}'), $(awk -v t="$(field far400_lftp WALL)" 'BEGIN{printf "%.1f", 400/t}'), $(awk -v t="$(field far400_lftp4 WALL)" 'BEGIN{printf "%.1f", 400/t}')"
printf '  %-58s %s\n' "400 files over TLS, 20 ms: files/s parcelup, lftp, lftp -P 4" "$(awk -v t="$(field fartls_parcelup WALL)" 'BEGIN{printf "%.1f", 400/t}'), $(awk -v t="$(field fartls_lftp WALL)" 'BEGIN{printf "%.1f", 400/t}'), $(awk -v t="$(field fartls_lftp4 WALL)" 'BEGIN{printf "%.1f", 400/t}')"
printf '  %-58s %s\n' "200 files, 20 ms: files/s parcelup, lftp" "$(awk -v t="$(field far_parcelup WALL)" 'BEGIN{printf "%.1f", 200/t}'), $(awk -v t="$(field far_lftp WALL)" 'BEGIN{printf "%.1f", 200/t}')"
printf '  %-58s %s\n' "300 MB plain: MB/s parcelup, curl" "$(awk -v t="$(field big_parcelup WALL)" 'BEGIN{printf "%.0f", 300/t}'), $(awk -v t="$(field big_curl WALL)" 'BEGIN{printf "%.0f", 300/t}')"
printf '  %-58s %s\n' "300 MB TLS: MB/s parcelup, curl" "$(awk -v t="$(field tls_parcelup WALL)" 'BEGIN{printf "%.0f", 300/t}'), $(awk -v t="$(field tls_curl WALL)" 'BEGIN{printf "%.0f", 300/t}')"
printf '  %-58s %s\n' "one 2-byte file: wall seconds parcelup, curl" "$(field tiny_parcelup WALL), $(field tiny_curl WALL)"
printf '  %-58s %s\n' "300 MB plain: peak memory MB parcelup, curl" "$(awk -v k="$(field big_parcelup RSS_KB)" 'BEGIN{printf "%.1f", k/1024}'), $(awk -v k="$(field big_curl RSS_KB)" 'BEGIN{printf "%.1f", k/1024}')"
