#!/usr/bin/env bash
# Fuzzes the text-file layer for a long time, by hand rather than in CI:
#
#   bash bench/fuzz_long.sh [SECONDS]     (default 1800 s for each target)
#
# Unlike the bounded CI run, the corpus each target builds up is kept between
# runs, outside the repository, so every run starts where the last one
# stopped. Failing inputs are kept beside it. Everything tests/fuzz/run.sh
# reads from the environment (FUZZ_TARGETS, FUZZ_ARGS, FUZZ_BUILD_DIR, ...)
# works here too; FUZZ_ARGS="-fork=4" spreads each target over four
# processes.
set -euo pipefail

seconds=${1:-1800}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
state=${FUZZ_STATE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/yonamito-fuzz}

export FUZZ_CORPUS_DIR=${FUZZ_CORPUS_DIR:-$state/corpus}
# Each run's failing inputs get a folder of their own, so none is lost to
# the next run.
export FUZZ_ARTIFACT_DIR=${FUZZ_ARTIFACT_DIR:-$state/artifacts/$(date +%Y%m%d-%H%M%S)}
echo "Corpus: $FUZZ_CORPUS_DIR"
echo "Failing inputs: $FUZZ_ARTIFACT_DIR"
exec bash "$root/tests/fuzz/run.sh" "$seconds"
