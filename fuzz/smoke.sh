#!/usr/bin/env bash
# A short run of every fuzz target: enough to catch a reader that crashes on
# its own seed corpus or on the first mutations of it.
set -euo pipefail
exec "$(dirname "$0")/run.sh" all "${FUZZ_SMOKE_SECONDS:-20}"
