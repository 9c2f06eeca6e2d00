#!/usr/bin/env bash
# Builds the Debian package from a configured build directory and checks it:
# its file list, the programs extracted from it (the same text as the
# build's own programs), and its manual pages (no groff warnings).
set -euo pipefail
build=$(cd "${1:?usage: check-package.sh BUILD_DIRECTORY}" && pwd)
cd "$(dirname "$0")/.."

(cd "$build" && cpack -G DEB)
package=$(ls "$build"/pi-spigot_*.deb)
echo "== $package"
dpkg-deb --info "$package"

listing=$(dpkg-deb -c "$package" | awk '{print $NF}')
echo "$listing"
for file in ./usr/bin/pi_buffer ./usr/bin/pi_buffer_discard ./usr/bin/pi_generator \
  ./usr/bin/pi_generator_discard ./usr/share/man/man1/pi_buffer.1 \
  ./usr/share/man/man1/pi_buffer_discard.1 ./usr/share/man/man1/pi_generator.1 \
  ./usr/share/man/man1/pi_generator_discard.1; do
  grep -qxF "$file" <<<"$listing" || { echo "missing from the package: $file" >&2; exit 1; }
done
extra=$(grep -v -e '/$' -e '^./usr/bin/pi_' -e '^./usr/share/man/man1/pi_' <<<"$listing" || true)
[ -z "$extra" ] || { echo "unexpected in the package: $extra" >&2; exit 1; }

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$package" "$root"
for program in pi_buffer pi_generator; do
  for count in 0 1 6 50 768 3001; do
    cmp <("$root/usr/bin/$program" "$count") <("$build/bin/$program" "$count") ||
      { echo "$program $count: the packaged program differs" >&2; exit 1; }
  done
done
for program in pi_buffer_discard pi_generator_discard; do
  [ -z "$("$root/usr/bin/$program" 1000 2>&1)" ] || { echo "$program wrote output" >&2; exit 1; }
done
cmake -DGROFF="$(command -v groff)" -DMANDIR="$root/usr/share/man" -P tests/man/render.cmake
echo "package checked"
