#!/usr/bin/env bash
# Runs tests that check exact bytes on the wire, in CSV files and in the timing log under a
# decimal-comma locale: they must pass unchanged. Usage: locale_test.sh TEST_BIN_DIR BIN_DIR
set -uo pipefail
testbin="$1"
bin="$2"
locale_name=de_DE.UTF-8
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    echo "SKIPPED: the $locale_name locale is not installed (scripts/setup generates it)"
    exit 77
fi
export LC_ALL=$locale_name LANG=$locale_name QT_QPA_PLATFORM=offscreen
# The locale is in force: the shell itself writes a decimal comma.
if [ "$(printf '%.2f' 1,5)" != "1,50" ]; then
    echo "FAIL: $locale_name does not give a decimal comma here"
    exit 1
fi
status=0
run() {
    echo "== $*"
    "$@" || status=1
}
run "$testbin/control_tests" --gtest_brief=1 --gtest_filter='CommandBuilders.*:ByteRoutines.*:VantorFacade.OperationsOverLoopback'
run "$testbin/quorvel_tests" --gtest_brief=1 --gtest_filter='PathFile.*:ResultsFileName.*:ResultsFile.*:ErrorTotals.*:PathRun.*:ManualPointing.*:Cases/PathLine.*'
run "$testbin/simulator_tests" --gtest_brief=1 --gtest_filter='SimulatedPointing.*:Requests/*:Profiles/*'
# The simulator's log under the same locale: fractional numbers keep their decimal point.
log="$("$bin/vantor_sim" --help)"
echo "$log" | grep -q '0\.02' || { echo "FAIL: vantor_sim --help shows no 0.02"; status=1; }
exit $status
