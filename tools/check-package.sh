#!/usr/bin/env bash
# Builds the Debian package as the README says (a Release build, then
# `cpack -G DEB`) and checks it: lintian finds no error and no warning;
# hardening-check finds every protection on all four programs; a second
# build of the same sources, in other directories and later, makes the
# same package byte for byte; its file list; the programs extracted from
# it give the build's own texts; its manual pages render without a groff
# warning. Installs what it needs from Debian's packages.
#
#   tools/check-package.sh [WORKDIR]     (default: a new temporary directory)
set -euo pipefail
cd "$(dirname "$0")/.."
source=$(pwd)

bash tools/install-packages.sh g++ cmake make dpkg-dev file groff-base lintian devscripts

work=${1:-}
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
work=$(cd "$work" && pwd)

# package SOURCE BUILD: configures, builds and packages; prints the .deb.
package() {
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$2" -j "$(nproc)" >/dev/null
  (cd "$2" && cpack -G DEB >/dev/null)
  ls "$2"/pi-spigot_*.deb
}

echo "== building the package"
first=$(package "$source" "$work/first")
echo "$first"
dpkg-deb --info "$first"

echo "== a second build of the same sources elsewhere, later"
# The files git tracks, as they are in the working tree.
mkdir -p "$work/source"
git ls-files -z | tar --null -T - -cf - | tar -x -C "$work/source"
sleep 2
second=$(package "$work/source" "$work/second")
if ! cmp "$first" "$second"; then
  echo "two builds of the same sources made different packages:" >&2
  for deb in "$first" "$second"; do
    mkdir -p "$deb.x" && dpkg-deb -R "$deb" "$deb.x"
  done
  diff -r "$first.x" "$second.x" >&2 || true
  exit 1
fi
echo "the same, byte for byte"

echo "== lintian"
lintian --info --display-level '>=pedantic' --fail-on error,warning "$first"
echo "no error, no warning"

listing=$(dpkg-deb -c "$first" | awk '{print $NF}')
echo "$listing"
for file in ./usr/bin/pi_buffer ./usr/bin/pi_buffer_discard ./usr/bin/pi_generator \
  ./usr/bin/pi_generator_discard ./usr/share/man/man1/pi_buffer.1.gz \
  ./usr/share/man/man1/pi_buffer_discard.1.gz ./usr/share/man/man1/pi_generator.1.gz \
  ./usr/share/man/man1/pi_generator_discard.1.gz ./usr/share/doc/pi-spigot/copyright \
  ./usr/share/doc/pi-spigot/changelog.gz; do
  grep -qxF "$file" <<<"$listing" || { echo "missing from the package: $file" >&2; exit 1; }
done
extra=$(grep -v -e '/$' -e '^./usr/bin/pi_' -e '^./usr/share/man/man1/pi_' -e '^./usr/share/doc/pi-spigot/' \
  <<<"$listing" || true)
[ -z "$extra" ] || { echo "unexpected in the package: $extra" >&2; exit 1; }

root="$work/root"
dpkg-deb -x "$first" "$root"
echo "== hardening-check"
# Every protection it knows but control-flow marks: Debian 12's own C
# start files carry none, so no program linked on it can.
hardening-check --nocfprotection "$root"/usr/bin/pi_*

build="$work/first"
for program in pi_buffer pi_generator; do
  for count in 0 1 6 50 768 3001; do
    cmp <("$root/usr/bin/$program" "$count") <("$build/bin/$program" "$count") ||
      { echo "$program $count: the packaged program differs" >&2; exit 1; }
  done
done
for program in pi_buffer_discard pi_generator_discard; do
  [ -z "$("$root/usr/bin/$program" 1000 2>&1)" ] || { echo "$program wrote output" >&2; exit 1; }
done
version=$(sed -n 's/^project(pispigot VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
dpkg-deb --field "$first" Version | grep -qxF "$version" || { echo "the package is not version $version" >&2; exit 1; }
zcat "$root/usr/share/doc/pi-spigot/changelog.gz" | head -1 | grep -qF "($version)" ||
  { echo "the changelog's first entry is not version $version" >&2; exit 1; }
gunzip "$root"/usr/share/man/man1/*.gz
cmake -DGROFF="$(command -v groff)" -DMANDIR="$root/usr/share/man" -P tests/man/render.cmake
echo "package checked"
