#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and benchmarks with.
# Idempotent: only missing packages are installed; apt-get only.
set -euo pipefail

packages=(
  build-essential cmake g++ libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format-14 valgrind
  python3-dev python3-numpy python3-pytest python3-hypothesis pybind11-dev
  python3-rasterio python3-skimage python3-opencv python3-scipy python3-tqdm
  python3-matplotlib python3-distributed black python3-flake8 python3-gdal
  qgis python3-qgis qgis-providers xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
