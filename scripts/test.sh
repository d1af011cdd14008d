#!/usr/bin/env bash
# Builds everything and runs every test: the portable logic natively under
# ASan and UBSan, then the Windows build under Wine. One command, from nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

status=0
cmake --workflow --preset native || status=1
cmake --workflow --preset windows || status=1
exit $status
