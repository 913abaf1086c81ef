#!/bin/sh
# Runs one test process on its own virtual display (1440x900x24, or PELORIN_TEST_SCREEN such as
# 1024x700x24; black root). The first display number is spread so that parallel test processes
# seldom race for the same one.
test_scripts=$(dirname "$0")
. "$test_scripts/test-environment.sh"
n=$(( ($$ % 400) + 100 ))
screen="${PELORIN_TEST_SCREEN:-1440x900x24}"
exec xvfb-run -a -n "$n" -s "-screen 0 $screen -br -nolisten tcp" "$@"
