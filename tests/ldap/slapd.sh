#!/usr/bin/env bash
# A throw-away slapd for the tests, run as the current user on loopback only.
#   slapd.sh start DIR DATA.ldif [OWNER_PID]
#                 sets up DIR, loads the data, starts slapd, waits until both
#                 addresses answer and prints them: ldap://127.0.0.1:PORT ldapi://...
#                 With OWNER_PID, slapd is also stopped when that process ends
#                 (killed or crashed before it could stop it).
#   slapd.sh stop DIR              stops it
# Suffix dc=schule,dc=test; cn=admin (password "geheim") may do anything;
# cn=leser (password "lesen") may read but not write, and sees at most 500
# entries per search; cn=lehrer (password "lehren") may write. SASL EXTERNAL
# over ldapi binds as cn=admin, SASL GSSAPI as cn=<principal's user>. TLS uses
# DIR/cert.pem (made here, self-signed).
# Replication: SLAPD_PROVIDER=1 makes a syncrepl provider; SLAPD_CONSUMER_OF=URI
# a read-only consumer of that provider, which starts empty, takes all from it
# and refers writes to it.
set -euo pipefail
cmd=${1:?start|stop}; dir=${2:?dir}
slapd=/usr/sbin/slapd; slapadd=/usr/sbin/slapadd

pidfile="$dir/slapd.pid"
. "$(dirname "$0")/lifecycle.sh"

data=${3:?data ldif}
mkdir -p "$dir/db"
if [ ! -f "$dir/cert.pem" ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/key.pem" -out "$dir/cert.pem" -days 2 \
    -subj /CN=localhost -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" 2>/dev/null
fi
cat > "$dir/slapd.conf" <<CONF
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/nis.schema
include /etc/ldap/schema/inetorgperson.schema
pidfile $dir/slapd.pid
argsfile $dir/slapd.args
modulepath /usr/lib/ldap
moduleload back_mdb
TLSCertificateFile $dir/cert.pem
TLSCertificateKeyFile $dir/key.pem
sizelimit size.soft=500 size.hard=500 size.prtotal=unlimited
authz-regexp "^gidNumber=[0-9]+\\\\+uidNumber=[0-9]+,cn=peercred,cn=external,cn=auth\$" "cn=admin,dc=schule,dc=test"
# Kerberos (tests/ldap/kdc.sh): a user's principal binds as the entry of its name.
sasl-host localhost
authz-regexp "^uid=([^,]+),(cn=[^,]+,)?cn=gssapi,cn=auth\$" "cn=\$1,dc=schule,dc=test"
database mdb
directory $dir/db
maxsize 1073741824
# Throw-away data: no sync per write, so a benchmark measures the client, not the disk.
dbnosync
# Nothing listens for its log here: quiet, so it does not try to reach syslog on every operation.
loglevel 0
suffix "dc=schule,dc=test"
rootdn "cn=admin,dc=schule,dc=test"
rootpw geheim
limits dn.exact="cn=admin,dc=schule,dc=test" size=unlimited
limits dn.exact="cn=lehrer,dc=schule,dc=test" size=unlimited
access to attrs=userPassword by self read by anonymous auth by * none
access to * by dn.exact="cn=leser,dc=schule,dc=test" read by users write by * read
CONF
if [ -n "${SLAPD_PROVIDER:-}" ]; then
  cat >> "$dir/slapd.conf" <<CONF
moduleload syncprov
overlay syncprov
CONF
fi
if [ -n "${SLAPD_CONSUMER_OF:-}" ]; then
  cat >> "$dir/slapd.conf" <<CONF
syncrepl rid=001 provider=$SLAPD_CONSUMER_OF type=refreshAndPersist retry="1 +" searchbase="dc=schule,dc=test"
  bindmethod=simple binddn="cn=admin,dc=schule,dc=test" credentials=geheim
updateref $SLAPD_CONSUMER_OF
CONF
elif [ ! -f "$dir/db/data.mdb" ]; then
  "$slapadd" -q -f "$dir/slapd.conf" -l "$data"
fi
socket="$dir/ldapi"
encoded=$(printf '%s' "$socket" | sed 's|/|%2F|g')
owner=${4:-}

answers() {
  ldapsearch -x -H "$1" -s base -b "" -LLL -o nettimeout=2 -l 2 namingContexts >/dev/null 2>&1
}

for _ in $(seq 20); do
  port=$(( (RANDOM % 30000) + 20000 ))
  "$slapd" -f "$dir/slapd.conf" -h "ldap://127.0.0.1:$port/ ldapi://$encoded" -n klassomat-test-slapd 2>"$dir/slapd.log" || continue
  # slapd detaches before it serves: wait until both addresses answer.
  for _ in $(seq 300); do
    if answers "ldap://127.0.0.1:$port" && answers "ldapi://$encoded"; then
      if [ -n "$owner" ]; then
        pid=$(cat "$dir/slapd.pid")
        # In a session of its own: a kill of the test's process group
        # (timeout(1) does that) must not take the watcher with it.
        setsid bash "$0" watch "$dir" "$owner" "$pid" </dev/null >/dev/null 2>&1 &
      fi
      echo "ldap://127.0.0.1:$port ldapi://$encoded"
      exit 0
    fi
    if [ -f "$dir/slapd.pid" ] && ! kill -0 "$(cat "$dir/slapd.pid")" 2>/dev/null; then break; fi
    sleep 0.1
  done
  stop
done
cat "$dir/slapd.log" >&2
exit 1
