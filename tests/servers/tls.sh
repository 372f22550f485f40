#!/usr/bin/env bash
# Makes a test CA and a server certificate signed by it, for the tests' servers:
#   tls.sh DIR NAME...   DIR/ca.pem, DIR/server.pem, DIR/server.key; the names
#                        (host names or IP addresses) go into subjectAltName.
set -euo pipefail
dir=${1:?dir}; shift
[ -f "$dir/server.pem" ] && exit 0
mkdir -p "$dir"
san=""
for name in "$@"; do
  if [[ $name =~ ^[0-9.]+$ ]]; then san+="IP:$name,"; else san+="DNS:$name,"; fi
done
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/ca.key" -out "$dir/ca.pem" -days 2 \
  -subj "/CN=klassomat test CA" -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$dir/server.key" -out "$dir/server.csr" -subj "/CN=$1" 2>/dev/null
printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "${san%,}" > "$dir/ext.cnf"
openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 2 \
  -extfile "$dir/ext.cnf" -out "$dir/server.pem" 2>/dev/null
chmod 600 "$dir/server.key" "$dir/ca.key"
