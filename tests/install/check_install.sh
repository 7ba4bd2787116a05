#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a user gets: the
# programs, the desktop entry and its icon, the manual pages, the samples and
# the licence.
#   check_install.sh CMAKE BUILD_DIR SOURCE_DIR window|nowindow
set -euo pipefail
cmake="$1" build="$2" source="$3" window="$4"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/usr"
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
need() { [ -f "$prefix/$1" ] || fail "$1 is not installed"; }

need bin/mkptool
[ -x "$prefix/bin/mkptool" ] || fail "bin/mkptool is not executable"
need share/man/man1/mkptool.1.gz

# Wireshark's files: the dissector as in the sources, and the extcap launcher,
# executable, running an installed mkptool.
dissector="$(find "$prefix" -path '*/wireshark/plugins/mkp.lua' | head -n 1)"
if [ -z "$dissector" ]; then
  fail "the Wireshark dissector mkp.lua is not installed"
elif ! cmp -s "$dissector" "$source/data/wireshark/mkp.lua"; then
  fail "${dissector#"$prefix"/} differs from data/wireshark/mkp.lua"
fi
launcher="$(find "$prefix" -path '*/wireshark/extcap/mkptool-extcap' | head -n 1)"
if [ -z "$launcher" ]; then
  fail "the extcap launcher mkptool-extcap is not installed"
else
  [ -x "$launcher" ] || fail "${launcher#"$prefix"/} is not executable"
  grep -q "/bin/mkptool' extcap \"\$@\"" "$launcher" || fail "${launcher#"$prefix"/} does not run mkptool extcap"
fi

# Every sample file, unchanged.
count=0
for f in "$source"/examples/*; do
  name="${f##*/}"
  if cmp -s "$f" "$prefix/share/mkpt/examples/$name"; then
    count=$((count + 1))
  else
    fail "share/mkpt/examples/$name is missing or differs from examples/$name"
  fi
done
[ "$count" -gt 0 ] || fail "no sample files installed"

# The licence in Debian's machine-readable copyright format: the header, one
# paragraph for every file, and the text of LICENSE as its licence.
copyright="$prefix/share/doc/mkpt/copyright"
need share/doc/mkpt/copyright
if [ -f "$copyright" ]; then
  [ "$(head -n 1 "$copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
    fail "copyright does not start with the Format line of the machine-readable format"
  for field in "Upstream-Name: mkpt" "Files: *" "Copyright: 2026 The mkpt developers" "License: Expat"; do
    grep -qxF "$field" "$copyright" || fail "copyright has no line '$field'"
  done
  # Continuation lines start with a blank; an empty line of the text is " .".
  sed -n '/^License:/,$p' "$copyright" | tail -n +2 | grep -qv '^ ' && fail "copyright: a licence line is not indented"
  body="$(sed -n '/^License:/,$p' "$copyright" | tail -n +2 | sed -e 's/^ //' -e 's/^\.$//')"
  [ "$body" = "$(sed -n '/^Permission is hereby granted/,$p' "$source/LICENSE")" ] ||
    fail "the licence text of copyright differs from LICENSE"
fi
grep -qxF "Copyright (c) 2026 The mkpt developers" "$source/LICENSE" || fail "LICENSE names no copyright holder"

# mkptool's page describes every command that mkptool lists.
page="$(gzip -dc "$prefix/share/man/man1/mkptool.1.gz")"
commands="$("$prefix/bin/mkptool" --help | sed -n 's/^  \([a-z][a-z0-9_-]*\) .*/\1/p')"
[ -n "$commands" ] || fail "mkptool --help lists no commands"
for c in $commands; do
  grep -qxF ".SS ${c//-/\\-}" <<<"$page" || fail "mkptool.1 has no section for the command $c"
done

pages=(mkptool.1.gz)
if [ "$window" = window ]; then
  need bin/mkpt
  need share/applications/mkpt.desktop
  need share/icons/hicolor/scalable/apps/mkpt.svg
  need share/man/man1/mkpt.1.gz
  pages+=(mkpt.1.gz)
  entry="$prefix/share/applications/mkpt.desktop"
  if [ -f "$entry" ]; then
    if command -v desktop-file-validate >/dev/null; then
      desktop-file-validate "$entry" || fail "desktop-file-validate rejects mkpt.desktop"
    else
      echo "desktop-file-validate is missing (package desktop-file-utils): not validating mkpt.desktop"
    fi
    # The entry starts the installed program and names the installed icon.
    exec_cmd="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")"
    [ -x "$prefix/bin/$exec_cmd" ] || fail "Exec=$exec_cmd is no installed program"
    icon="$(sed -n 's/^Icon=//p' "$entry")"
    [ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon has no installed icon"
  fi
  if gzip -dc "$prefix/share/man/man1/mkpt.1.gz" 2>/dev/null | grep -q '@[A-Z_]*@'; then
    fail "mkpt.1 holds an unreplaced @VARIABLE@"
  fi
fi

# The pages format without a warning.
if command -v groff >/dev/null; then
  for p in "${pages[@]}"; do
    [ -f "$prefix/share/man/man1/$p" ] || continue
    warnings="$(gzip -dc "$prefix/share/man/man1/$p" | groff -man -Tutf8 -ww -z 2>&1)"
    [ -z "$warnings" ] || fail "$p: groff warns: $warnings"
  done
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed; cmake --install said:"
  cat "$work/install.log"
  exit 1
fi
echo "installed tree OK (${#pages[@]} manual pages, $count sample files, commands: $(echo $commands))"
