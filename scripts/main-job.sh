#!/usr/bin/env bash
# Sets up, builds both executables, makes the development client, publishes its release (the
# manifest signed with the development key, the package, the individually published files) and
# checks it with the launcher's command-line modes, on the Linux port and on the Windows build
# under Wine: the manifest is accepted, a tampered copy refused, and the client extracted from
# the package verifies.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh
source scripts/wine-prefix.sh
wine_detect

jobs=$(nproc)
# Where 32-bit programs cannot run, the same sources built for 64-bit Windows stand in.
presets="linux windows"
flavour=win32
exe=build/windows/Vorna380-Launcher.exe
if [ "$WINE32_WORKS" != 1 ]; then
  presets="$presets windows-x64"
  flavour=win64
  exe=build/windows-x64/Vorna380-Launcher.exe
fi
for preset in $presets; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target launcher
done

release=$root/build/dev-release
echo "== Making and publishing the development client release in $release"
python3 scripts/make-dev-client.py "$release"
digest=$(python3 scripts/publish-release.py publish "$release/Client" "$release/tree" \
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

report() {  # build, mode, exit code
  local meaning="refused"
  [ "$3" -eq 0 ] && meaning="accepted"
  printf '%-8s %-30s exit code %s (%s)\n' "$1" "$2" "$3" "$meaning"
}

echo "== Linux port"
set +e
build/linux/vorna380-launcher --verify-release "$manifest" "$signature"; report linux --verify-release $?
build/linux/vorna380-launcher --verify-release "$tampered" "$signature"; report linux "--verify-release (tampered)" $?
build/linux/vorna380-launcher --verify-integrity "$client" "$digest"; report linux --verify-integrity $?
set -e

echo "== Windows build under Wine ($exe)"
trap wine_stop_all EXIT
wine_start "$flavour"
windows_path() { scripts/wine-run.sh "$flavour" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
set +e
scripts/wine-run.sh "$flavour" "$exe" --verify-release "$(windows_path "$manifest")" "$(windows_path "$signature")"
report windows --verify-release $?
scripts/wine-run.sh "$flavour" "$exe" --verify-release "$(windows_path "$tampered")" "$(windows_path "$signature")"
report windows "--verify-release (tampered)" $?
scripts/wine-run.sh "$flavour" "$exe" --verify-integrity "$(windows_path "$client")" "$digest"
report windows --verify-integrity $?
set -e
echo "== Journal of the integrity checks: $release/extracted/launcher.log"
tail -n 4 "$release/extracted/launcher.log" 2>/dev/null || true
