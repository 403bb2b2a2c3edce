#!/usr/bin/env bash
# Starts vsftpd on a loopback address for the tests, the benchmarks and the captures: the one place
# that writes its configuration. It serves ROOT to a local account (created, or given the password,
# on the way; ROOT is handed to it), and prints "PORT <n>" once vsftpd listens, as the Python servers
# in this folder do. vsftpd binds a port of the kernel's choosing and the port is read back from the
# listening socket, so no other server can take it in between. Needs root: vsftpd logs real local
# users in through PAM.
#
#   tests/servers/start-vsftpd.sh --root DIR --user NAME --password PASSWORD
#       [--bind 127.0.0.1 | --bind ::1] [--port N]   (default: one the kernel picks)
#       [--pasv-address ADDRESS]       name this address in PASV replies (IPv4 only)
#       [--active refuse]              refuse PORT and EPRT
#       [--throttle BYTES_PER_SECOND]  limit each data connection
#       [--tls CERT KEY]               offer AUTH TLS with these PEM files, plain FTP allowed too
#       [--tls-required]               with --tls: refuse log-ins and data without TLS
#       [--tls-implicit]               with --tls: TLS from the first byte, and required
#       [--command-log FILE]           vsftpd's protocol log: 'FTP command: Client "...", "USER x"'
#       [--transfer-log FILE]          a wu-ftpd xferlog line for every transfer, with its bytes
#       [--config LINE ...]            further vsftpd.conf lines, after those above
#       [--work DIR]                   where the configuration goes, for as long as vsftpd runs
#                                      (default: a new temporary folder, left behind)
#       [--background]                 start vsftpd, print "PORT <n> PID <pid>" and return; stop
#                                      it with: kill <pid>
#
# Without --background the script becomes vsftpd (the same process id) once the configuration is
# written.
set -euo pipefail

usage() { sed -n '9,22p' "$0" >&2; exit 64; }

root= user= password= bind=127.0.0.1 port=0 pasv_address= active=allow throttle=0
cert= key= tls=none command_log= transfer_log= work= background=no
extra=()
while [ $# -gt 0 ]; do
  case $1 in
    --root) root=${2:?}; shift 2 ;;
    --user) user=${2:?}; shift 2 ;;
    --password) password=${2:?}; shift 2 ;;
    --bind) bind=${2:?}; shift 2 ;;
    --port) port=${2:?}; shift 2 ;;
    --pasv-address) pasv_address=${2:?}; shift 2 ;;
    --active) [ "${2:-}" = refuse ] || usage; active=refuse; shift 2 ;;
    --throttle) throttle=${2:?}; shift 2 ;;
    --tls) cert=${2:?}; key=${3:?}; [ "$tls" != none ] || tls=explicit; shift 3 ;;
    --tls-required) tls=required; shift ;;
    --tls-implicit) tls=implicit; shift ;;
    --command-log) command_log=${2:?}; shift 2 ;;
    --transfer-log) transfer_log=${2:?}; shift 2 ;;
    --config) extra+=("${2:?}"); shift 2 ;;
    --work) work=${2:?}; shift 2 ;;
    --background) background=yes; shift ;;
    *) usage ;;
  esac
done
[ -n "$root" ] && [ -n "$user" ] && [ -n "$password" ] || usage
[ "$tls" = none ] || [ -n "$cert" ] || { echo "--tls-required and --tls-implicit need --tls" >&2; exit 64; }
[ "$(id -u)" -eq 0 ] || { echo "vsftpd needs to be started as root" >&2; exit 1; }
vsftpd=$(PATH=/usr/sbin:/sbin:$PATH command -v vsftpd) ||
  { echo "vsftpd is not installed (Debian package vsftpd)" >&2; exit 1; }
[ -d "$root" ] || { echo "the root folder \"$root\" does not exist" >&2; exit 1; }

# A shell from /etc/shells, or PAM's pam_shells refuses the log-in; the home folder "/", because
# vsftpd changes into the home folder as that user before it goes on to local_root.
if ! getent passwd "$user" >/dev/null; then
  useradd --system --no-create-home --home-dir / --shell /bin/sh "$user"
elif [ "$(getent passwd "$user" | cut -d: -f6)" != / ]; then
  usermod --home / "$user"
fi
echo "$user:$password" | chpasswd
chown -R "$user": "$root"

[ -n "$work" ] || work=$(mktemp -d "${TMPDIR:-/tmp}/parcelup-vsftpd.XXXXXX")
mkdir -p "$work/empty"
conf=$work/vsftpd.conf
yes_no() { if [ "$1" = yes ]; then echo YES; else echo NO; fi; }
{
  echo "listen_port=$port"
  echo "background=NO"
  echo "seccomp_sandbox=NO"
  # Containers often refuse new namespaces; the tests need no extra isolation.
  echo "isolate=NO"
  echo "isolate_network=NO"
  echo "anonymous_enable=NO"
  echo "local_enable=YES"
  # Allows STOR, APPE, REST before STOR, DELE, MKD, RMD and RNFR/RNTO, which replaces a file of
  # the new name; nothing more is needed to continue uploads or to rename onto existing files.
  echo "write_enable=YES"
  echo "local_umask=022"
  echo "pam_service_name=vsftpd"
  echo "userlist_enable=NO"
  echo "chroot_local_user=YES"
  echo "allow_writeable_chroot=YES"
  echo "local_root=$root"
  echo "secure_chroot_dir=$work/empty"
  echo "pasv_enable=YES"
  echo "port_enable=$(yes_no "$([ "$active" = refuse ] && echo no || echo yes)")"
  echo "connect_from_port_20=NO"
  echo "syslog_enable=NO"
  echo "dirmessage_enable=NO"
  echo "delay_failed_login=0"
  echo "delay_successful_login=0"
  echo "ftpd_banner=Parcelup test server ready."
  if [[ $bind == *:* ]]; then
    echo "listen=NO"
    echo "listen_ipv6=YES"
    echo "listen_address6=$bind"
  else
    echo "listen=YES"
    echo "listen_ipv6=NO"
    echo "listen_address=$bind"
    echo "pasv_address=${pasv_address:-$bind}"
  fi
  [ "$throttle" -le 0 ] || echo "local_max_rate=$throttle"
  if [ -z "$command_log$transfer_log" ]; then
    echo "xferlog_enable=NO"
  else
    echo "xferlog_enable=YES"
  fi
  if [ -n "$command_log" ]; then
    echo "xferlog_std_format=NO"
    echo "log_ftp_protocol=YES"
    echo "vsftpd_log_file=$command_log"
  fi
  if [ -n "$transfer_log" ]; then
    # The protocol log is vsftpd's own format; the transfer log beside it, in the standard one,
    # takes both logs at once.
    if [ -n "$command_log" ]; then echo "dual_log_enable=YES"; else echo "xferlog_std_format=YES"; fi
    echo "xferlog_file=$transfer_log"
  fi
  if [ "$tls" != none ]; then
    forced=$(yes_no "$([ "$tls" = explicit ] && echo no || echo yes)")
    echo "ssl_enable=YES"
    echo "rsa_cert_file=$cert"
    echo "rsa_private_key_file=$key"
    echo "implicit_ssl=$(yes_no "$([ "$tls" = implicit ] && echo yes || echo no)")"
    echo "force_local_logins_ssl=$forced"
    echo "force_local_data_ssl=$forced"
    # Data connections must resume the control connection's session, and uploads must end with a
    # TLS close: a client that only closes TCP fails here. (Downloads cannot be held to the same:
    # Qt answers no close_notify with its own.)
    echo "require_ssl_reuse=YES"
    echo "strict_ssl_read_eof=YES"
    echo "ssl_request_cert=NO"
    # The built-in default names a cipher that current OpenSSL no longer offers.
    echo "ssl_ciphers=HIGH"
  fi
  for line in ${extra[@]+"${extra[@]}"}; do echo "$line"; done
} > "$conf"

# The port a process listens on, read from its socket in /proc; nothing while it does not listen.
listening_port() {
  local fd target state local_address inode
  local -A sockets=()
  for fd in /proc/"$1"/fd/*; do
    target=$(readlink "$fd" 2>/dev/null) || continue
    [[ $target == socket:\[*\] ]] && sockets[${target:8:-1}]=1
  done
  # "sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode";
  # state 0A is LISTEN.
  while read -r _ local_address _ state _ _ _ _ _ inode _; do
    if [ "$state" = 0A ] && [ -n "${sockets[$inode]:-}" ]; then
      echo $((16#${local_address##*:}))
      return 0
    fi
  done < <(cat /proc/net/tcp /proc/net/tcp6 2>/dev/null)
  return 1
}

# Waits, with a deadline, until process PID listens, and prints its port.
wait_for_port() { # pid
  local bound
  for _ in $(seq 1 1000); do # 20 seconds
    bound=$(listening_port "$1") && { echo "$bound"; return 0; }
    kill -0 "$1" 2>/dev/null || break
    sleep 0.02
  done
  echo "vsftpd did not start listening ($conf)" >&2
  return 1
}

# vsftpd's output goes to standard error: standard output carries only the line with the port.
if [ "$background" = yes ]; then
  "$vsftpd" "$conf" </dev/null >&2 &
  pid=$!
  bound=$(wait_for_port "$pid") || { kill "$pid" 2>/dev/null || true; exit 1; }
  echo "PORT $bound PID $pid"
  exit 0
fi
# In the foreground this process becomes vsftpd, so that whoever started it holds the server's own
# process id, as with a server started directly: stopping it first keeps it from starting more
# sessions. A watcher reports the port; it is detached, so that vsftpd never sees a child it did
# not start end.
( (bound=$(wait_for_port "$$") && echo "PORT $bound") & )
exec "$vsftpd" "$conf" </dev/null >&2
