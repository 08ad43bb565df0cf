#!/usr/bin/env bash
# Times the publisher check of an update: the installed program and a new one of about MIB MiB,
# both signed with a test certificate, read with WinVerifyTrust under Wine.
#   bash bench/signature_bench.sh [MIB] [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/arch.sh"
arch_prepare "$root"
mib="${1:-100}"
rounds="${2:-5}"
BRIVON_BUILD_TARGETS="brivon_signature_bench brivon_sibling_fixtures" "$root/scripts/build.sh" "$BRIVON_BUILD_DIR" >/dev/null
work="$BRIVON_BUILD_DIR/bench-signature"
rm -rf "$work"
mkdir -p "$work"
tools="$BRIVON_BUILD_DIR/tests/tools"
# A large program: the fixture with MIB MiB of data after its image, which the signature covers.
cp "$tools/fixture_sibling_65535_0_65535_1.exe" "$work/grande.exe"
head -c "$((mib * 1024 * 1024))" /dev/urandom >>"$work/grande.exe"
bash "$root/tests/update/sign_fixtures.sh" "$work/signed" "$work/grande.exe" "$work/grande.exe"
ls -l "$work/signed/nuevo_firmado_A.exe" | awk '{printf "signed executable: %.1f MiB\n", $5 / 1048576}'
source "$root/scripts/wine_session.sh"
wine_session_ensure
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
wine "$tools/brivon_signature_bench.exe" "$(winpath "$work/signed/old_firmado_A.exe")" \
  "$(winpath "$work/signed/nuevo_firmado_A.exe")" "$rounds" | tr -d '\r'
