#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cd "${KOVIRA_BUILD_DIR:-build}"
ctest --output-on-failure -j"$(nproc)" --timeout 300
