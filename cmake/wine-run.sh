#!/usr/bin/env bash
# Runs a Windows program under Wine in a throwaway prefix under a build
# folder (never the user's ~/.wine), named by VELNOR_WINEPREFIX: the peers of
# tools/peers.py, the demonstration, the benchmarks and the screenshot set it. The
# prefix is made once, under a lock, so parallel runs share it.
set -euo pipefail
: "${VELNOR_WINEPREFIX:?VELNOR_WINEPREFIX must name the Wine prefix of the build folder}"
export WINEPREFIX="$VELNOR_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64

make_prefix() {
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
  # Chinese texts render only with a CJK face standing in for the one the
  # program asks for. Without ShowDotFiles Wine reports every name that
  # begins with "." as hidden, whatever attribute a program set.
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Microsoft YaHei" \
    /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /t REG_SZ /d Y /f >/dev/null 2>&1 || true
  wineserver -w || true
  touch "$WINEPREFIX/.velnor-ready-2"
}

if [ ! -e "$WINEPREFIX/.velnor-ready-2" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  [ -e "$WINEPREFIX/.velnor-ready-2" ] || make_prefix
  flock -u 9
  exec 9>&-
fi

exec wine "$@"
