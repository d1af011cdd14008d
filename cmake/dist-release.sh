#!/usr/bin/env bash
# Usage: dist-release.sh <built program> <release file>
# Puts the release in place, signed (Authenticode, SHA-256) when
# VELNOR_SIGN_PKCS12 names a PKCS#12 file with the key and certificate, else
# unsigned and byte-identical to the built program. Run at build time, so the
# environment of the build, not of the configuration, decides.
#   VELNOR_SIGN_PASSWORD       its password, if it has one
#   VELNOR_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server, optional
set -euo pipefail
program=$1 release=$2

# A half-made or stale release never survives a failed step.
rm -f "$release" "$release.signing"
mkdir -p "$(dirname "$release")"

if [ -z "${VELNOR_SIGN_PKCS12:-}" ]; then
  if [ -n "${VELNOR_SIGN_PASSWORD:-}${VELNOR_SIGN_TIMESTAMP_URL:-}" ]; then
    echo "dist-release.sh: VELNOR_SIGN_* is set but VELNOR_SIGN_PKCS12 is not; not releasing unsigned" >&2
    exit 1
  fi
  cp "$program" "$release"
  exit 0
fi

options=()
[ -n "${VELNOR_SIGN_TIMESTAMP_URL:-}" ] && options+=(-ts "$VELNOR_SIGN_TIMESTAMP_URL")
# The password goes through stdin from the shell's own printf, so it is in no
# command line: not in the build log, not in the process list. (An empty one
# cannot be read that way; osslsigncode tries it by itself.)
[ -n "${VELNOR_SIGN_PASSWORD:-}" ] && options+=(-readpass -)
printf '%s' "${VELNOR_SIGN_PASSWORD:-}" |
  osslsigncode sign -pkcs12 "$VELNOR_SIGN_PKCS12" -h sha256 "${options[@]}" \
    -in "$program" -out "$release.signing" >/dev/null
mv "$release.signing" "$release"
echo "dist-release.sh: $release signed"
