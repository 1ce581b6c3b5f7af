#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when some are missing.
# Non-interactive; prints nothing when everything is already there.
set -eu
pkgs=(
  build-essential cmake pkg-config
  libcurl4-openssl-dev libsodium-dev libzip-dev libstb-dev libplist-dev libsdl2-dev libx11-dev libxi-dev
  libfreetype-dev fonts-dejavu-core
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev rapidjson-dev libssl-dev libagg-dev libcairo2-dev unzip
  xvfb xauth xdotool
  xdg-utils
  clang libclang-rt-14-dev
)
missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  # Installing needs root: through sudo where there is one, or else by the one who has it.
  if ! command -v sudo >/dev/null 2>&1; then
    echo "missing Debian packages: ${missing[*]}" >&2
    echo "installing them needs root; as root, run: $(cd "$(dirname "$0")" && pwd)/install-deps.sh" >&2
    exit 1
  fi
  sudo_cmd=(sudo)
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
