#!/usr/bin/env bash
# Checks on the host that the project's variables reach what `make` runs in the
# toolchain root, which starts every command with a clean environment: a TARNVALE_*
# variable and a benchmark's variable set for `make` are seen by the command, values
# with spaces, quotes, dollars and newlines arrive unchanged, TARNVALE_TOOLCHAIN is
# `native` inside, and the host's other variables stay outside. Takes a second.
#   scripts/check-toolchain-env.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
status=0
fail() { echo "check-toolchain-env: $*" >&2; status=1; }

seen=$(env TARNVALE_FUZZ_SMOKE_SECONDS=7 SCANS_LARGE=1234 UNRELATED_TO_TARNVALE=1 make --no-print-directory -s env)
for expected in TARNVALE_FUZZ_SMOKE_SECONDS=7 SCANS_LARGE=1234 TARNVALE_TOOLCHAIN=native; do
    grep -qFx "$expected" <<<"$seen" || fail "make env does not show $expected:"$'\n'"$seen"
done
! grep -q '^UNRELATED_TO_TARNVALE=' <<<"$seen" || fail "a variable that is not the project's reached the root"

odd=$'two words, \'single\' "double" $HOME \\ and\na second line'
got=$(env TARNVALE_CHECK_VALUE="$odd" scripts/toolchain.sh run printenv TARNVALE_CHECK_VALUE) || true
[ "$got" = "$odd" ] || fail "TARNVALE_CHECK_VALUE arrived as <$got>, not <$odd>"

[ $status -eq 0 ] && echo "check-toolchain-env: the project's variables reach the toolchain root"
exit $status
