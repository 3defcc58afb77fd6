#!/usr/bin/env bash
# What "fmb2fxb b<Tab>" offers in a fixture folder, with only the completion file loaded in a
# plain bash: folders and .fmb files in any letter case, and nothing for a second argument.
#   completion_test.sh COMPLETION-FILE
set -euo pipefail
completion=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
touch b1.fmb b2.FMB b3.Fmb 'b 4.fmb' b5.fxb b6.txt b7.fmb.bak other.fmb
mkdir banks bx.fmb

# Calls the function that "complete -p" names for fmb2fxb, as bash does on Tab.
offered() {
  bash --norc --noprofile -c '
    source "$1" && shift
    registered=$(complete -p fmb2fxb)
    case $registered in *"-o filenames"*) ;; *) echo "not completed as file names: $registered"; exit 1 ;; esac
    function=${registered##*-F } && function=${function%% *}
    COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1))
    COMP_LINE="$*" && COMP_POINT=${#COMP_LINE}
    "$function" fmb2fxb "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort' offered "$completion" "$@"
}

failed=0
expect() {
  local got
  got=$(offered "${@:2}")
  if [ "$got" != "$1" ]; then
    printf 'fmb2fxb %s<Tab> offers:\n%s\nexpected:\n%s\n' "${*:3}" "$got" "$1"
    failed=1
  fi
}
expect $'b 4.fmb\nb1.fmb\nb2.FMB\nb3.Fmb\nbanks\nbx.fmb' fmb2fxb b
expect $'other.fmb' fmb2fxb o
expect '' fmb2fxb b1.fmb b
[ $failed -eq 0 ] && echo "completion offers folders and .fmb files for the first argument only"
exit $failed
