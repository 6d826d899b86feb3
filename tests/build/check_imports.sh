#!/usr/bin/env bash
# Fails when a Windows program of the build imports a DLL that Windows itself does not ship
# (a MinGW runtime such as libstdc++-6.dll, libgcc_s_seh-1.dll or libwinpthread-1.dll).
set -euo pipefail
objdump=$1 build_dir=$2
allowed='^(kernel32|msvcrt|user32|gdi32|gdiplus|shell32|ole32|oleaut32|advapi32|winhttp|bcrypt|crypt32|shlwapi|comctl32|ws2_32|ntdll|version|uxtheme|dwmapi|imm32|shcore)\.dll$'
mapfile -t programs < <(find "$build_dir" -name '*.exe' -not -path '*/CMakeFiles/*' | sort)
if [ ${#programs[@]} -eq 0 ]; then
  echo "no .exe found under $build_dir" >&2
  exit 1
fi
status=0
for exe in "${programs[@]}"; do
  while read -r dll; do
    if ! [[ ${dll,,} =~ $allowed ]]; then
      echo "$exe imports $dll, which is not a system DLL" >&2
      status=1
    fi
  done < <("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
[ $status -eq 0 ] && echo "${#programs[@]} programs import only system DLLs"
exit $status
