#!/usr/bin/env bash
# Sets up, builds both executables, makes the development client release (a client folder,
# its integrity list and the manifest signed with the development key) and checks it with
# the launcher's command-line modes, on the Linux port and on the Windows build under Wine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh

jobs=$(nproc)
for preset in linux windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target launcher
done

release=$root/build/dev-release
echo "== Making the development client release in $release"
digest=$(python3 scripts/make-dev-client.py "$release" | tail -n 1)
manifest=$release/release/Vorna380.release.manifest
signature=$manifest.sig
client=$release/Client
# A copy that gained one line feed after signing: both builds must refuse it.
tampered=$release/release/tampered.manifest
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

echo "== Windows build under Wine"
source scripts/wine-prefix.sh
wine_start "$root/build/windows/wineprefix"
trap wine_stop EXIT
exe=build/windows/Vorna380-Launcher.exe
set +e
scripts/wine-run.sh "$exe" --verify-release "$(winepath -w "$manifest")" "$(winepath -w "$signature")"
report windows --verify-release $?
scripts/wine-run.sh "$exe" --verify-release "$(winepath -w "$tampered")" "$(winepath -w "$signature")"
report windows "--verify-release (tampered)" $?
scripts/wine-run.sh "$exe" --verify-integrity "$(winepath -w "$client")" "$digest"
report windows --verify-integrity $?
set -e
echo "== Journal of the integrity checks: $release/launcher.log"
tail -n 4 "$release/launcher.log" 2>/dev/null || true
