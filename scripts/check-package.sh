#!/usr/bin/env bash
# Checks the Debian package as a user meets it, on this machine. It installs
# into /usr and /usr/local and removes again, so it wants root (or sudo) and
# a machine where Quelltrine is not installed yet; CI runs it after
# scripts/package.sh.
#   - lintian reports no error;
#   - the package holds the files of tests/install/installed-files.txt under
#     /usr (man pages compressed), its copyright and changelog, nothing else;
#     its dependencies were computed from the binaries;
#   - `apt-get install ./quelltrine_*.deb` gives a saver whose installed
#     render-png draws the installed demo pictures, also through the link
#     xscreensaver runs, and whose manual page `man quelltrine` finds;
#   - `apt-get remove` leaves nothing of it behind;
#   - `cmake --install build` to /usr/local, then removing the files its
#     install_manifest.txt lists, leaves nothing behind either.
# Prints each check and a closing count; exits 1 when a check failed.
#   scripts/check-package.sh [DEB]      default: build-deb/quelltrine_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh --package

shopt -s nullglob
debs=("${1:-}")
[[ -n "${1:-}" ]] || debs=(build-deb/quelltrine_*.deb)
shopt -u nullglob
if ((${#debs[@]} != 1)) || [[ ! -f "${debs[0]}" ]]; then
  echo "check-package: no single package to check (${debs[*]:-none}); run scripts/package.sh first" >&2
  exit 2
fi
DEB=$(realpath "${debs[0]}")

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

if dpkg-query -W -f='${db:Status-Status}' quelltrine 2>/dev/null | grep -qx 'installed'; then
  echo "check-package: quelltrine is installed on this machine already; remove it first" >&2
  exit 2
fi
if [[ -n "$(find /usr/local -name '*quelltrine*' -print -quit)" ]]; then
  echo "check-package: /usr/local holds an install of Quelltrine already; remove it first" >&2
  exit 2
fi

work=$(mktemp -d)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
# check DESCRIPTION COMMAND...: runs the command, counts and reports it.
check() {
  local what=$1
  shift
  if "$@" >"$work/check.log" 2>&1; then
    passed=$((passed + 1))
    echo "ok      $what"
  else
    failed=$((failed + 1))
    echo "FAILED  $what"
    sed 's/^/        /' "$work/check.log" | tail -n 30
  fi
}
# Fails the check with the differences when two sorted lists differ.
same_lists() { diff -u "$1" "$2"; }
nothing_listed_exists() {
  local left=0
  while IFS= read -r f; do
    [[ -z "$f" ]] && continue
    if [[ -L "$f" || (-e "$f" && ! -d "$f") ]]; then
      echo "left behind: $f"
      left=1
    fi
  done <"$1"
  return "$left"
}
no_quelltrine_below() {
  local found
  found=$(find "$@" -name '*quelltrine*' 2>/dev/null || true)
  [[ -z "$found" ]] || { echo "left behind:"; echo "$found"; return 1; }
}

# A render of the installed demo pictures: the frame shows them (a frame
# without pictures is nearly one colour).
renders_pictures() {
  local program=$1 samples=$2 png="$work/frame-$RANDOM.png"
  local env=(env -u DISPLAY -u QUELLTRINE_BUNDLE LIBGL_ALWAYS_SOFTWARE=1 HOME="$work/home"
    XDG_CONFIG_HOME="$work/config")
  mkdir -p "$work/home"
  "${env[@]}" "$program" defaults write imageFolder "$samples" || return 1
  "${env[@]}" "$program" render-png "$png" --frames 30 || return 1
  local size spread
  size=$(identify -format '%wx%h' "$png") || return 1
  spread=$(identify -format '%[fx:standard_deviation]' "$png") || return 1
  echo "$png: $size, standard deviation $spread"
  [[ "$size" == 1280x800 ]] && awk -v s="$spread" 'BEGIN { exit !(s > 0.1) }'
}

echo "== lintian $(basename "$DEB")"
lintian_status=0
lintian --fail-on error --display-info "$DEB" 2>&1 | grep -v 'running with root privileges' | tee "$work/lintian.txt" ||
  lintian_status=${PIPESTATUS[0]}
[[ -s "$work/lintian.txt" ]] || echo "(no tags)"
check "lintian reports no error" test "$lintian_status" -eq 0

echo "== contents"
grep -v '^#' tests/install/installed-files.txt | sed '/^$/d; s|^|/usr/|; s|^\(/usr/share/man/.*\)$|\1.gz|' |
  { cat; printf '/usr/share/doc/quelltrine/%s\n' copyright changelog.gz; } | sort >"$work/expected"
dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort >"$work/packaged"
check "the package holds every installed file and nothing else" same_lists "$work/expected" "$work/packaged"
check "dependencies computed from the binaries" grep -q 'libgtk-3-0' <(dpkg-deb -f "$DEB" Depends)
check "recommends xscreensaver" grep -qw 'xscreensaver' <(dpkg-deb -f "$DEB" Recommends)
check "recommends xscreensaver-gl" grep -qw 'xscreensaver-gl' <(dpkg-deb -f "$DEB" Recommends)

echo "== apt-get install"
$SUDO apt-get install -y -qq "$DEB" >"$work/apt-install.log" 2>&1 || { cat "$work/apt-install.log"; exit 1; }
dpkg -L quelltrine | sort >"$work/installed"
check "installed" test "$(dpkg-query -W -f='${db:Status-Status}' quelltrine)" = installed
check "quelltrine-saver is /usr/bin/quelltrine-saver" test "$(command -v quelltrine-saver)" = /usr/bin/quelltrine-saver
check "the installed render-png draws the installed demo pictures" \
  renders_pictures /usr/bin/quelltrine-saver /usr/share/quelltrine/samples
check "so does the link xscreensaver runs" \
  renders_pictures /usr/libexec/xscreensaver/quelltrine /usr/share/quelltrine/samples
check "man quelltrine finds the page" man -w quelltrine
check "man quelltrine-saver finds the page" man -w quelltrine-saver
check "the desktop entry is valid" desktop-file-validate /usr/share/applications/quelltrine-saver.desktop
check "xscreensaver's settings entry is there" test -f /usr/share/xscreensaver/config/quelltrine.xml

echo "== apt-get remove"
$SUDO apt-get remove -y -qq quelltrine >"$work/apt-remove.log" 2>&1 || { cat "$work/apt-remove.log"; exit 1; }
check "removed" test "$(dpkg-query -W -f='${db:Status-Status}' quelltrine 2>/dev/null || true)" != installed
check "none of the package's files is left" nothing_listed_exists "$work/installed"
check "nothing named quelltrine is left in /usr" no_quelltrine_below /usr

echo "== cmake --install build --prefix /usr/local, then removing its manifest's files"
[[ -f build/build.ninja ]] || cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
find /usr/local | sort >"$work/before"
$SUDO cmake --install build --prefix /usr/local >"$work/cmake-install.log"
cp build/install_manifest.txt "$work/manifest"
echo >>"$work/manifest"
check "the link in /usr/local renders the demo pictures" \
  renders_pictures /usr/local/libexec/xscreensaver/quelltrine /usr/local/share/quelltrine/samples
xargs -d '\n' -r $SUDO rm -f -- <"$work/manifest"
check "none of the manifest's files is left" nothing_listed_exists "$work/manifest"
# What is left beyond what was there before may only be empty folders the
# install made; they are removed too, deepest first.
find /usr/local | sort >"$work/after"
comm -13 "$work/before" "$work/after" | sort -r >"$work/new"
only_empty_folders() {
  while IFS= read -r f; do
    [[ -d "$f" && ! -L "$f" ]] || { echo "left behind: $f"; return 1; }
  done <"$work/new"
}
check "only empty folders are left in /usr/local" only_empty_folders
while IFS= read -r f; do
  if [[ -d "$f" ]]; then $SUDO rmdir -- "$f" 2>/dev/null || true; fi
done <"$work/new"
find /usr/local | sort >"$work/after"
check "/usr/local is as it was before" same_lists "$work/before" "$work/after"

echo "check-package: $passed passed, $failed failed"
((failed == 0))
