#!/usr/bin/env bash
# Builds the Debian package build-deb/quelltrine_<version>_<arch>.deb with
# dpkg-buildpackage and the rules in debian/. It builds from a copy of the
# working tree (the files git knows of, as they are now), so the tree and its
# build/ stay as they are. The package is checked by scripts/check-package.sh.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

./scripts/install-deps.sh --package

OUT="$ROOT/build-deb"
version=$(dpkg-parsechangelog -l debian/changelog -S Version)
src="$OUT/quelltrine-$version"
rm -rf "$OUT"
mkdir -p "$src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # Tracked and new files; not the ones deleted but not yet committed.
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [[ -e "$f" || -L "$f" ]] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$src"
else
  tar --exclude=./.git --exclude='./build*' -cf - . | tar -xf - -C "$src"
fi

echo "Building quelltrine $version (log: $OUT/build.log)"
status=0
(cd "$src" && DEB_BUILD_OPTIONS="noddebs ${DEB_BUILD_OPTIONS:-}" \
  dpkg-buildpackage -b -us -uc -j"$(nproc)") >"$OUT/build.log" 2>&1 || status=$?
if ((status != 0)); then
  tail -n 40 "$OUT/build.log" >&2
  echo "dpkg-buildpackage failed (status $status); the whole log is $OUT/build.log" >&2
  exit "$status"
fi
rm -rf "$src"
deb=$(ls "$OUT"/quelltrine_"$version"_*.deb)
echo "Built $deb"
echo "Install it with: sudo apt-get install $deb"
