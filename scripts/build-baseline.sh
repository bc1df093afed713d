#!/bin/sh
# Release build of an earlier commit for `make bench` to set our figures
# against (before -> after): its sources are exported once per commit into
# BUILD/src, and only the module, the host and the package are built.
# Usage: scripts/build-baseline.sh COMMIT BUILD PYTHON
set -eu
commit=$(git rev-parse --verify "$1^{commit}")
build=$2
python=$3
if [ "$(cat "$build/commit" 2>/dev/null || true)" != "$commit" ]; then
  rm -rf "$build/src"
  mkdir -p "$build/src"
  git archive "$commit" | tar -x -C "$build/src"
  echo "$commit" > "$build/commit"
fi
cmake -S "$build/src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKAVU_BUILD_TESTS=OFF \
  -DPython3_EXECUTABLE="$python" > /dev/null
cmake --build "$build" -j"${JOBS:-2}" > /dev/null
echo "bench: baseline $(git log -1 --format='%h %s' "$commit") in $build"
