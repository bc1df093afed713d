#!/usr/bin/env bash
# Obtains a sample raster for the demo, the examples and the benchmarks from
# the Debian package that ships it, chosen by the destination's file name:
#   L7_ETMs.tif  Landsat 7 scene, 349 x 352 pixels, 6 bands (r-cran-stars)
#   elev.tif     elevation model of Luxembourg, 95 x 90 pixels, int16 with
#                nodata outside the country (r-cran-terra)
# Idempotent.
set -euo pipefail
dest=${1:-data/L7_ETMs.tif}
[ -s "$dest" ] && exit 0
case "$(basename "$dest")" in
  L7_ETMs.tif) package=r-cran-stars member=stars/tif/L7_ETMs.tif ;;
  elev.tif)    package=r-cran-terra member=terra/ex/elev.tif ;;
  *) echo "fetch-sample.sh: no sample named $(basename "$dest")" >&2; exit 2 ;;
esac
mkdir -p "$(dirname "$dest")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get download "$package" >/dev/null 2>&1 && dpkg -x "$package"_*.deb pkg)
cp "$work/pkg/usr/lib/R/site-library/$member" "$dest"
echo "sample: $dest"
