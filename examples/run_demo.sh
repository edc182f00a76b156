#!/bin/sh
# Builds the toy program, translates it to Dutch and runs both versions.
# Usage: run_demo.sh <vorlang binary> <scratch folder>
set -eu
vorlang=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
examples=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$2"
cd "$2"
rm -f dornevo.exe dornevo_t.exe
${CC:-cc} -O1 -o dornevo.exe "$examples/dornevo.c"
cp "$examples/dornevo_trans_nl.txt" .
echo "== the program as built"
./dornevo.exe
echo
echo "== vorlang -t nl"
"$vorlang" -t nl
echo
echo "== the translated copy"
./dornevo_t.exe
