# Bash completion for orvik and orvik-regedit: operation words, each
# operation's options, value type names after /t, root keys, subkeys read
# from the registry with the orvik being completed, and file names.
#
# Installed as bash-completion's completions/orvik (and completions/
# orvik-regedit, a link to it). Words in fixed lists take the case of what
# was typed so far (qu -> query, QU -> QUERY, nothing typed -> the case the
# help screens use) and match it without regard to case, as orvik does.
#
# Key names are typed with backslashes, which the shell eats unless they are
# quoted. An unquoted backslash before a character that means nothing to the
# shell is therefore read as the separator the user meant, so HKLM\SO
# completes to HKLM\\SOFTWARE\\. Keys are written for the quoting in force
# where readline's word starts (none, '...' or "...") here, not by readline:
# its quoting of file names leaves $ and ` bare in names that are no files,
# and a key named $(...) would then run when the line is run.
#
# Names from the registry are never expanded, evaluated or used as patterns.
# A registry that cannot be read completes nothing and prints nothing. The
# helpers share their results through variables that the two completion
# functions declare local.

# _orvik_parse_word TEXT: the value of the shell word TEXT in _orvik_value,
# and in _orvik_open_quote the quote (' or ") still open at its end, if any.
_orvik_parse_word() {
  local text=$1 value='' quote='' c next i=0
  while ((i < ${#text})); do
    c=${text:i:1}
    if [[ $quote == "'" ]]; then
      if [[ $c == "'" ]]; then quote=''; else value+=$c; fi
    elif [[ $quote == '"' ]]; then
      if [[ $c == '"' ]]; then
        quote=''
      elif [[ $c == '\' && ${text:i+1:1} == [\$\`\"\\] ]]; then
        value+=${text:i+1:1}
        ((i++))
      else
        value+=$c
      fi
    elif [[ $c == "'" || $c == '"' ]]; then
      quote=$c
    elif [[ $c == '\' ]]; then
      next=${text:i+1:1}
      if [[ -z $next ]]; then
        value+='\'
      elif [[ $next == [[:alnum:]._,+@%/-] ]]; then
        # The shell would drop this backslash; in a key name it separates.
        value+='\'$next
        ((i++))
      else
        value+=$next
        ((i++))
      fi
    else
      value+=$c
    fi
    ((i++))
  done
  _orvik_value=$value
  _orvik_open_quote=$quote
}

# _orvik_split_line: the words of the command line up to the cursor, as typed
# (_orvik_raw) and as the shell passes them (_orvik_values); the last is the
# word being completed, empty after a space.
_orvik_split_line() {
  local line=${COMP_LINE:0:COMP_POINT} quote='' start=-1 c i=0
  _orvik_raw=()
  _orvik_values=()
  while ((i < ${#line})); do
    c=${line:i:1}
    if [[ -z $quote && $c == [[:space:]] ]]; then
      if ((start >= 0)); then
        _orvik_raw+=("${line:start:i-start}")
        start=-1
      fi
    else
      ((start < 0)) && start=$i
      if [[ $quote == "'" ]]; then
        [[ $c == "'" ]] && quote=''
      elif [[ $c == '\' ]]; then
        ((i++))
      elif [[ $quote == '"' ]]; then
        [[ $c == '"' ]] && quote=''
      elif [[ $c == "'" || $c == '"' ]]; then
        quote=$c
      fi
    fi
    ((i++))
  done
  if ((start >= 0)); then
    _orvik_raw+=("${line:start}")
  else
    _orvik_raw+=('')
  fi
  local raw
  for raw in "${_orvik_raw[@]}"; do
    _orvik_parse_word "$raw"
    _orvik_values+=("$_orvik_value")
  done
}

# _orvik_in_case PREFIX WORD...: the words that begin with PREFIX without
# regard to case, upper-cased when PREFIX holds a capital, lower-cased when
# it holds a small letter, and as given otherwise; appended to _orvik_found.
_orvik_in_case() {
  local prefix=$1 word
  shift
  for word in "$@"; do
    [[ ${word,,} == "${prefix,,}"* ]] || continue
    if [[ $prefix == *[A-Z]* ]]; then
      word=${word^^}
    elif [[ $prefix == *[a-z]* ]]; then
      word=${word,,}
    fi
    _orvik_found+=("$word")
  done
}

# _orvik_full_root TEXT: the full name of a root key typed as TEXT (any case)
# in _orvik_root; fails for a text that names no root.
_orvik_full_root() {
  case ${1^^} in
    HKCU | HKEY_CURRENT_USER) _orvik_root=HKEY_CURRENT_USER ;;
    HKCR | HKEY_CLASSES_ROOT) _orvik_root=HKEY_CLASSES_ROOT ;;
    HKU | HKEY_USERS) _orvik_root=HKEY_USERS ;;
    HKCC | HKEY_CURRENT_CONFIG) _orvik_root=HKEY_CURRENT_CONFIG ;;
    HKLM | HKEY_LOCAL_MACHINE) _orvik_root=HKEY_LOCAL_MACHINE ;;
    *) return 1 ;;
  esac
}

# _orvik_run LINES_VAR PROGRAM ARG...: the lines PROGRAM prints, without their
# CR, in the array LINES_VAR; fails unless PROGRAM succeeds or, for COMPARE,
# finds a difference. Lines without their CR LF end are dropped: orvik ends
# every line with CR LF, so such a line is part of a name that holds a line
# feed.
_orvik_run() {
  local -n _orvik_lines=$1
  shift
  local all line status
  mapfile -t all < <("$@" </dev/null 2>/dev/null; printf '\n%s\n' "$?")
  status=${all[${#all[@]} - 1]}
  [[ $status == 0 || ($status == 2 && ${2,,} == compare) ]] || return 1
  _orvik_lines=()
  for line in "${all[@]:0:${#all[@]}-2}"; do
    [[ $line == *$'\r' ]] && _orvik_lines+=("${line%$'\r'}")
  done
}

# _orvik_subkeys PROGRAM PARENT PREFIX: the names of PARENT's subkeys that
# begin with PREFIX (case ignored), in _orvik_names. PARENT is ROOT or
# ROOT\path as typed, without a trailing backslash.
#
# COMPARE PARENT HKCC\ /s /on is the cheap listing: it prints one line for
# each subkey of PARENT that HKCC\ lacks, and nothing else (no values, no
# data), without walking the trees below. A subkey that HKCC\ has too is
# compared further down and may show only in a deeper line, or not at all
# when the two trees match; the few subkeys of HKCC\ are therefore also tried
# one by one under PARENT. QUERY /s would list every key below PARENT, a
# walk of the whole tree for each TAB.
_orvik_subkeys() {
  local program=$1 parent=$2 prefix=$3
  _orvik_names=()
  local root=${parent%%\\*} path=''
  [[ $parent == *\\* ]] && path=${parent#*\\}
  _orvik_full_root "$root" || return 1
  [[ $path != \\* && $path != *\\ && $path != *\\\\* ]] || return 1
  local expect="< Value:  $_orvik_root\\"
  [[ -n $path ]] && expect+="$path\\"
  local -a lines
  _orvik_run lines "$program" COMPARE "$parent\\" 'HKCC\' /s /on || return 1
  local -A seen=()
  local line name
  for line in "${lines[@]}"; do
    [[ ${line,,} == "${expect,,}"?* ]] || continue
    name=${line:${#expect}}
    name=${name%%\\*}
    [[ $name != *[[:cntrl:]]* ]] || continue
    [[ ${name,,} == "${prefix,,}"* && -z ${seen[${name,,}]+x} ]] || continue
    seen[${name,,}]=1
    _orvik_names+=("$name")
  done
  _orvik_run lines "$program" QUERY 'HKCC\' /s || return 0
  local -A tried=()
  for line in "${lines[@]}"; do
    [[ $line == HKEY_CURRENT_CONFIG\\?* ]] || continue
    name=${line#HKEY_CURRENT_CONFIG\\}
    name=${name%%\\*}
    [[ $name != *[[:cntrl:]]* && ${name,,} == "${prefix,,}"* ]] || continue
    [[ -z ${seen[${name,,}]+x} && -z ${tried[${name,,}]+x} ]] || continue
    tried[${name,,}]=1
    if "$program" QUERY "$parent\\$name" </dev/null >/dev/null 2>&1; then
      seen[${name,,}]=1
      _orvik_names+=("$name")
    fi
  done
  return 0
}

# _orvik_keys PROGRAM WORD: the key names that complete WORD, each ending in
# a backslash, in _orvik_found.
_orvik_keys() {
  local program=$1 word=$2
  if [[ $word != *\\* ]]; then
    local -a short=(HKLM HKCU HKCR HKU HKCC)
    local -a long=(HKEY_LOCAL_MACHINE HKEY_CURRENT_USER HKEY_CLASSES_ROOT HKEY_USERS
      HKEY_CURRENT_CONFIG)
    _orvik_in_case "$word" "${short[@]}"
    ((${#_orvik_found[@]})) || _orvik_in_case "$word" "${long[@]}"
    _orvik_found=("${_orvik_found[@]/%/\\}")
    return
  fi
  local parent=${word%\\*} prefix=${word##*\\} name
  _orvik_subkeys "$program" "$parent" "$prefix" || return
  ((${#_orvik_names[@]})) || return
  # Names keep their case, unless they differ in case within what was typed:
  # then that part is kept as typed, so that readline does not cut it.
  local typed=${_orvik_names[0]:0:${#prefix}}
  for name in "${_orvik_names[@]}"; do
    [[ ${name:0:${#prefix}} == "$typed" ]] || typed=$prefix
  done
  for name in "${_orvik_names[@]}"; do
    _orvik_found+=("$parent\\$typed${name:${#prefix}}\\")
  done
}

# _orvik_files WORD: file and directory names that complete WORD.
_orvik_files() {
  local name
  while IFS= read -r name; do
    _orvik_found+=("$name")
  done < <(compgen -f -- "$1")
}

# _orvik_options FIRST PREFIX OPTION...: the options that complete PREFIX and
# are not yet among the words from FIRST on, before the word being completed.
_orvik_options() {
  local first=$1 prefix=$2 option word
  shift 2
  local -a left=()
  for option in "$@"; do
    for word in "${_orvik_values[@]:first:${#_orvik_values[@]}-1-first}"; do
      [[ ${word,,} == "$option" ]] && continue 2
    done
    left+=("$option")
  done
  _orvik_in_case "$prefix" "${left[@]}"
}

# _orvik_quote QUOTE TEXT: TEXT written for the shell, in _orvik_value, to
# follow an open quote QUOTE (' or ") or none (empty QUOTE).
_orvik_quote() {
  local quote=$1 text=$2
  _orvik_value=""
  [[ -n $text ]] || return 0
  if [[ $quote == "'" ]]; then
    _orvik_value=${text//\'/\'\\\'\'}
  elif [[ $quote == '"' ]]; then
    text=${text//\\/\\\\}
    text=${text//\$/\\\$}
    text=${text//\`/\\\`}
    text=${text//\"/\\\"}
    _orvik_value=${text//!/\"\\!\"}
  else
    printf -v _orvik_value '%q' "$text"
  fi
}

# _orvik_reply KIND TEXT: hands _orvik_found to readline, which replaces its
# own word TEXT with one of them. Readline's word starts after an open quote
# or after a character such as = or :, so what the line holds before it is
# taken off each name, and the rest is quoted to follow it. File names are
# quoted by readline itself; keys get no space after them, so that the next
# TAB goes on below them.
_orvik_reply() {
  local kind=$1 text=$2 raw=${_orvik_raw[${#_orvik_raw[@]} - 1]} word
  local kept='' quote=''
  if [[ $raw == *"$text" ]]; then
    _orvik_parse_word "${raw:0:${#raw}-${#text}}"
    kept=$_orvik_value
    quote=$_orvik_open_quote
  fi
  COMPREPLY=()
  for word in "${_orvik_found[@]}"; do
    if [[ $kind == files ]]; then
      COMPREPLY+=("${word:${#kept}}")
    else
      _orvik_quote "$quote" "${word:${#kept}}"
      COMPREPLY+=("$_orvik_value")
    fi
  done
  case $kind in
    keys) compopt -o nospace 2>/dev/null ;;
    files) compopt -o filenames 2>/dev/null ;;
  esac
  return 0
}

_orvik() {
  local program text=${2-} _orvik_value _orvik_open_quote _orvik_root
  local -a _orvik_raw _orvik_values _orvik_found _orvik_names
  program=$(type -P -- "$1") || program=''
  _orvik_split_line
  local index=$((${#_orvik_raw[@]} - 1))
  local word=${_orvik_values[index]} previous=${_orvik_values[index - 1],,}
  _orvik_found=()
  COMPREPLY=()
  if ((index == 1)); then
    _orvik_in_case "$word" QUERY ADD DELETE COPY COMPARE SAVE RESTORE LOAD UNLOAD EXPORT IMPORT
    _orvik_reply words "$text"
    return
  fi

  # What each position after the operation word holds, and the options.
  local -a slots=() options=()
  case ${_orvik_values[1],,} in
    query) slots=(key) options=(/v /ve /s) ;;
    add) slots=(key) options=(/v /ve /t /s /d /f) ;;
    delete) slots=(key) options=(/v /ve /va /f) ;;
    copy) slots=(key key) options=(/s /f) ;;
    compare) slots=(key key) options=(/v /ve /oa /od /os /on /s) ;;
    save | restore | load) slots=(key file) ;;
    export) slots=(key file) options=(/nt4) ;;
    unload) slots=(key) ;;
    import) slots=(file) ;;
    *) return 0 ;;
  esac
  local slot=${slots[index - 2]-option} kind=words
  if ((index == 2)) && [[ $word == /* ]]; then
    _orvik_in_case "$word" '/?'
  fi
  if [[ $previous == /t && ${_orvik_values[1],,} == add ]]; then
    _orvik_in_case "$word" REG_SZ REG_MULTI_SZ REG_EXPAND_SZ REG_BINARY REG_DWORD \
      REG_DWORD_LITTLE_ENDIAN REG_DWORD_BIG_ENDIAN REG_NONE
  elif [[ $previous == /v || ($previous == /[sd] && ${_orvik_values[1],,} == add) ]]; then
    : # a value name, a separator or data: nothing to offer
  elif [[ $slot == file ]]; then
    _orvik_files "$word"
    kind=files
  elif [[ $slot == key && $word != /* ]]; then
    [[ -n $program ]] && _orvik_keys "$program" "$word"
    kind=keys
  elif [[ $slot == key ]]; then
    : # only /? begins with a slash here
  else
    _orvik_options 2 "$word" "${options[@]}"
  fi
  _orvik_reply "$kind" "$text"
}

_orvik_regedit() {
  local text=${2-} _orvik_value _orvik_open_quote
  local -a _orvik_raw _orvik_values _orvik_found
  _orvik_split_line
  local word=${_orvik_values[${#_orvik_values[@]} - 1]}
  _orvik_found=()
  COMPREPLY=()
  [[ $word == /* ]] && _orvik_options 1 "$word" /s
  _orvik_files "$word"
  _orvik_reply files "$text"
}

complete -F _orvik orvik
complete -F _orvik_regedit orvik-regedit
