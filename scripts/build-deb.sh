#!/usr/bin/env bash
# Builds the field release (CMake preset `release`) and makes its Debian
# package with cpack. Arguments go to the configure step, e.g.
#   scripts/build-deb.sh -DR9_INSTRUMENT_HOST=192.168.100.9
# The last line of output is the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-packages.sh help2man dpkg-dev file
cmake --preset release -DR9_MANPAGES=ON "$@"
cmake --build --preset release -j2

# An earlier version's package left in the folder would be taken for this one.
rm -f build/release/r9-update_*.deb
# cpack packs the folders it makes with the modes the umask gives them; a
# package's folders are 0755.
(cd build/release && umask 022 && cpack -G DEB)
ls "$PWD"/build/release/r9-update_*.deb
