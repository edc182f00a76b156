#!/bin/sh
# Builds the toy programs, translates them to Dutch and runs both versions;
# the second one's texts are UTF-16, translated with -u. First the template
# of the first program and the check of its Dutch dictionary, by the
# companions built beside vorlang.
# Usage: run_demo.sh <vorlang binary> <scratch folder>
set -eu
vorlang=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
examples=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$2"
cd "$2"
rm -f dornevo.exe dornevo_t.exe dornevo_wide.exe dornevo_wide_t.exe
${CC:-cc} -O1 -o dornevo.exe "$examples/dornevo.c"
cp "$examples/dornevo_trans_nl.txt" .
${CC:-cc} -std=c11 -O1 -o dornevo_wide.exe "$examples/dornevo_wide.c"
cp "$examples/dornevo_wide_trans_nl.txt" .
bin=$(dirname "$vorlang")
echo "== the program as built"
./dornevo.exe
echo
echo "== vorlang-extract: its template"
"$bin/vorlang-extract"
echo
echo "== vorlang-lint -t nl: the Dutch dictionary, checked"
"$bin/vorlang-lint" -t nl
echo
echo "== vorlang -t nl"
"$vorlang" -t nl
echo
echo "== the translated copy"
./dornevo_t.exe
echo
echo "== the UTF-16 program as built"
./dornevo_wide.exe
echo
echo "== vorlang -u -p dornevo_wide -t nl"
"$vorlang" -u -p dornevo_wide -t nl
echo
echo "== its translated copy"
./dornevo_wide_t.exe
