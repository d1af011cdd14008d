#!/usr/bin/env bash
# The download benchmark: DownloadFile against the bare WinHTTP loop under
# Wine, from nginx over loopback TLS (bench/download_bench.py).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target download-bench peer >/dev/null
exec /usr/bin/python3 bench/download_bench.py --build build/windows "$@"
