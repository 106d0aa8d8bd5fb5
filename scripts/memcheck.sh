#!/usr/bin/env bash
# The native unit tests under valgrind's memcheck: any error or leak fails.
set -uo pipefail
build=${1:-build/memcheck}
mkdir -p "$build/results"
valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    "$build/unit_tests" --gtest_brief=1 --gtest_output="xml:$build/results/memcheck.xml"
