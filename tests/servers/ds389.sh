#!/usr/bin/env bash
# A throw-away 389 Directory Server for the tests, inside namespace.sh.
#   ds389.sh start DIR DATA.ldif [OWNER_PID]
#       creates an instance in DIR (suffix dc=schule,dc=test, cn=Directory
#       Manager with password "Admin.123", LDAP on 127.0.0.1:389 and LDAPS on
#       636, with a certificate for ds389.schule.test), imports DATA.ldif, starts
#       ns-slapd and waits until it answers. DIR/config/ca.crt is the CA of the
#       server's certificate. With OWNER_PID, the server is stopped when that
#       process ends.
#   ds389.sh stop DIR
set -euo pipefail
cmd=${1:?start|stop}; dir=${2:?dir}
pidfile="$dir/run/slapd.pid"
. "$(dirname "$0")/../ldap/lifecycle.sh"
data=${3:?data ldif}; owner=${4:-}
[ "${KLASSOMAT_IN_NAMESPACE:-}" = 1 ] || { echo "ds389.sh: run me inside namespace.sh" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
name=klassomat$$

answers() {
  ldapsearch -x -H "ldap://127.0.0.1:389" -s base -b "" -LLL -o nettimeout=2 -l 2 vendorName >/dev/null 2>&1
}

if [ ! -f "$dir/config/dse.ldif" ]; then
  mkdir -p "$dir"
  chmod 755 "$dir"
  chown dirsrv:dirsrv "$dir"
  cat > "$dir/instance.inf" <<INF
[general]
full_machine_name = ds389.schule.test
selinux = False
start = False
strict_host_checking = False
[slapd]
instance_name = $name
port = 389
secure_port = 636
root_password = Admin.123
self_sign_cert = True
backup_dir = $dir/bak
cert_dir = $dir/config
config_dir = $dir/config
db_dir = $dir/db
db_home_dir = $dir/dbhome
initconfig_dir = $dir/initconfig
inst_dir = $dir/inst
ldif_dir = $dir/ldif
lock_dir = $dir/lock
log_dir = $dir/log
run_dir = $dir/run
schema_dir = $dir/config/schema
ldapi = $dir/ldapi
local_state_dir = $dir/var
tmp_dir = $dir/tmp
[backend-userroot]
sample_entries = no
suffix = dc=schule,dc=test
INF
  # dscreate finds an instance's configuration only in /etc/dirsrv, and starts
  # and stops it through systemctl: a link there for as long as it runs, and a
  # systemctl of our own.
  mkdir -p /etc/dirsrv
  ln -sfn "$dir/config" "/etc/dirsrv/slapd-$name"
  created=0
  PATH="$here/fake-systemctl:$PATH" dscreate from-file "$dir/instance.inf" >"$dir/create.log" 2>&1 && created=1
  PATH="$here/fake-systemctl:$PATH" systemctl stop "dirsrv@$name" || true
  rm -f "/etc/dirsrv/slapd-$name"
  [ "$created" = 1 ] || { cat "$dir/create.log" >&2; exit 1; }
  # Only loopback; the data goes in offline, in one pass.
  sed -i "s/^nsslapd-port: 389$/&\nnsslapd-listenhost: 127.0.0.1\nnsslapd-securelistenhost: 127.0.0.1/" "$dir/config/dse.ldif"
  cp "$data" "$dir/ldif/data.ldif"
  chown dirsrv:dirsrv "$dir/ldif/data.ldif"
  /usr/sbin/ns-slapd ldif2db -D "$dir/config" -n userroot -i "$dir/ldif/data.ldif" >"$dir/import.log" 2>&1 \
    || { cat "$dir/import.log" >&2; exit 1; }
fi

/usr/sbin/ns-slapd -D "$dir/config" -i "$pidfile" 2>"$dir/start.log" || { cat "$dir/start.log" >&2; exit 1; }
# ns-slapd detaches before it serves: wait until it answers, at most a minute.
for _ in $(seq 600); do
  if answers; then
    if [ -n "$owner" ]; then
      setsid bash "$0" watch "$dir" "$owner" "$(cat "$pidfile")" </dev/null >/dev/null 2>&1 &
    fi
    exit 0
  fi
  sleep 0.1
done
echo "ns-slapd did not answer on ldap://127.0.0.1:389:" >&2
tail -20 "$dir/log/errors" >&2
stop
exit 1
