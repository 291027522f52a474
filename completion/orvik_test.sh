#!/usr/bin/env bash
# Tests of the bash completion for orvik and orvik-regedit, against a
# registry in a temporary directory:
#   - the completion functions driven as bash drives them (COMP_LINE,
#     COMP_POINT, COMP_WORDS, COMP_CWORD and readline's word as $2), with
#     COMPREPLY checked for a table of command lines;
#   - a few lines typed into an interactive bash in a pseudo-terminal, with
#     the line checked after TAB, for what readline makes of COMPREPLY.
#   orvik_test.sh BIN_DIR COMPLETION_SCRIPT
# BIN_DIR holds orvik and orvik-regedit.
set -uo pipefail

bin_dir=$(cd "$1" && pwd)
script=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passed=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

export PATH="$bin_dir:$PATH" HOME="$work" ORVIK_REGISTRY="$work/registry"
cd "$work" || exit 1

# Names with spaces, quotes, $, = and :, and one that would run a command
# if a completion ever evaluated it. HKCC\Shared mirrors HKLM\SOFTWARE\Shared,
# so COMPARE against HKCC\ cannot show it; a value there holds lines that
# look like listing lines.
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\My Co\App One]' '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\My Co\App Two]' '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\Mixed=Case:Name]' '' \
  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\it's \$HOME]" '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\$(touch pwned)]' '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\Shared\Deep]' '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\Sharp]' '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\sharpen]' '' \
  '[HKEY_CURRENT_CONFIG\Shared\Deep]' '' >fixture.reg
orvik IMPORT fixture.reg >/dev/null || {
  echo "cannot import the fixture" >&2
  exit 1
}
orvik ADD 'HKCC\Shared' /v spoof \
  /d $'x\r\n\r\nHKEY_CURRENT_CONFIG\\Ghost\r\n< Value:  HKEY_LOCAL_MACHINE\\SOFTWARE\\Gremlin' ||
  exit 1
touch out.reg out.hiv

# shellcheck source=/dev/null
source "$script"

# complete_line LINE: calls the completion function of LINE's command as
# bash does with the cursor at the end of LINE; COMPREPLY joined by " | " in
# $reply, everything the function printed in $printed.
complete_line() {
  local line=$1
  COMP_LINE=$line
  COMP_POINT=${#line}
  # Words split at spaces outside quotes, as bash splits them.
  COMP_WORDS=()
  local word='' c quote='' i
  for ((i = 0; i < ${#line}; i++)); do
    c=${line:i:1}
    if [[ -z $quote && $c == ' ' ]]; then
      [[ -n $word ]] && COMP_WORDS+=("$word")
      word=''
      continue
    fi
    if [[ -n $quote ]]; then
      [[ $c == "$quote" ]] && quote=''
    elif [[ $c == \\ ]]; then
      word+=$c
      ((i++))
      c=${line:i:1}
    elif [[ $c == [\'\"] ]]; then
      quote=$c
    fi
    word+=$c
  done
  COMP_WORDS+=("$word")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  # Readline's word: after an open quote, else after the last = or :.
  local text start=0
  quote=''
  for ((i = 0; i < ${#word}; i++)); do
    c=${word:i:1}
    if [[ -n $quote ]]; then
      [[ $c == "$quote" ]] && quote=''
    elif [[ $c == \\ ]]; then
      ((i++))
    elif [[ $c == [\'\"] ]]; then
      quote=$c
      start=$((i + 1))
    elif [[ $c == [=:] ]]; then
      start=$((i + 1))
    fi
  done
  [[ -n $quote ]] || [[ ${word:0:start} == *[=:] ]] || start=0
  text=${word:start}
  local function=_orvik
  [[ ${COMP_WORDS[0]} == orvik-regedit ]] && function=_orvik_regedit
  COMPREPLY=()
  "$function" "${COMP_WORDS[0]}" "$text" "${COMP_WORDS[COMP_CWORD - 1]}" >"$work/printed" 2>&1
  printed=$(<"$work/printed")
  local IFS='|'
  reply=${COMPREPLY[*]}
  reply=${reply//|/ | }
}

# Each row: the line typed, then COMPREPLY as complete_line joins it.
cases=(
  # Operation words, in the case typed.
  'orvik qu' 'query'
  'orvik QU' 'QUERY'
  'orvik Co' 'COPY | COMPARE'
  'orvik ' 'QUERY | ADD | DELETE | COPY | COMPARE | SAVE | RESTORE | LOAD | UNLOAD | EXPORT | IMPORT'
  'orvik quer ' ''
  'orvik query /' '/\?'
  # Root keys; the long names once no short one fits.
  'orvik query ' 'HKLM\\ | HKCU\\ | HKCR\\ | HKU\\ | HKCC\\'
  'orvik query hkc' 'hkcu\\ | hkcr\\ | hkcc\\'
  'orvik query HKEY_C' 'HKEY_CURRENT_USER\\ | HKEY_CLASSES_ROOT\\ | HKEY_CURRENT_CONFIG\\'
  'orvik query hkey_u' 'hkey_users\\'
  # Subkeys, written for the shell: the backslash typed alone is a separator.
  'orvik query HKLM\SO' 'HKLM\\SOFTWARE\\'
  'orvik query HKLM\\so' 'HKLM\\SOFTWARE\\'
  'orvik query HKLM\\' 'HKLM\\SOFTWARE\\ | HKLM\\SYSTEM\\'
  'orvik query HKLM\\SOFTWARE\\My' 'HKLM\\SOFTWARE\\My\ Co\\'
  'orvik query HKLM\\SOFTWARE\\my\ co\\' 'HKLM\\SOFTWARE\\my\ co\\App\ One\\ | HKLM\\SOFTWARE\\my\ co\\App\ Two\\'
  "orvik query 'HKLM\\SOFTWARE\\My Co\\App T" 'HKLM\SOFTWARE\My Co\App Two\'
  'orvik query "HKLM\SOFTWARE\My Co\App T' 'HKLM\\SOFTWARE\\My Co\\App Two\\'
  'orvik query HKLM\\SOFTWARE\\it' "HKLM\\\\SOFTWARE\\\\it\\'s\\ \\\$HOME\\\\"
  "orvik query 'HKLM\\SOFTWARE\\it" "HKLM\\SOFTWARE\\it'\\''s \$HOME\\"
  'orvik query "HKLM\\SOFTWARE\\it' "HKLM\\\\SOFTWARE\\\\it's \\\$HOME\\\\"
  'orvik query HKLM\\SOFTWARE\\$' 'HKLM\\SOFTWARE\\\$\(touch\ pwned\)\\'
  # Only the part after = or : is readline's to replace.
  'orvik query HKLM\\SOFTWARE\\Mixed=C' 'Case:Name\\'
  'orvik query HKLM\\SOFTWARE\\Mixed=Case:' 'Name\\'
  # Names that differ in case within what was typed keep the typed part.
  'orvik query HKLM\\SOFTWARE\\sharp' 'HKLM\\SOFTWARE\\sharp\\ | HKLM\\SOFTWARE\\sharpen\\'
  # A subkey that HKCC\ mirrors, and the keys of HKCC\ itself.
  'orvik query HKLM\\SOFTWARE\\Sh' 'HKLM\\SOFTWARE\\Sharp\\ | HKLM\\SOFTWARE\\Sharpen\\ | HKLM\\SOFTWARE\\Shared\\'
  'orvik query HKCC\\' 'HKCC\\Shared\\'
  # Listing lines inside a value's data name nothing.
  'orvik query HKLM\\SOFTWARE\\G' ''
  'orvik query HKLM\\SOFTWARE\\Nothing\\' ''
  'orvik query Software\\' ''
  'orvik query x' ''
  # Second key names and file names by position.
  'orvik copy HKLM\\SOFTWARE HKLM\\SY' 'HKLM\\SYSTEM\\'
  'orvik compare HKLM\\SOFTWARE HKLM\\SOFTWARE\\My' 'HKLM\\SOFTWARE\\My\ Co\\'
  'orvik save HKLM\\SOFTWARE out' 'out.hiv | out.reg'
  'orvik export HKLM\\SOFTWARE out.r' 'out.reg'
  'orvik import out.' 'out.hiv | out.reg'
  'orvik unload HKLM\\SOFTWARE ' ''
  # Options after the positions, in the case typed, each once.
  'orvik query HKLM\\SOFTWARE ' '/v | /ve | /s'
  'orvik query HKLM\\SOFTWARE /S /' '/v | /ve'
  'orvik delete HKLM\\SOFTWARE /V' '/V | /VE | /VA'
  'orvik compare HKLM\\SOFTWARE HKLM\\SOFTWARE /o' '/oa | /od | /os | /on'
  'orvik copy A B /' '/s | /f'
  'orvik export HKLM\\SOFTWARE out.reg /' '/nt4'
  'orvik save HKLM\\SOFTWARE out.hiv /' ''
  # What follows an option that takes a value.
  'orvik add X /t REG_D' 'REG_DWORD | REG_DWORD_LITTLE_ENDIAN | REG_DWORD_BIG_ENDIAN'
  'orvik add X /T reg_m' 'reg_multi_sz'
  'orvik add X /t ' 'REG_SZ | REG_MULTI_SZ | REG_EXPAND_SZ | REG_BINARY | REG_DWORD | REG_DWORD_LITTLE_ENDIAN | REG_DWORD_BIG_ENDIAN | REG_NONE'
  'orvik add X /v ' ''
  'orvik add X /s ' ''
  'orvik add X /d ' ''
  'orvik query X /v ' ''
  'orvik query X /t ' '/v | /ve | /s'
  # The editor: /s, then files.
  'orvik-regedit out.r' 'out.reg'
  'orvik-regedit /s fix' 'fixture.reg'
)
for ((row = 0; row < ${#cases[@]}; row += 2)); do
  line=${cases[row]}
  expected=${cases[row + 1]}
  complete_line "$line"
  if [[ $reply != "$expected" ]]; then
    fail "[$line] gave [$reply], expected [$expected]"
  elif [[ -n $printed ]]; then
    fail "[$line] printed: $printed"
  else
    passed=$((passed + 1))
  fi
done
[[ ! -e pwned ]] || fail "a key name was run as a command"

# A registry that cannot be read, and no orvik at all: nothing, silently.
mkdir -m 777 shared-dir
for setting in "ORVIK_REGISTRY=$work/shared-dir" "PATH=/nonexistent"; do
  (
    export "${setting?}"
    complete_line 'orvik query HKLM\\'
    [[ -z $reply && -z $printed ]]
  ) && passed=$((passed + 1)) || fail "with $setting: a reply or output"
done

# Lines typed into bash: each is followed by TAB, a key that writes the line
# to a file, and a key that clears it.
typed=(
  'orvik qu' 'orvik query '
  'orvik query HKLM\SO' 'orvik query HKLM\\SOFTWARE\\'
  'orvik add X /t REG_D' 'orvik add X /t REG_DWORD'
  "orvik query 'HKLM\\SOFTWARE\\My" "orvik query 'HKLM\\SOFTWARE\\My Co\\'"
  'orvik query "HKLM\SOFTWARE\My Co\App O' 'orvik query "HKLM\\SOFTWARE\\My Co\\App One\\"'
  'orvik query HKLM\\SOFTWARE\\it' "orvik query HKLM\\\\SOFTWARE\\\\it\\'s\\ \\\$HOME\\\\"
  'orvik query HKLM\\SOFTWARE\\Mixed=C' 'orvik query HKLM\\SOFTWARE\\Mixed=Case:Name\\'
)
cat >rc.bash <<EOF
source '$script'
PS1='\$ '
bind 'set bell-style none'
bind '"\\C-xk": kill-whole-line'
bind -x '"\\C-xp": printf "%s\\n" "\$READLINE_LINE" >>"$work/lines"'
EOF
for ((row = 0; row < ${#typed[@]}; row += 2)); do
  printf '%s\t\030p\030k' "${typed[row]}"
done >keys
printf 'exit\n' >>keys
INPUTRC=/dev/null TERM=dumb script -qec "bash --rcfile '$work/rc.bash' --noprofile -i" /dev/null \
  <keys >/dev/null 2>&1
mapfile -t lines <"$work/lines" 2>/dev/null
for ((row = 0; row < ${#typed[@]}; row += 2)); do
  got=${lines[row / 2]-(no line)}
  if [[ $got != "${typed[row + 1]}" ]]; then
    fail "typed [${typed[row]}] TAB gave [$got], expected [${typed[row + 1]}]"
  else
    passed=$((passed + 1))
  fi
done

echo "$passed passed, $failures failed"
((failures == 0))
