#!/usr/bin/env bash
# Builds the Windows zip into a scratch folder, unpacks it as a user would and
# runs both programs from the unpacked folder under Wine: their versions, the
# window's help, and one splice by graftwell-cli.exe on maps written by Debian's
# smpq, read back with smpq. Nothing may need installing: only Windows' own DLLs
# are imported. The README.txt is for Windows users: what to start, where the
# working folder is, the whole command line, and nothing of Linux or of files
# the zip lacks.
# Usage: zip.sh BUILD_DIR OUT_DIR VERSION OBJDUMP   (WINEPREFIX set)
set -euo pipefail
build=$1 out=$2 version=$3 objdump=$4
fail() { echo "zip: $*" >&2; exit 1; }
rm -rf "$out" && mkdir -p "$out/root" "$out/maps"

cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$out/pkg" >"$out/cpack.log" 2>&1 || fail "cpack failed: $(cat "$out/cpack.log")"
name=graftwell-$version-windows-x64
[ "$(cd "$out/pkg" && ls ./*.zip)" = "./$name.zip" ] || fail "cpack made $(ls "$out/pkg"), not $name.zip"
(cd "$out/root" && cmake -E tar xf "$out/pkg/$name.zip")
folder=$out/root/$name
listing=$(cd "$folder" && find . -type f | sort | tr '\n' ' ')
[ "$listing" = "./README.txt ./graftwell-cli.exe ./graftwell.exe " ] || fail "the zip holds: $listing"
readme=$folder/README.txt
[ "$(head -1 "$readme")" = "Graftwell $version for Windows"$'\r' ] || fail "README.txt starts: $(head -1 "$readme")"
[ "$(grep -c $'\r$' "$readme")" = "$(wc -l <"$readme")" ] || fail "README.txt has lines without Windows line ends"
for said in graftwell.exe graftwell-cli.exe '%LOCALAPPDATA%\Graftwell' 'several windows and scripts' \
            'copy EDIT SPLICE' 'save EDIT' 'undo EDIT' 'splice EDIT SPLICE' 'sections MAP' 'strings MAP' \
            --section --raw --force --work-dir; do
  grep -qF -- "$said" "$readme" || fail "README.txt does not mention $said"
done
if grep -nE 'scripts/|apt-get|sudo|cmake|\.sh\b|\]\(|\.png|\.md\b|~/|/usr/' "$readme"; then
  fail "README.txt has Linux set-up or links to files the zip lacks (lines above)"
fi
for exe in graftwell.exe graftwell-cli.exe; do
  imports=$("$objdump" -p "$folder/$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' |
            grep -vxE 'kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|comdlg32.dll|shell32.dll|advapi32.dll|msvcrt.dll|ole32.dll|ws2_32.dll|api-ms-win-.*' || true)
  [ -z "$imports" ] || fail "$exe needs DLLs that Windows does not have: $imports"
done

run() { (cd "$folder" && DISPLAY= WINEDEBUG=-all wine "$@" 2>"$out/stderr" | tr -d '\r'); }
[ "$(run graftwell-cli.exe --version)" = "graftwell-cli $version" ] || fail "graftwell-cli.exe --version: $(cat "$out/stderr")"
[ "$(run graftwell.exe --version)" = "graftwell $version" ] || fail "graftwell.exe --version: $(cat "$out/stderr")"
help=$(run graftwell.exe --help)
[ "${help%%$'\n'*}" = "usage: graftwell [--version | --help]" ] || fail "graftwell.exe --help: $help$(cat "$out/stderr")"

# An 8x8 map with a TILE of 'a's, and one whose TILE is 'b's.
makemap() {
  local dir=$out/make
  rm -rf "$dir" && mkdir -p "$dir/staredit"
  { printf 'DIM \x04\x00\x00\x00\x08\x00\x08\x00TILE\x80\x00\x00\x00'; head -c 128 /dev/zero | tr '\0' "$2"; } \
    >"$dir/staredit/scenario.chk"
  (cd "$dir" && smpq -c -M 1 -A -q -C ZLIB "$1" staredit/scenario.chk)
}
makemap "$folder/edit map.scm" a
makemap "$folder/splice.scm" b
run graftwell-cli.exe splice "edit map.scm" splice.scm --work-dir . >"$out/splice.log" ||
  fail "graftwell-cli.exe splice: $(cat "$out/splice.log" "$out/stderr")"
(cd "$out/maps" && smpq -x -q "$folder/edit map.scm" staredit/scenario.chk)
expected=$(cd "$out/make" && cat staredit/scenario.chk | od -An -tx1)
[ "$(od -An -tx1 "$out/maps/staredit/scenario.chk")" = "$expected" ] || fail "the map saved holds another chunk file"
rm -rf "$out"
echo "zip: $name.zip unpacks and both programs run from it"
