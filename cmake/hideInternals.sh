#!/bin/sh
# Makes a static archive export only what a shared build exports: its objects become one
# relocatable object, in which every name of hidden visibility that it defines becomes
# local. Inline functions' weak names stay as they are: a program's own copies may
# replace them.
#   hideInternals.sh ARCHIVE LD OBJCOPY AR
set -eu
archive=$1 ld=$2 objcopy=$3 ar=$4
whole=$archive.whole.o
"$ld" -r --whole-archive "$archive" -o "$whole"
readelf -sW "$whole" | awk '$5 == "GLOBAL" && $6 == "HIDDEN" && $7 != "UND" { print $8 }' \
  >"$whole.names"
"$objcopy" --localize-symbols="$whole.names" "$whole"
rm -f "$archive"
"$ar" qcs "$archive" "$whole"
rm -f "$whole" "$whole.names"
