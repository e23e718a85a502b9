# shellcheck shell=bash disable=SC2154  # bin, work, version, c_drive: those of tests/windows/run
# DLL planting, sourced by tests/windows/run (its helpers and variables): a program unpacked
# where someone else's files lie, such as a Downloads folder, must load no DLL from there.
#
# Windows takes an imported DLL from the program's own folder first unless it is a known DLL.
# Wine loads its own builtin copies of system DLLs unless told otherwise, which hides the
# fault; with its load order set native-first for a name (WINEDLLOVERRIDES NAME=n,b), it
# searches as Windows does. So every imported DLL that is not a known DLL gets a planted copy
# beside the program (tests/windows/planted_dll.c: it leaves NAME.ran beside itself and ends
# the process with 42) and the native-first order.

# The values of HKLM\System\CurrentControlSet\Control\Session Manager\KnownDLLs on Windows 10
# and 11: always taken from the system folder. Also ntdll.dll, the loader itself, and the API
# sets (api-ms-*, ext-ms-*), which name no file.
known_dlls=(advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32
  msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi
  user32 wldap32 wow64 wow64cpu wow64win wowarmhw ws2_32 xtajit ntdll)

objdump=x86_64-w64-mingw32-objdump

# The hex digits of the COUNT bytes at virtual address VA of IMAGE (fewer past a section's end).
image_bytes() {  # IMAGE VA COUNT
  "$objdump" -s --start-address=$(($2)) --stop-address=$(($2 + $3)) "$1" |
    awk '/^ [0-9a-f]+ / { h = substr($0, length($1) + 3, 35); gsub(/ /, "", h); printf "%s", h }'
}
le32() { echo $((16#${1:6:2}${1:4:2}${1:2:2}${1:0:2})); }

# The DLLs IMAGE imports, one a line: those of its import table, then those of its delay-import
# table (which objdump does not show).
image_imports() {  # IMAGE
  local image=$1 header base delay entry name
  header=$("$objdump" -p "$image")
  sed -n 's/^\tDLL Name: //p' <<<"$header"
  base=$((16#$(awk '$1 == "ImageBase" { print $2 }' <<<"$header")))
  delay=$((16#$(awk '$1 == "Entry" && $2 == "d" { print $3 }' <<<"$header")))
  ((delay)) || return 0
  for ((entry = base + delay; ; entry += 32)); do
    name=$(image_bytes "$image" "$entry" 8)
    [[ ${name:8:8} != 00000000 ]] || break
    name=$(image_bytes "$image" $((base + $(le32 "${name:8:8}"))) 64 | sed 's/../\\x&/g; s/\\x00.*//')
    printf '%b\n' "$name"
  done
}

# Of the DLL names read, one a line, those that Windows would look for beside a program:
# neither known DLLs nor API sets.
plantable() {
  sort -fu | grep -viE '^(api|ext)-ms-' | grep -vixF -f <(printf '%s.dll\n' "${known_dlls[@]}")
}

# Plants a copy of the marker DLL under each NAME in FOLDER; sets planted_order to Wine's
# native-first load order for them.
plant() {  # FOLDER NAME...
  local folder=$1 name
  shift
  planted_order=""
  for name; do
    cp "$bin/planted_dll.dll" "$folder/$name"
    planted_order+="${planted_order:+,}${name%.*}"
  done
  planted_order+="=n,b"
}

# The markers left in FOLDER, as the names of the DLLs that ran.
planted_ran() {  # FOLDER
  (cd "$1" && ls -- *.ran 2>/dev/null | sed 's/\.ran$//' | paste -sd ' ')
}

# The header: the load configuration resolves the static imports from the system folder
# (DependentLoadFlags, 0x800: Windows 10 1607 and later; Wine ignores it, the delay-loading
# covers it there), and the flags Voxmere.exe had before it: ASLR, above 4 GB too, and no
# execution of data.
planted_header() {  # EXE
  local header base config flags
  header=$("$objdump" -p "$1")
  base=$((16#$(awk '$1 == "ImageBase" { print $2 }' <<<"$header")))
  config=$(awk '$1 == "Entry" && $2 == "a" { print $3 }' <<<"$header")
  flags=" $(sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' <<<"$header" | awk 'NF == 1 { print $1 }' | paste -sd ' ') "
  if [[ $flags != *" DYNAMIC_BASE "* || $flags != *" HIGH_ENTROPY_VA "* || $flags != *" NX_COMPAT "* ]]; then
    fail "Voxmere.exe's header" "its DllCharacteristics are:$flags"
  elif [[ -z $config || $config =~ ^0+$ ]]; then
    fail "Voxmere.exe's header" "no load configuration directory"
  elif [[ $(image_bytes "$1" $((base + 16#$config + 0x4e)) 4) != 0008* ]]; then
    fail "Voxmere.exe's header" "the load configuration's DependentLoadFlags are not 0x800"
  else
    pass "Voxmere.exe's header:${flags% }; load configuration with DependentLoadFlags 0x800"
  fi
}

planted_voxmere() {  # ZIP
  local folder=$work/planted/Voxmere-$version-win64 names ran
  unzip -q "$1" -d "$work/planted"
  planted_header "$folder/Voxmere.exe"
  names=$(image_imports "$folder/Voxmere.exe" | plantable)
  if [[ -z $names ]]; then
    fail "DLLs planted beside Voxmere.exe" "it imports no DLL but known DLLs: the import tables were not read"
    return
  fi
  # shellcheck disable=SC2086
  plant "$folder" $names
  local name
  name="Voxmere.exe among planted $(paste -sd ' ' <<<"$names")"
  WINEDLLOVERRIDES=$planted_order take_by_keyboard "$name" "$folder" "$folder/Voxmere.exe"
  ran=$(planted_ran "$folder")
  [[ -z $ran ]] || fail "$name" "the planted $ran ran"
}

# The installer's stub is NSIS's: besides its imports it loads these DLLs by name as it starts
# (NSIS 3.08). Two it loads are left out, uxtheme.dll and version.dll: under Wine they are
# loaded before the stub's first instruction, the one by Wine's comctl32 as it starts, the other
# as an import of Wine's user32. On Windows user32 is a known DLL that imports neither, and the
# stub preloads uxtheme from the system folder before its controls need it.
nsis_loads=(userenv setupapi apphelp propsys dwmapi cryptbase oleacc clbcatq ntmarta riched20 riched32 shfolder)

planted_installer() {  # SETUP
  local folder=$work/planted-setup names ran installed="$c_drive/Program Files/Voxmere" status
  mkdir -p "$folder"
  cp "$1" "$folder/"
  names=$({ image_imports "$1" && printf '%s.dll\n' "${nsis_loads[@]}"; } | plantable)
  # shellcheck disable=SC2086
  plant "$folder" $names
  WINEDLLOVERRIDES=$planted_order run_bounded 120 "$folder/install.log" "$folder/$(basename "$1")" /S
  status=$?
  ran=$(planted_ran "$folder")
  if [[ -n $ran ]]; then
    fail "the installer among planted DLLs" "the planted $ran ran (status $status)"
  elif [[ $status != 0 || ! -f $installed/Voxmere.exe ]]; then
    fail "the installer among planted DLLs" "status $status, Voxmere.exe installed: $(ls "$installed" 2>&1 | tr '\n' ' ')"
  else
    pass "the installer among planted $(paste -sd ' ' <<<"$names"): installed Voxmere.exe"
  fi
}
