#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Pelorin need, when missing.
# Usage: scripts/install-deps.sh [run|package|test]
set -euo pipefail

run_pkgs=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-wayland libgl-dev libssl-dev libpcap-dev
  libcurl4-openssl-dev ca-certificates nlohmann-json3-dev
  fonts-liberation2 fonts-dejavu-core
)
package_pkgs=(dpkg-dev file)
package_test_pkgs=(lintian desktop-file-utils appstream libcap2-bin adduser shared-mime-info xdg-utils)
test_pkgs=(
  googletest libgtest-dev libbenchmark-dev clang libclang-rt-dev
  xvfb xauth x11-apps x11-utils imagemagick
  nsd bind9-dnsutils socat iproute2 net-tools procps util-linux
  traceroute iputils-tracepath iputils-ping coreutils tcpdump
  python3 openssl whois curl weston dbus-daemon openssh-client openssh-server
)

pkgs=("${run_pkgs[@]}")
[ "${1:-run}" = run ] || pkgs+=("${package_pkgs[@]}")
[ "${1:-run}" = test ] && pkgs+=("${test_pkgs[@]}" "${package_test_pkgs[@]}")

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
