# Sourced by the scripts: a Wine prefix of the build tree and an X display.
#   qex_make_prefix DIR ARCH   fresh prefix (win32 or win64) with the test settings
#   qex_start_display          Xvfb on a free display unless DISPLAY works
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=-all

# Some machines cannot execute 32-bit Linux programs at all (no IA-32
# emulation in the kernel); Wine's 32-bit side does not run there, and
# 32-bit Windows programs with it.
qex_can_run_win32() {
  "$WINE32" --version >/dev/null 2>&1
}

qex_wine_for() {  # win32 | win64
  if [[ $1 == win32 ]]; then echo "$WINE32"; else echo "$WINE64"; fi
}

qex_make_prefix() {
  local dir=$1 arch=$2
  local WINE
  WINE=$(qex_wine_for "$arch")
  if [[ -f "$dir/.qex-ready" ]]; then return 0; fi
  rm -rf "$dir"
  mkdir -p "$dir"
  WINEPREFIX="$dir" WINEARCH="$arch" WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$dir" "$WINESERVER" -w
  local reg="$dir/qex-settings.reg"
  # Chinese glyphs for the window font and the dialog fonts, a monospace face
  # for the report text (the prefix has no "Courier New"); no debugger on a
  # crash (the process just ends).
  cat >"$reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"微软雅黑"="WenQuanYi Micro Hei"
"Microsoft YaHei"="WenQuanYi Micro Hei"
"Courier New"="DejaVu Sans Mono"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]
"Tahoma"=hex(7):77,00,71,00,79,00,2d,00,6d,00,69,00,63,00,72,00,6f,00,68,00,65,00,69,00,2e,00,74,00,74,00,63,00,2c,00,57,00,65,00,6e,00,51,00,75,00,61,00,6e,00,59,00,69,00,20,00,4d,00,69,00,63,00,72,00,6f,00,20,00,48,00,65,00,69,00,00,00,00,00
"MS Shell Dlg"=hex(7):77,00,71,00,79,00,2d,00,6d,00,69,00,63,00,72,00,6f,00,68,00,65,00,69,00,2e,00,74,00,74,00,63,00,2c,00,57,00,65,00,6e,00,51,00,75,00,61,00,6e,00,59,00,69,00,20,00,4d,00,69,00,63,00,72,00,6f,00,20,00,48,00,65,00,69,00,00,00,00,00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Auto"="1"
"Debugger"=""
REG
  iconv -f UTF-8 -t UTF-16LE "$reg" | (printf '\xff\xfe'; cat) >"$reg.utf16"
  WINEPREFIX="$dir" "$WINE" regedit /S "$reg.utf16" >/dev/null 2>&1
  WINEPREFIX="$dir" "$WINESERVER" -w
  touch "$dir/.qex-ready"
}

qex_start_display() {
  if [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 91 120); do
    if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then
      Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
      QEX_XVFB_PID=$!
      export DISPLAY=":$n"
      # Ours once its socket is up and its lock names it: two scripts
      # starting displays at once may pick the same number.
      for _ in $(seq 50); do
        if [[ -e /tmp/.X11-unix/X$n ]] && [[ $(tr -d ' \n' </tmp/.X$n-lock 2>/dev/null) == "$QEX_XVFB_PID" ]]; then
          return 0
        fi
        kill -0 "$QEX_XVFB_PID" 2>/dev/null || break
        sleep 0.1
      done
    fi
  done
  echo "no X display could be started" >&2
  return 1
}
