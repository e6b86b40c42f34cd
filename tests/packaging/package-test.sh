#!/usr/bin/env bash
# Builds the Debian package from the build tree, unpacks it into an empty root, runs the
# programs from there and has lintian and appstreamcli judge it; any lintian error fails.
#   package-test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
skip() {
  echo "package-test: $1"
  [[ ${VELMARIC_NO_SKIP:-0} != 0 ]] && exit 1
  exit 77
}
for tool in cpack dpkg-deb dpkg-shlibdeps lintian appstreamcli; do
  command -v "$tool" >/dev/null || skip "$tool is missing (packages dpkg-dev, lintian, appstream)"
done
fail() { echo "package-test: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/velmaric-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$work/out/velmaric_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no $(basename "$deb") among: $(ls "$work/out")"
dpkg-deb -I "$deb" control

# Library dependencies were worked out from the binaries.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6core6 libqt6webenginewidgets6 libcurl4; do
  [[ $depends == *"$library ("* ]] || fail "Depends lacks $library: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
for file in bin/velmaric bin/velmaric-cli bin/velmaric-ftp bin/velmaric-play \
  share/applications/velmaric.desktop share/icons/hicolor/scalable/apps/velmaric.svg \
  share/metainfo/org.velmaric.Velmaric.metainfo.xml share/man/man1/velmaric-cli.1.gz \
  share/doc/velmaric/copyright share/doc/velmaric/changelog.gz; do
  [[ -e $root/usr/$file ]] || fail "the package lacks /usr/$file"
done
# A new version needs its changelog entry and its AppStream release.
zcat "$root/usr/share/doc/velmaric/changelog.gz" | head -n1 | grep -qF "velmaric ($version)" ||
  fail "packaging/changelog has no entry for $version at its top"
metainfo=$root/usr/share/metainfo/org.velmaric.Velmaric.metainfo.xml
grep -qF "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"
[[ $("$root/usr/bin/velmaric-cli" --version) == "velmaric-cli $version" ]] ||
  fail "velmaric-cli --version from the unpacked package printed something else"
# The commands that hand over find their companions beside the unpacked velmaric-cli (when one
# is missing, velmaric-cli says "can't run" and exits with 1).
status=0
"$root/usr/bin/velmaric-cli" ftp -h 2>"$work/ftp.err" || status=$?
[[ $status -ne 1 ]] && ! grep -q "can't run" "$work/ftp.err" ||
  fail "velmaric-cli ftp did not reach velmaric-ftp: $(cat "$work/ftp.err")"
"$root/usr/bin/velmaric-cli" play -h >/dev/null ||
  fail "velmaric-cli play did not reach velmaric-play"

appstreamcli validate --no-net "$metainfo"

args=(--tag-display-limit 0)
[[ $(id -u) -ne 0 ]] || args+=(--allow-root)
status=0
lintian "${args[@]}" "$deb" >"$work/lintian.log" 2>&1 || status=$?
cat "$work/lintian.log"
! grep -q '^E: ' "$work/lintian.log" || fail "lintian reports errors"
[[ $status -eq 0 ]] || fail "lintian failed with status $status"
echo "package-test: $(basename "$deb") passes"
