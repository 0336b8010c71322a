#!/usr/bin/env bash
# The demo: installs what is missing and builds both driver libraries.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

kx_install_packages
kx_java_home
kx_build "$KX_BUILD"
kx_log "built:"
ls -l "$KX_BUILD/src/libkestrixu.so" "$KX_BUILD/src/libkestrix.so"
