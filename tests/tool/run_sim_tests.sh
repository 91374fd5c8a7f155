#!/bin/sh
# Runs a test program on a simulated host with an audit log:
#
#   run_sim_tests.sh SANSIM TOPOLOGY AUDIT_LOG PROGRAM [ARG...]
#
# Exit 77 (skipped) where simulated hosts cannot be made: they need root here
# (a private mount namespace per run).
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: simulated hosts need root here (a private mount namespace per run)"
    exit 77
fi
SANSIM=$1
TOPOLOGY=$2
AUDIT=$3
shift 3
exec "$SANSIM" run "$TOPOLOGY" --audit "$AUDIT" -- "$@"
