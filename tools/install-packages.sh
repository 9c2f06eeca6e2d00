#!/usr/bin/env bash
# Installs the named Debian packages that are not installed yet, without
# asking anything: apt-get update first, then apt-get install -y. Does
# nothing (and needs neither root nor a network) when all are installed.
# As a user other than root it runs apt-get through sudo.
set -euo pipefail

missing=()
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

asroot=()
[ "$(id -u)" -eq 0 ] || asroot=(sudo)
echo "Installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${asroot[@]}" apt-get update -q
"${asroot[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
