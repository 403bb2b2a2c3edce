#!/usr/bin/env bash
# The Debian package end to end, as root: build it with tools/package.sh (lintian must find no
# error), install it with dpkg, publish a small site with the installed program to a local FTP
# server, then remove and purge it and check that the machine is as before.
#   test-debian-package.sh SOURCE_DIR
# Exits 77 (skipped) when not run as root.
set -euo pipefail
# A command that fails outside the checks ends the test too; this says which one.
trap 'echo "FAIL: line $LINENO: \"$BASH_COMMAND\" ended with status $?"' ERR
source=$(realpath "$1")

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: installing a package needs root"
  exit 77
fi
# Every reader below takes its whole input: with pipefail, a reader that stops early (grep -q, awk's
# exit, head) can fail the pipeline by the writer's SIGPIPE, depending on timing.
package_status() {
  dpkg-query -W -f='${Status}' parcelup 2>/dev/null || true
}
case "$(package_status)" in
  "" | *" not-installed") ;;
  *" config-files")
    # What an earlier run of this test left when it was killed during its purge: no program, only
    # dpkg's record of it. Purging that record is the step that run did not finish.
    dpkg --purge parcelup >/dev/null
    ;;
  *)
    echo "FAIL: parcelup is already installed here; the test installs and purges its own copy"
    exit 1
    ;;
esac

work=$(mktemp -d)
server_pid=
installed=
# Stops the server by its PID and purges the package when a check failed half-way; the test's
# own result is kept.
finish() {
  local status=$?
  set +e
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  [ -n "$installed" ] && dpkg --purge parcelup >/dev/null 2>&1
  rm -rf "$work"
  exit "$status"
}
trap finish EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

# Waits up to $2 seconds for the command $1 to succeed.
wait_for() {
  local deadline=$((SECONDS + $2))
  until eval "$1"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

echo "=== build the package"
package=$("$source/tools/package.sh" --check | tail -n 1)
[ -f "$package" ] || fail "tools/package.sh named no package: $package"
version=$(dpkg-deb -f "$package" Version)
arch=$(dpkg-deb -f "$package" Architecture)
[ "$(basename "$package")" = "parcelup_${version}_${arch}.deb" ] ||
  fail "the package is called $(basename "$package"), not parcelup_${version}_${arch}.deb"

echo "=== contents"
contents=$(dpkg-deb -c "$package" | awk '{ print $6 $7 $8 }')
while read -r path; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done <<EXPECTED
./usr/bin/parcelup->../lib/parcelup/parcelup
./usr/lib/parcelup/parcelup
./usr/lib/parcelup/ftp.dat
./usr/lib/parcelup/parcelup-window.so
./usr/share/man/man1/parcelup.1.gz
./usr/share/doc/parcelup/copyright
./usr/share/doc/parcelup/changelog.Debian.gz
./usr/share/doc/parcelup/README.md
./usr/share/icons/hicolor/16x16/apps/parcelup.png
./usr/share/icons/hicolor/48x48/apps/parcelup.png
./usr/share/icons/hicolor/256x256/apps/parcelup.png
EXPECTED

# Depends must name the package of every shared library that a program or module in the package
# needs, so that apt brings them all onto a fresh machine.
depends=$(dpkg-deb -f "$package" Depends)
# One package name a line, without versions and alternatives.
depends_names=$(tr ',|' '\n' <<<"$depends" | awk '{ print $1 }')
dpkg-deb -x "$package" "$work/unpacked"
needed=$(find "$work/unpacked" -type f -exec sh -c 'head -c 4 "$1" | grep -q "^.ELF"' _ {} \; \
           -exec objdump -p {} \; | awk '$1 == "NEEDED" { print $2 }' | sort -u)
[ -n "$needed" ] || fail "no program in the package needs a shared library"
while read -r library; do
  path=$(ldconfig -p | awk -v lib="$library" '$1 == lib && !found { print $NF; found = 1 }')
  [ -n "$path" ] || fail "the library $library is not installed here"
  # dpkg knows a library by the path its package ships, which is the link or the file behind it.
  owner=$(dpkg -S "$path" 2>/dev/null | awk -F: 'NR == 1 { print $1 }') ||
    owner=$(dpkg -S "$(realpath "$path")" | awk -F: 'NR == 1 { print $1 }')
  grep -qxF "$owner" <<<"$depends_names" ||
    fail "Depends ($depends) lacks $owner, which holds $library"
done <<<"$needed"
echo "Depends: $depends"

echo "=== install"
find /usr /etc /opt /var/lib/dpkg/info -xdev 2>/dev/null | sort >"$work/before"
installed=1
dpkg -i "$package"

expected_version="Parcelup ${version%-*}"
[ "$(/usr/bin/parcelup --version)" = "$expected_version" ] ||
  fail "parcelup --version printed \"$(/usr/bin/parcelup --version)\", not \"$expected_version\""
if command -v man >/dev/null; then
  [ "$(man -w parcelup)" = /usr/share/man/man1/parcelup.1.gz ] || fail "man does not find parcelup(1)"
fi

echo "=== publish with the installed program"
mkdir -p "$work/site/seiten" "$work/server" "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
echo '<html>Start</html>' >"$work/site/index.html"
echo '<html>Seite</html>' >"$work/site/seiten/eins.html"
head -c 100000 /dev/urandom >"$work/site/seiten/bild.png"
/usr/bin/python3 "$source/tests/servers/ftpserver.py" --root "$work/server" --user web --password geheim \
  >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
wait_for "grep -q '^PORT ' '$work/server.out' || ! kill -0 $server_pid 2>/dev/null" 30 ||
  fail "the FTP server did not start"
port=$(awk '$1 == "PORT" { print $2 }' "$work/server.out")
[ -n "$port" ] || fail "the FTP server did not start: $(cat "$work/server.err")"
cat >"$work/publish.ini" <<INI
[parcelup]
FTPLocalBaseDir=$work/site
FTPRemoteBaseDir=htdocs
FTPHost=127.0.0.1:$port
FTPLogonName=web
FTPPassword=geheim
FTPPassive=1
FTPDelete=1
INI
status=0
env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" LC_ALL=C.UTF-8 \
  /usr/bin/parcelup --no-window --settings "$work/publish.ini" || status=$?
[ "$status" -eq 0 ] || fail "the installed parcelup ended with status $status"
diff -r "$work/site" "$work/server/htdocs" || fail "the server does not hold the site"
# As root the program writes its debug log into its own folder, the one it also takes the
# animation clip from: so the program resolved the link in /usr/bin to the clip's folder.
[ -s /usr/lib/parcelup/parcelup.log ] || fail "no debug log beside the installed program"

echo "=== publish with the installed program's window"
# The window module is loaded beside the resolved program and must find every symbol it uses in
# the stripped program. The window stays open with the result, so it is closed once the new page
# has arrived, as a logout would close it.
echo '<html>Neu</html>' >"$work/site/seiten/neu.html"
env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" LC_ALL=C.UTF-8 \
  QT_QPA_PLATFORM=offscreen /usr/bin/parcelup --settings "$work/publish.ini" \
  >"$work/window.out" 2>"$work/window.err" &
window_pid=$!
# The upload log goes last; once the server's copy names the new page, the run is through.
wait_for "grep -qi 'neu.html' '$work/server/htdocs/vellumixftplog.log' && cmp -s '$work/site/vellumixftplog.log' '$work/server/htdocs/vellumixftplog.log' || ! kill -0 $window_pid 2>/dev/null" 60 ||
  fail "the window's run did not publish the new page"
kill -TERM "$window_pid" 2>/dev/null || true
wait "$window_pid" || true
# Without the module the program would say so (and publish in the terminal instead).
if grep -q 'Programmfenster' "$work/window.err"; then
  fail "the installed program could not open its window: $(cat "$work/window.err")"
fi
diff -r "$work/site" "$work/server/htdocs" || fail "the window's run did not publish the site"

echo "=== remove and purge"
dpkg -r parcelup
[ ! -e /usr/bin/parcelup ] || fail "dpkg -r left /usr/bin/parcelup"
dpkg --purge parcelup
installed=
[ -z "$(package_status)" ] || [ "$(package_status)" = "unknown ok not-installed" ] ||
  fail "dpkg still knows parcelup after purging it: $(package_status)"
find /usr /etc /opt /var/lib/dpkg/info -xdev 2>/dev/null | sort >"$work/after"
# Icon caches are rebuilt by triggers and may appear with the first icon; they are not ours.
if ! diff <(grep -v 'icon-theme.cache$' "$work/before") <(grep -v 'icon-theme.cache$' "$work/after"); then
  fail "purging parcelup did not restore the file system (< before, > after)"
fi
echo "PASS: built, checked, installed, published, removed and purged"
