#!/usr/bin/env bash
# A throw-away MIT Kerberos KDC for the tests, realm SCHULE.TEST, on loopback.
#   kdc.sh start DIR [OWNER_PID]   makes the realm in DIR: the user "lehrer"
#                                  (password "lehren") and the service
#                                  ldap/localhost, whose key goes to DIR/ldap.keytab;
#                                  starts the KDC, waits until it answers, and
#                                  leaves a ticket of lehrer in DIR/ccache.
#                                  With OWNER_PID, the KDC stops when that process ends.
#   kdc.sh stop DIR                stops it
# Point KRB5_CONFIG at DIR/krb5.conf, KRB5CCNAME at FILE:DIR/ccache and slapd's
# KRB5_KTNAME at DIR/ldap.keytab.
set -euo pipefail
cmd=${1:?start|stop}; dir=${2:?dir}
realm=SCHULE.TEST
export KRB5_CONFIG="$dir/krb5.conf" KRB5_KDC_PROFILE="$dir/kdc.conf" KRB5CCNAME="FILE:$dir/ccache"

pidfile="$dir/kdc.pid"
. "$(dirname "$0")/lifecycle.sh"
owner=${3:-}
mkdir -p "$dir"

for _ in $(seq 20); do
  port=$(( (RANDOM % 30000) + 20000 ))
  cat > "$dir/krb5.conf" <<CONF
[libdefaults]
  default_realm = $realm
  dns_lookup_kdc = false
  dns_lookup_realm = false
  rdns = false
  dns_canonicalize_hostname = false
  udp_preference_limit = 1
[realms]
  $realm = {
    kdc = 127.0.0.1:$port
  }
[domain_realm]
  localhost = $realm
CONF
  cat > "$dir/kdc.conf" <<CONF
[kdcdefaults]
  kdc_listen = 127.0.0.1:$port
  kdc_tcp_listen = 127.0.0.1:$port
[realms]
  $realm = {
    database_name = $dir/principal
    key_stash_file = $dir/stash
    acl_file = $dir/kadm5.acl
  }
[logging]
  kdc = FILE:$dir/kdc.log
CONF
  if [ ! -f "$dir/principal" ]; then
    kdb5_util create -s -r "$realm" -P master-geheim >/dev/null
    kadmin.local -r "$realm" -q "addprinc -pw lehren lehrer" >/dev/null 2>&1
    kadmin.local -r "$realm" -q "addprinc -randkey ldap/localhost" >/dev/null 2>&1
    kadmin.local -r "$realm" -q "ktadd -k $dir/ldap.keytab ldap/localhost" >/dev/null 2>&1
  fi
  krb5kdc -r "$realm" -P "$dir/kdc.pid" 2>>"$dir/kdc.log" || continue
  for _ in $(seq 100); do
    if echo lehren | kinit lehrer >/dev/null 2>&1; then
      if [ -n "$owner" ]; then
        pid=$(cat "$dir/kdc.pid")
        # In a session of its own: a kill of the test's process group
        # (timeout(1) does that) must not take the watcher with it.
        setsid bash "$0" watch "$dir" "$owner" "$pid" </dev/null >/dev/null 2>&1 &
      fi
      exit 0
    fi
    if [ -f "$dir/kdc.pid" ] && ! kill -0 "$(cat "$dir/kdc.pid")" 2>/dev/null; then break; fi
    sleep 0.1
  done
  stop
done
cat "$dir/kdc.log" >&2
exit 1
