#!/usr/bin/env bash
# Installs the Debian 12 packages Kestrel needs to build and test; quiet and
# quick when everything is already there. Usage: install_deps.sh [extra packages...]
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config git
          googletest libgtest-dev libgmock-dev libbenchmark-dev
          zlib1g-dev libminizip-dev "$@")

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
