#!/usr/bin/env bash
# Registers the Windows quorrabox.dll under Wine with regsvr32, runs the VBScript and JScript clients
# with cscript against a real INI file, then unregisters it and checks that its keys are gone.
# Usage: run-clients.sh path/to/quorrabox.dll
set -euo pipefail
dll=$1
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

winpath() { echo "Z:${1//\//\\}"; }
fail() {
    echo "FAILED: $*"
    exit 1
}

command -v wine >/dev/null || fail "wine is not installed (scripts/setup installs it)"

cp "$dll" "$here/tools.vbs" "$here/tools.js" "$here/tools.ini" "$work/"
wine wineboot --init >/dev/null 2>&1
wine regsvr32 /s "$(winpath "$work/quorrabox.dll")" || fail "regsvr32"
wine reg query 'HKCR\quorrabox.tools\Clsid' >/dev/null 2>&1 || fail "no ProgID key after regsvr32"

status=0
for script in tools.vbs tools.js; do
    # cscript ends silently with status 0 on an unhandled script error: the sentinel tells.
    out="$(wine cscript //nologo "$(winpath "$work/$script")" "$(winpath "$work/tools.ini")" 2>&1 | tr -d '\r')"
    echo "$script:"
    echo "$out"
    [ "$(echo "$out" | tail -n 1)" = "done" ] || { echo "FAILED: $script ended before its last line"; status=1; }
    echo "$out" | grep -Eq '^[0-9]+ passed, 0 failed$' || { echo "FAILED: $script has failed checks"; status=1; }
done

wine regsvr32 /s /u "$(winpath "$work/quorrabox.dll")" || fail "regsvr32 /u"
if wine reg query 'HKCR\quorrabox.tools' >/dev/null 2>&1; then fail "ProgID key left after regsvr32 /u"; fi
if wine reg query 'HKCR\CLSID\{C869E000-8E64-11D0-AEF9-080000002149}' >/dev/null 2>&1; then
    fail "CLSID key left after regsvr32 /u"
fi
exit $status
