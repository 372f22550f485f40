#!/usr/bin/env bash
# Installs what klassomat needs to build, test and be looked at on Debian 12.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libldap-dev libxcb1-dev libgnutls28-dev
          qt6-translations-l10n libqt6svg6 hicolor-icon-theme fonts-liberation
          xvfb xauth x11-utils openbox dbus-daemon imagemagick slapd ldap-utils openssl
          dpkg-dev file lintian desktop-file-utils appstream devscripts ccache
          clang libclang-rt-14-dev
          libboost1.81-dev valgrind
          libsasl2-dev libsasl2-modules-gssapi-mit krb5-kdc krb5-admin-server krb5-user
          samba samba-ad-provision samba-dsdb-modules samba-vfs-modules winbind ldb-tools 389-ds-base iproute2)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
