#!/usr/bin/env bash
# Publishes 1,000 small files in 50 folders, and one 200 MB file, to a local vsftpd, and does the same
# with lftp ("mirror -R") and curl ("-T") in the same run, each into a fresh server folder. Prints wall
# time, processor time and peak memory of each, the ratios, and the FTP commands Parcelup sends per small
# file. Needs root (vsftpd) and a built parcelup (release preset, built here when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
tools/install-deps.sh
command -v lftp >/dev/null || apt-get install -y -qq lftp
command -v curl >/dev/null || apt-get install -y -qq curl
cmake --preset release >/dev/null && cmake --build --preset release -j "$(nproc)" --target parcelup >/dev/null
parcelup=$repo/build/release/app/parcelup

work=$(mktemp -d /tmp/parcelup-bench.XXXXXX)
chmod 755 "$work"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

small=$work/small
big=$work/big
for folder in $(seq -w 1 50); do
  mkdir -p "$small/ordner$folder"
  for file in $(seq -w 1 20); do
    head -c $((1000 + 10#$file * 97)) /dev/urandom > "$small/ordner$folder/seite$file.html"
  done
done
mkdir -p "$big"
head -c 200000000 /dev/urandom > "$big/film.bin"

server() { # root -> sets PORT PID USER PASSWORD
  local out
  out=$(tools/start-vsftpd.sh "$1")
  set -- $out
  PORT=$2 PID=$4 USER=$6 PASSWORD=$8
  pids+=("$PID")
}

run_parcelup() { # site root name
  local site=$1 root=$2 name=$3
  server "$root"
  mkdir -p "$work/$name-state"
  cat > "$work/$name.ini" <<INI
[parcelup]
FTPLocalBaseDir=$site
FTPRemoteBaseDir=/
FTPHost=127.0.0.1:$PORT
FTPLogonName=$USER
FTPPassword=$PASSWORD
FTPPassive=1
INI
  XDG_STATE_HOME=$work/$name-state tools/measure.py "$parcelup" --no-window --settings "$work/$name.ini"
  cp "$repo/build/release/app/parcelup.log" "$work/$name-debug.log" 2>/dev/null ||
    cp "$work/$name-state/vellumix/parcelup/parcelup.log" "$work/$name-debug.log" 2>/dev/null || true
  kill "$PID"
}

run_lftp() { # site root
  server "$2"
  tools/measure.py lftp -u "$USER,$PASSWORD" -p "$PORT" -e "set ftp:passive-mode on; mirror -R $1 /; quit" 127.0.0.1
  kill "$PID"
}

run_curl_small() { # site root
  server "$2"
  local script=$work/curl-small.sh
  {
    echo 'set -e'
    for folder in "$1"/*/; do
      name=$(basename "$folder")
      files=$(cd "$folder" && ls | paste -sd, -)
      echo "curl -sS --ftp-pasv --ftp-create-dirs --user '$USER:$PASSWORD' -T '$folder{$files}' 'ftp://127.0.0.1:$PORT/$name/'"
    done
  } > "$script"
  tools/measure.py bash "$script"
  kill "$PID"
}

run_curl_big() { # site root
  server "$2"
  tools/measure.py curl -sS --ftp-pasv --user "$USER:$PASSWORD" -T "$1/film.bin" "ftp://127.0.0.1:$PORT/film.bin"
  kill "$PID"
}

row() { printf '%-28s %s\n' "$1" "$2"; }
field() { echo "$1" | awk -v k="$2" '{for (i = 1; i < NF; i++) if ($i == k) print $(i + 1)}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

echo "== 1,000 small files in 50 folders"
p=$(run_parcelup "$small" "$work/srv-p-small" small); row parcelup "$p"
l=$(run_lftp "$small" "$work/srv-l-small"); row "lftp mirror -R" "$l"
c=$(run_curl_small "$small" "$work/srv-c-small"); row "curl -T (one call per folder)" "$c"
diff -r "$small" "$work/srv-p-small" >/dev/null && echo "parcelup: server folder equals the site" || echo "parcelup: SERVER FOLDER DIFFERS"
echo "time parcelup/lftp: $(ratio "$(field "$p" WALL)" "$(field "$l" WALL)")  parcelup/curl: $(ratio "$(field "$p" WALL)" "$(field "$c" WALL)")"
echo "memory parcelup/lftp: $(ratio "$(field "$p" RSS_KB)" "$(field "$l" RSS_KB)")"
if [ -f "$work/small-debug.log" ]; then
  # The debug log is the control dialogue, one command or reply per line, with CR LF line ends.
  commands=$(tr -d '\r' < "$work/small-debug.log" | grep -E '^[A-Z]{3,4}( |$)' | grep -vcE '^[0-9]' || true)
  echo "FTP commands sent by parcelup: $commands for 1,001 files ($(ratio "$commands" 1001) per file):"
  tr -d '\r' < "$work/small-debug.log" | grep -oE '^[A-Z]{3,4}( |$)' | sort | uniq -c | sort -rn | tr '\n' ' '
  echo
fi

echo "== one 200 MB file"
p=$(run_parcelup "$big" "$work/srv-p-big" big); row parcelup "$p"
c=$(run_curl_big "$big" "$work/srv-c-big"); row "curl -T" "$c"
l=$(run_lftp "$big" "$work/srv-l-big"); row "lftp mirror -R" "$l"
cmp -s "$big/film.bin" "$work/srv-p-big/film.bin" && echo "parcelup: file byte-exact on the server" || echo "parcelup: FILE DIFFERS"
echo "time parcelup/curl: $(ratio "$(field "$p" WALL)" "$(field "$c" WALL)")  parcelup/lftp: $(ratio "$(field "$p" WALL)" "$(field "$l" WALL)")"
echo "memory parcelup/curl: $(ratio "$(field "$p" RSS_KB)" "$(field "$c" RSS_KB)")"
