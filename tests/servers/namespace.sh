#!/usr/bin/env bash
# Runs a command in network, mount and host-name namespaces of its own (needs
# root, as the tests and CI run): only a loopback interface, the host name dc1,
# and an /etc/hosts that names localhost, dc1.schule.test (Samba) and
# ds389.schule.test (389) as 127.0.0.1. So the
# tests' Samba and 389 servers take their well-known ports without meeting any
# other server, and nothing they send leaves this namespace.
#   namespace.sh COMMAND [ARGUMENT...]
set -euo pipefail
if [ "${KLASSOMAT_IN_NAMESPACE:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "namespace.sh: needs root (network namespaces)" >&2; exit 1; }
  export KLASSOMAT_IN_NAMESPACE=1
  exec unshare --net --mount --uts --propagation private "$0" "$@"
fi
ip link set lo up
hostname dc1
hosts=$(mktemp)
printf '127.0.0.1\tlocalhost\n127.0.0.1\tdc1.schule.test dc1\n127.0.0.1\tds389.schule.test\n' > "$hosts"
chmod 644 "$hosts"
mount --bind "$hosts" /etc/hosts
rm -f "$hosts" # the mount keeps it
exec "$@"
