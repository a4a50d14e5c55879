#!/usr/bin/env bash
# Runs the Windows build's sundry.exe under Wine, in a private Wine prefix
# made in the build folder, against Wine's real registry: a value is set,
# read back through the registry object model, exported to a .reg file,
# deleted, imported again and read back; then the demo's round trip. Usage: windows-smoke.sh BUILD-DIR
set -euo pipefail
build=$(cd "$1" && pwd)
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPATH="$build"
run() { "$wine" "$build/sundry.exe" "$@"; }
fail() { echo "windows-smoke: $*" >&2; exit 1; }

"$wine" wineboot --init >/dev/null 2>&1 || true
run --version | grep -q "[0-9]\.[0-9]" || fail "sundry.exe --version"

key='HKCU\Software\SundrySmoke'
run reg add "$key" /v Name /t REG_SZ /d "hello world" /f >/dev/null
run reg add "$key\\Sub" /v Count /t REG_DWORD /d 42 /f >/dev/null
out=$(run reg query "$key" /s | tr -d '\r')
echo "$out" | grep -q "Name    REG_SZ    hello world" || fail "the string value was not read back: $out"
echo "$out" | grep -q "0x2a" || fail "the number was not read back: $out"

reg_file="$build/smoke-export.reg"
run reg export "$key" 'Z:'"$reg_file" /y >/dev/null
head -c 8 "$reg_file" | grep -q "REGEDIT4" || fail "the export is not a .reg file"
tr -d '\r' < "$reg_file" | grep -q '"Name"="hello world"' || fail "the export lacks the value: $(cat "$reg_file")"
run reg delete "$key" /f >/dev/null
if run reg query "$key" >/dev/null 2>&1; then fail "the key survived its deletion"; fi
run reg import 'Z:'"$reg_file" >/dev/null
run reg query "$key\\Sub" /v Count | tr -d '\r' | grep -q "0x2a" || fail "the import did not bring the key back"
run reg delete "$key" /f >/dev/null

# The main job: the demo's round trip in the real registry leaves no key
# behind, and leaves an existing key of the same name alone.
demo_key='HKCU\Software\Sundry Demo'
run demo | tr -d '\r' | grep -q "gives the same" || fail "sundry demo"
if run reg query "$demo_key" >/dev/null 2>&1; then fail "sundry demo left its key behind"; fi
run reg add "$demo_key" /v Mine /t REG_SZ /d "keep me" /f >/dev/null
if run demo >/dev/null 2>&1; then fail "sundry demo ran over an existing key"; fi
run reg query "$demo_key" /v Mine | tr -d '\r' | grep -q "keep me" || fail "sundry demo changed an existing key"
run reg delete "$demo_key" /f >/dev/null
echo "windows-smoke: sundry.exe under Wine passed"
