#!/usr/bin/env bash
# Builds the Debian package kovira_<version>_<arch>.deb into build/ (or the
# folder given): installs what is missing, builds, then cpack -G DEB.
#   scripts/package.sh [OUTPUT_DIR] [VERSION]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
BUILD="${KOVIRA_BUILD_DIR:-build}"
OUT="$(mkdir -p "${1:-$BUILD}" && cd "${1:-$BUILD}" && pwd)"
VERSION="${2:-}"
cd "$BUILD"
if [ -n "$VERSION" ]; then
  cpack -G DEB -B "$OUT" -D CPACK_PACKAGE_VERSION="$VERSION" >/dev/null
else
  cpack -G DEB -B "$OUT" >/dev/null
fi
rm -rf "$OUT/_CPack_Packages"
ls "$OUT"/kovira_*.deb
