#!/bin/sh
# Generates the seed corpus of hive_fuzz into FOLDER: small hives written by the engine
# (hive_fuzz_seeds) and the first 64 KiB of each real hive of the shared test data.
# Usage: fuzz/make_corpus.sh BUILD_DIR SHARED_DIR FOLDER
set -eu
build=$1 shared=$2 out=$3
mkdir -p "$out"
"$build/fuzz/hive_fuzz_seeds" "$out"
for hive in "$shared"/hives/*.xz; do
  name=$(basename "$hive" .xz)
  case $name in *.LOG*) continue ;; esac
  xz -dc "$hive" | head -c 65536 > "$out/head-$name" || true
done
