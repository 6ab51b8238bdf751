#!/bin/sh
# Rebuilds the fuzz seed corpus from the reply descriptions: every *.txt here and in seeds/ becomes
# corpus/<name>.bin.  Inputs found by fuzzing (corpus/fuzz-*, corpus/crash-*) are kept as they are.
# Usage: make_corpus.sh PATH_TO_orvo_reply_tool
set -eu
tool=${1:?usage: make_corpus.sh PATH_TO_orvo_reply_tool}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$here/corpus"
for desc in "$here"/*.txt "$here"/seeds/*.txt; do
    name=$(basename "$desc" .txt)
    "$tool" "$desc" "$here/corpus/$name.bin"
done
