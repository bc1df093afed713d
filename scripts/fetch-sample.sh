#!/usr/bin/env bash
# Obtains the Landsat 7 sample scene used by the demo and the benchmarks:
# Debian's r-cran-stars ships it as tif/L7_ETMs.tif. Idempotent.
set -euo pipefail
dest=${1:-data/L7_ETMs.tif}
[ -s "$dest" ] && exit 0
mkdir -p "$(dirname "$dest")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get download r-cran-stars >/dev/null 2>&1 && dpkg -x r-cran-stars_*.deb stars-pkg)
cp "$work"/stars-pkg/usr/lib/R/site-library/stars/tif/L7_ETMs.tif "$dest"
echo "sample scene: $dest"
