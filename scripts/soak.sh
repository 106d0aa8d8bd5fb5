#!/usr/bin/env bash
# The soak (make soak, not part of make test): the storm test again and
# again with seeds of its own, each in a Wine world of its own, with Wine's
# reports of swallowed faults and heap damage on. Every other storm is
# mostly right presses on the icon, whose menus open over the boxes the
# rest open. In every third storm the agent's posts to itself for the
# folders it took are refused now and then, as a full queue refuses them
# (Wine's queue never fills). After them come the storms that once failed,
# with their own seeds, mixes and the pointer resting on the icon (where the
# menus then open). Each ends with no menu, box or dialog of the agent left
# open.
# Prints a line a storm and the totals: storms survived, hidden faults, heap
# warnings, and storms whose every check passed (hand-off files well formed
# among them).
#
#   scripts/soak.sh [WIN32_TREE] [STORMS] [SECONDS]   (build/win32, 10, 60)
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
win32=${1:-build/win32} storms=${2:-10} seconds=${3:-60}
logs=$win32/results/soak
mkdir -p "$logs"
survived=0 faults=0 warnings=0 passed=0
# Seed, mix and pointer of each storm that once failed: with the pointer on
# the icon, boxes and dialogs that had ended piled up under a menu and a sent
# Export List went unanswered for over 30 s.
found=("11001 menus icon")
run=0
storm() {
    local seed=$1 mix=$2 refuse=$3 pointer=$4
    local log=$logs/storm-$seed.log
    run=$((run + 1))
    E2E_STORM_SEED=$seed E2E_STORM_MIX=$mix E2E_STORM_REFUSE=${refuse:-0} E2E_STORM_SECONDS=$seconds \
        E2E_STORM_POINTER=$pointer E2E_RESULTS=$logs/results-$seed \
        "$here/e2e.sh" "$win32" -k test_message_storm_from_other_processes >"$log" 2>&1
    counts=$(sed -n 's/.*hidden faults: \([0-9]*\), heap warnings: \([0-9]*\).*/\1 \2/p' "$log" | tail -1)
    read -r f w <<<"${counts:-? ?}"
    died=$(grep -c "the agent died in the storm" "$log")
    ok=$(grep -c "^PASS " "$log")
    [ "$died" -eq 0 ] && survived=$((survived + 1))
    [ "$ok" -eq 1 ] && passed=$((passed + 1))
    [[ $f =~ ^[0-9]+$ ]] && faults=$((faults + f))
    [[ $w =~ ^[0-9]+$ ]] && warnings=$((warnings + w))
    echo "storm $run (seed $seed${mix:+, $mix}${refuse:+, one post in $refuse refused}${pointer:+, pointer on the $pointer}," \
         "${seconds} s): $([ "$died" -eq 0 ] && echo survived || echo DIED)," \
         "hidden faults $f, heap warnings $w, $([ "$ok" -eq 1 ] && echo "all checks passed" || echo "FAILED (see $log)")"
}
for ((i = 1; i <= storms; i++)); do
    mix= refuse=
    ((i % 2 == 0)) && mix=menus
    ((i % 3 == 0)) && refuse=3
    storm $((1000 + 2 * i)) "$mix" "$refuse" ""
done
for line in "${found[@]}"; do
    read -r seed mix pointer <<<"$line"
    storm "$seed" "$mix" "" "$pointer"
done
echo "Soak: $survived of $run storms survived, $faults hidden faults, $warnings heap warnings," \
     "$passed of $run passed every check"
[ "$passed" -eq "$run" ] && [ "$faults" -eq 0 ] && [ "$warnings" -eq 0 ]
