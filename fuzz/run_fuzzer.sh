#!/bin/sh
# Runs one fuzz target over a scratch copy of its seed corpus.
# Usage: run_fuzzer.sh <fuzzer> <seed corpus dir> <work dir> [libFuzzer options...]
# The work dir is emptied first; new corpus entries and any crash artifacts land
# there, never in the seed corpus. An empty seed corpus is fine (libFuzzer starts
# from nothing); a missing one is an error.
set -eu
fuzzer=$1
seeds=$2
work=$3
shift 3
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp -R "$seeds/." "$work/corpus/"
exec "$fuzzer" -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$@" "$work/corpus"
