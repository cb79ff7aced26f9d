#!/usr/bin/env bash
# Builds the images again from a copy of the sources in another folder, into another build folder,
# and checks that every image comes out byte for byte as in IMAGE_DIR: no time stamp and no path
# of the sources or the build may reach an image. Then makes the stick image and the dist folder
# twice, here from IMAGE_DIR and there from the images built there, and compares them too.
#   usage: check-reproducible.sh SOURCE_DIR IMAGE_DIR
set -euo pipefail
source_dir=$(cd "$1" && pwd)
image_dir=$(cd "$2" && pwd)
elsewhere=$(mktemp -d /tmp/quillon-reproduce.XXXXXX)
trap 'rm -rf "$elsewhere"' EXIT

mkdir -p "$elsewhere/another/source"
for item in CMakeLists.txt app base cmake firmware print stick tests/e2e tools; do
  mkdir -p "$elsewhere/another/source/$(dirname "$item")"
  cp -r "$source_dir/$item" "$elsewhere/another/source/$item"
done
cmake -S "$elsewhere/another/source" -B "$elsewhere/build-elsewhere" \
  -DCMAKE_TOOLCHAIN_FILE="$elsewhere/another/source/cmake/UefiImage.cmake" -DCMAKE_BUILD_TYPE=Release \
  --no-warn-unused-cli >/dev/null
cmake --build "$elsewhere/build-elsewhere" -j "$(nproc)" --target image_checksums >/dev/null

if ! diff "$image_dir/SHA256SUMS" "$elsewhere/build-elsewhere/SHA256SUMS"; then
  echo "check-reproducible: the images differ when built in $elsewhere" >&2
  exit 1
fi
echo "check-reproducible: the same bytes from $elsewhere:"
cat "$elsewhere/build-elsewhere/SHA256SUMS"

# The stick and the dist folder, from the same commit's time stamp in both places.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || echo 1700000000)}
# Debian's shim packages from one cache for both: they are the same input, fetched once.
export QUILLON_PACKAGE_CACHE=${QUILLON_PACKAGE_CACHE:-$source_dir/build/debian-packages}
for place in here there; do
  if [ "$place" = here ]; then tree=$source_dir images=$image_dir; else tree=$elsewhere/another/source images=$elsewhere/build-elsewhere; fi
  python3 "$tree/tools/make_stick.py" "$images" "$elsewhere/$place/Quillon-stick.img" >/dev/null
  python3 "$tree/tools/make_dist.py" "$images" "$elsewhere/$place/Quillon-stick.img" "$elsewhere/$place/dist" >/dev/null
done
if ! diff "$elsewhere/here/dist/SHA256SUMS" "$elsewhere/there/dist/SHA256SUMS"; then
  echo "check-reproducible: the stick or the dist folder differs when made in $elsewhere" >&2
  exit 1
fi
echo "check-reproducible: the same stick and dist folder from both:"
cat "$elsewhere/there/dist/SHA256SUMS"
