# The Windows package, made by CPack as scripts/package.sh makes it and unzipped into an empty
# folder, starts under Wine and connects to a local chat server.
source "$(dirname "${BASH_SOURCE[0]}")/../../irc_server.sh"
: "${LUMO_BUILD_DIR:?run_e2e: the package case needs LUMO_BUILD_DIR}"

cpack --config "$LUMO_BUILD_DIR/CPackConfig.cmake" -G ZIP -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
zip=$(echo "$work"/cpack/lumo-*-win64.zip)
[[ -f "$zip" ]] || { echo "run_e2e: no package made" >&2; cat "$work/cpack.log" >&2; exit 1; }
mkdir "$work/unzipped"
(cd "$work/unzipped" && cmake -E tar xf "$zip")

# One top folder, named like the package, with everything the program needs beside it.
top="$work/unzipped/$(basename "$zip" .zip)"
[[ "$(ls "$work/unzipped")" == "$(basename "$top")" ]] ||
  { echo "run_e2e: the package has more than one top folder: $(ls "$work/unzipped")" >&2; exit 1; }
for file in lumo.exe main.lum utf8.dll; do
  [[ -f "$top/$file" ]] || { echo "run_e2e: $file is not in the package" >&2; exit 1; }
done
source_docs="$(dirname "${BASH_SOURCE[0]}")/../../../../docs"
if [[ -d "$source_docs" && ! -d "$top/docs" ]]; then
  echo "run_e2e: docs/ is not in the package" >&2
  exit 1
fi
(cd "$top" && find . -type f | sort) >"$artefacts/package-contents.txt"
start_exe="$top/lumo.exe"

start_irc_server
set_setting "$top/main.lum" server '"127.0.0.1"'
set_setting "$top/main.lum" port "$irc_port"
set_setting "$top/main.lum" encoding '"utf8"'
set_setting "$top/main.lum" nick '"lumo"'
set_setting "$top/main.lum" channels '"#lumo"'

# Nothing beyond Windows' own libraries: the compiler's runtime is linked in, not shipped beside.
for file in lumo.exe utf8.dll; do
  imports=$(x86_64-w64-mingw32-objdump -p "$top/$file" | sed -n 's/^\tDLL Name: //p')
  [[ -n "$imports" ]] || { echo "run_e2e: no imports read from $file" >&2; exit 1; }
  if grep -iE 'libstdc|libgcc|winpthread' <<<"$imports"; then
    echo "run_e2e: $file needs a compiler runtime DLL" >&2
    exit 1
  fi
done
