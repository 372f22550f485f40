#!/usr/bin/env bash
# A throw-away Samba AD domain controller for the tests, inside namespace.sh.
#   samba.sh start DIR DATA.ldif [OWNER_PID]
#       provisions the domain SCHULE.TEST (DC=schule,DC=test, host
#       dc1.schule.test, RFC 2307, internal DNS) in DIR, adds DATA.ldif (its
#       entries below DC=schule,DC=test) and the delegated admin klassomat
#       (password "Klasso.123", a member of Account Operators), starts
#       samba and waits until ldaps answers. Prints nothing; DIR/tls/ca.pem is
#       the CA of the server's certificate, DIR/krb5.conf the Kerberos
#       configuration for its KDC. With OWNER_PID, samba is stopped when that
#       process ends.
#   samba.sh stop DIR
set -euo pipefail
cmd=${1:?start|stop}; dir=${2:?dir}
pidfile="$dir/samba.pid"
. "$(dirname "$0")/../ldap/lifecycle.sh"
data=${3:?data ldif}; owner=${4:-}
[ "${KLASSOMAT_IN_NAMESPACE:-}" = 1 ] || { echo "samba.sh: run me inside namespace.sh" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
base=DC=schule,DC=test
conf="$dir/etc/smb.conf"
mkdir -p "$dir"
if [ ! -f "$conf" ]; then
  samba-tool domain provision --realm=SCHULE.TEST --domain=SCHULE --server-role=dc --dns-backend=SAMBA_INTERNAL \
    --use-rfc2307 --adminpass='Admin.123' --targetdir="$dir" --host-name=dc1 --host-ip=127.0.0.1 \
    --option="interfaces=lo" --option="bind interfaces only=yes" >"$dir/provision.log" 2>&1 \
    || { cat "$dir/provision.log" >&2; exit 1; }
  "$here/tls.sh" "$dir/tls" dc1.schule.test 127.0.0.1
  # Only what the tests use: no DNS forwarding, no name service beyond loopback.
  sed -i -e '/dns forwarder/d' -e '/log file/d' -e '/panic action/d' "$conf"
  sed -i "/^\[global\]/a\\
	log file = $dir/log.%m\\
	server services = -dns -nbt -wrepl -ntp_signd -kcc -dnsupdate\\
	tls enabled = yes\\
	tls keyfile = $dir/tls/server.key\\
	tls certfile = $dir/tls/server.pem\\
	tls cafile = $dir/tls/ca.pem" "$conf"
  cat > "$dir/krb5.conf" <<KRB
[libdefaults]
	default_realm = SCHULE.TEST
	dns_lookup_kdc = false
	dns_lookup_realm = false
	rdns = false
[realms]
	SCHULE.TEST = {
		kdc = 127.0.0.1
	}
[domain_realm]
	.schule.test = SCHULE.TEST
KRB
  sam="$dir/private/sam.ldb"
  samba-tool user add klassomat 'Klasso.123' -H "$sam" -s "$conf" >"$dir/data.log" 2>&1
  # samba_spnupdate would add the LDAP service's name at start, but the
  # dnsupdate service that runs it is off.
  samba-tool spn add ldap/dc1.schule.test 'DC1$' -H "$sam" -s "$conf" >>"$dir/data.log" 2>&1 \
    || { cat "$dir/data.log" >&2; exit 1; }
  # A delegated admin: Account Operators may change user objects, and are no domain admins.
  samba-tool group addmembers "Account Operators" klassomat -H "$sam" -s "$conf" >>"$dir/data.log" 2>&1 \
    || { cat "$dir/data.log" >&2; exit 1; }
  # One transaction whose index changes are kept in memory until it ends: added
  # one by one, each of thousands of users rewrites the growing index records.
  ldbadd -H "$sam" -o batch_mode:1 -o transaction_index_cache_size:20000 "$data" >>"$dir/data.log" 2>&1 \
    || { cat "$dir/data.log" >&2; exit 1; }
fi

samba -s "$conf" -i -M single --no-process-group >"$dir/samba.log" 2>&1 &
echo $! > "$pidfile"
if [ -n "$owner" ]; then
  setsid bash "$0" watch "$dir" "$owner" "$(cat "$pidfile")" </dev/null >/dev/null 2>&1 &
fi
# It answers on LDAP once its services are up: at most two minutes.
for _ in $(seq 1200); do
  if LDAPTLS_CACERT="$dir/tls/ca.pem" ldapsearch -x -H ldaps://dc1.schule.test -s base -b "" -LLL \
       -o nettimeout=2 -l 2 dnsHostName >/dev/null 2>&1; then
    exit 0
  fi
  kill -0 "$(cat "$pidfile")" 2>/dev/null || break
  sleep 0.1
done
echo "samba did not answer on ldaps://dc1.schule.test:" >&2
tail -30 "$dir/samba.log" >&2
stop
exit 1
