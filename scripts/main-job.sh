#!/usr/bin/env bash
# Sets up, builds both executables, makes the development client, publishes its release (the
# manifest signed with the development key, the package, the individually published files),
# extracts the client from the package and checks both with the launcher's command-line
# modes, on the Linux port and on the Windows build under Wine (the 32-bit product where the
# host runs 32-bit programs, the 64-bit build otherwise). Then serves that release on the local
# release server and starts the real launcher in a fresh profile (under Xvfb when there is no
# display) up to its ready state, with a screenshot.
# Exits non-zero when any verdict is not the expected one.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh
source tests/harness/wine-prefix.sh
wine_detect

jobs=$(nproc)
windows_preset=windows flavour=win32
if [ "$WINE32_WORKS" != 1 ]; then windows_preset=windows-x64 flavour=win64; fi
for preset in linux windows $([ "$windows_preset" = windows-x64 ] && echo windows-x64); do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target launcher
done

release=$root/build/dev-release
echo "== Making and publishing the development client release in $release"
python3 tools/make-dev-client.py "$release"
digest=$(python3 tools/publish-release.py publish "$release/Client" "$release/tree" \
  --launcher build/windows/Vorna380-Launcher.exe | tee /dev/stderr | tail -n 1)
manifest=$release/tree/dl/Vorna380.release.manifest
signature=$manifest.sig
package=$(sed -n 's|^package_url=https://[^/]*/||p' "$manifest")
client=$release/extracted/Client
rm -rf "$release/extracted"
mkdir -p "$client"
bsdtar -x -f "$release/tree/$package" -C "$client"
# A copy that gained one line feed after signing: both builds must refuse it.
tampered=$release/tampered.manifest
{ cat "$manifest"; printf '\n'; } > "$tampered"

failures=0
check() {  # build, mode, expected exit code, actual exit code
  local meaning="refused" verdict="as expected"
  [ "$4" -eq 0 ] && meaning="accepted"
  if [ "$3" -ne "$4" ]; then verdict="WRONG, expected $3"; failures=$((failures + 1)); fi
  printf '%-12s %-30s exit code %s (%s): %s\n' "$1" "$2" "$4" "$meaning" "$verdict"
}

echo "== Linux port"
linux=build/linux/vorna380-launcher
set +e
"$linux" --verify-release "$manifest" "$signature"; check linux --verify-release 0 $?
"$linux" --verify-release "$tampered" "$signature"; check linux "--verify-release (tampered)" 2 $?
"$linux" --verify-integrity "$client" "$digest"; check linux --verify-integrity 0 $?
set -e

echo "== Windows product: build/windows/Vorna380-Launcher.exe"
if bash tests/harness/check-windows-exe.sh build/windows/Vorna380-Launcher.exe; then
  echo "product format and imports: as expected"
else
  echo "product format and imports: WRONG"; failures=$((failures + 1))
fi

exe=build/$windows_preset/Vorna380-Launcher.exe
echo "== Windows build under Wine: $exe"
trap wine_stop_all EXIT
wine_start "$flavour"
winpath() { local p=$1; echo "Z:${p//\//\\}"; }  # Wine shows the Linux file system as Z:
set +e
tests/harness/wine-run.sh "$flavour" "$exe" --verify-release "$(winpath "$manifest")" "$(winpath "$signature")"
check "$windows_preset" --verify-release 0 $?
tests/harness/wine-run.sh "$flavour" "$exe" --verify-release "$(winpath "$tampered")" "$(winpath "$signature")"
check "$windows_preset" "--verify-release (tampered)" 2 $?
tests/harness/wine-run.sh "$flavour" "$exe" --verify-integrity "$(winpath "$client")" "$digest"
check "$windows_preset" --verify-integrity 0 $?
set -e
echo "== Journal of the integrity checks: $release/extracted/launcher.log"
tail -n 4 "$release/extracted/launcher.log" 2>/dev/null || true

echo "== The launcher against the development release, served locally"
source tests/harness/release-server.sh
release_server_start
trap 'release_server_stop; wine_stop_all' EXIT
rm -rf "$VORNA380_RELEASE_SERVER/www"
cp -al "$release/tree" "$VORNA380_RELEASE_SERVER/www"
show=(/usr/bin/python3 scripts/show-launcher.py "$root/$linux" "$root/build/main-job-profile" "$root/build/main-job/launcher-ready.png")
[ -n "${DISPLAY:-}" ] || show=(bash tests/harness/with-xvfb.sh "${show[@]}")
if ! "${show[@]}"; then
  echo "launcher start: WRONG"; failures=$((failures + 1))
fi
if [ "$failures" -ne 0 ]; then
  echo "main job: $failures verdict(s) wrong"
  exit 1
fi
echo "main job: every verdict as expected"
