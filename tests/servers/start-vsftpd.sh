#!/usr/bin/env bash
# Starts vsftpd for benchmarks and captures on a free port of 127.0.0.1, serving ROOT to a local test
# account, and prints "PORT <port> PID <pid> USER <user> PASSWORD <password>". Needs root (vsftpd
# logs real local users in through PAM). Stop it with: kill <pid>
#   tests/servers/start-vsftpd.sh ROOT [extra vsftpd.conf lines...]
set -euo pipefail
root=${1:?usage: start-vsftpd.sh ROOT [config lines...]}
shift
[ "$(id -u)" -eq 0 ] || { echo "vsftpd needs root" >&2; exit 1; }
command -v vsftpd >/dev/null || [ -x /usr/sbin/vsftpd ] || { echo "vsftpd is not installed" >&2; exit 1; }

user=parcelup-bench
password=bench-$(head -c 6 /dev/urandom | od -An -tx1 | tr -d ' \n')
id "$user" >/dev/null 2>&1 || useradd --no-create-home --shell /bin/bash "$user"
echo "$user:$password" | chpasswd
mkdir -p "$root" /var/run/vsftpd/empty
chown -R "$user": "$root"
# vsftpd enters the account's home folder before anything else, as that user.
usermod --home "$root" "$user"
dir=$(dirname "$root")
while [ "$dir" != / ]; do chmod o+x "$dir"; dir=$(dirname "$dir"); done

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
conf=$(mktemp "${TMPDIR:-/tmp}/vsftpd.XXXXXX.conf")
cat > "$conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
local_root=$root
chroot_local_user=YES
allow_writeable_chroot=YES
seccomp_sandbox=NO
pasv_enable=YES
pasv_address=127.0.0.1
port_enable=YES
connect_from_port_20=NO
pam_service_name=vsftpd
secure_chroot_dir=/var/run/vsftpd/empty
xferlog_enable=NO
max_per_ip=0
CONF
for line in "$@"; do echo "$line" >> "$conf"; done

/usr/sbin/vsftpd "$conf" >/dev/null 2>&1 &
pid=$!
for _ in $(seq 1 100); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    echo "PORT $port PID $pid USER $user PASSWORD $password"
    exit 0
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
echo "vsftpd did not start" >&2
kill "$pid" 2>/dev/null || true
exit 1
