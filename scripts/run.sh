#!/usr/bin/env bash
# Installs what is missing, builds, and starts Kovira. Without a display the
# window runs on Qt's offscreen platform, so this works on a headless machine
# too (stop it with Ctrl+C).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
exec "${KOVIRA_BUILD_DIR:-build}/kovira" "$@"
