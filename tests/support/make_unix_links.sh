#!/bin/sh
# Folders holding Unix symbolic links to folders, for the housekeeping and package-search tests:
# Wine 8 cannot make a directory link (CreateSymbolicLinkW does nothing there), but lists one made
# on the Linux side as a folder with a reparse point. One scene per test that uses one:
#   <dir>/<scene>/fuera/importante.MDB                                  what must survive
#   <dir>/<scene>/programa/actualizaciones/251206_093015/enlace -> fuera  a link inside a leftover
#   <dir>/<scene>/programa/actualizaciones/enlace -> fuera                a leftover that is a link
set -eu
dir="${1:?usage: make_unix_links.sh DIR}"
rm -rf "$dir"  # removes links, never what they point at
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)  # the links hold absolute paths
for scene in unidad entrada paquete; do
  base="$dir/$scene"
  mkdir -p "$base/fuera" "$base/programa/actualizaciones/251206_093015"
  printf 'keep me' >"$base/fuera/importante.MDB"
  ln -s "$base/fuera" "$base/programa/actualizaciones/251206_093015/enlace"
  ln -s "$base/fuera" "$base/programa/actualizaciones/enlace"
done

# A drive whose root is a folder of its own, for a program at a drive root: q: in the bench's
# throwaway prefix, made only when the letter is free or already this one.
root="$dir/raiz_de_unidad"
mkdir -p "$root/otra"
printf 'q' >"$root/unidad_de_prueba"
if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ]; then
  link="$WINEPREFIX/dosdevices/q:"
  if { [ ! -e "$link" ] && [ ! -L "$link" ]; } || [ "$(readlink "$link")" = "$root" ]; then
    ln -sfn "$root" "$link"
  fi
fi
