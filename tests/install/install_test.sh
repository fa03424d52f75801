#!/usr/bin/env bash
# Installs a build into a temporary prefix as `cmake --install` does for a user or a package, then
# checks the tree: exactly the runtime files, the desktop entry and AppStream data valid and naming
# each other, the icon and manual pages in place, and both installed programs answering --version
# with the project's version on a machine without a display.
#
# install_test.sh CMAKE BUILD_DIR SOURCE_DIR VERSION APP_ID BINDIR DATADIR MANDIR
set -uo pipefail
cmake=$1 build=$2 source=$3 version=$4 app_id=$5 bindir=$6 datadir=$7 mandir=$8

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-install-test.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
# Under usr/ of a root of its own, so that appstreamcli can check the tree as a system would hold it.
root=$scratch/root
prefix=$root/usr

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

if ! "$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log" >&2
  echo "FAIL: cmake --install $build --prefix $prefix" >&2
  exit 1
fi

desktop=$datadir/applications/$app_id.desktop
metainfo=$datadir/metainfo/$app_id.metainfo.xml
icon=$datadir/icons/hicolor/scalable/apps/$app_id.svg

# Exactly these: anything more (a test program, a static library, a header) does not belong to
# an installed program.
expected=$(LC_ALL=C sort <<END
$bindir/velmora
$bindir/velmora-cli
$desktop
$metainfo
$icon
$mandir/man1/velmora.1.gz
$mandir/man1/velmora-cli.1.gz
$datadir/bash-completion/completions/velmora-cli
$datadir/doc/velmora/changelog.gz
$datadir/doc/velmora/copyright
END
)
installed=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
if [ "$installed" != "$expected" ]; then
  fail "the installed files differ from the expected ones (< expected, > installed):"
  diff <(echo "$expected") <(echo "$installed") >&2
fi

for program in velmora velmora-cli; do
  [ -x "$prefix/$bindir/$program" ] || fail "$bindir/$program is not an executable"
done
cmp -s "$source/ui/resources/velmora.svg" "$prefix/$icon" || fail "$icon is not the window's icon"
cmp -s "$source/LICENSE" "$prefix/$datadir/doc/velmora/copyright" || fail "the copyright file is not LICENSE"

# The desktop's own validators; their complaints are shown either way.
desktop-file-validate "$prefix/$desktop" >&2 || fail "desktop-file-validate $desktop"
appstreamcli validate --no-net "$prefix/$metainfo" >&2 || fail "appstreamcli validate $metainfo"
# The tree as a whole: the metainfo's launchable has to name the installed desktop entry.
appstreamcli validate-tree --no-net "$root" >&2 || fail "appstreamcli validate-tree"

# What the validators do not know: which names and version these files have to carry.
expect_line() {  # FILE LINE
  grep -qxF -- "$2" "$prefix/$1" || fail "$1 has no line \"$2\""
}
expect_line "$desktop" "Exec=velmora %f"
expect_line "$desktop" "Icon=$app_id"
grep -qF "<id>$app_id</id>" "$prefix/$metainfo" || fail "$metainfo: the id is not $app_id"
grep -qF "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$prefix/$metainfo" ||
  fail "$metainfo: the launchable is not $app_id.desktop"
# Software centres hide an application without an age rating; the validator does not insist.
grep -qF '<content_rating type="oars-1.1"' "$prefix/$metainfo" || fail "$metainfo: no OARS 1.1 content rating"
grep -qF "<release version=\"$version\" " "$prefix/$metainfo" ||
  fail "$metainfo: no release entry for version $version"
for page in velmora velmora-cli; do
  [[ $(gzip -dc "$prefix/$mandir/man1/$page.1.gz" | sed -n 1p) == *"\"Velmora $version\""* ]] ||
    fail "$page.1.gz is not the manual of version $version"
done

# The completion loads in bash and registers itself for the installed command.
bash -c 'source "$1" && complete -p velmora-cli' _ "$prefix/$datadir/bash-completion/completions/velmora-cli" \
  >/dev/null 2>&1 || fail "the bash completion does not register velmora-cli"

# Both programs from the installed tree, with no display of any kind.
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
expect_output() {  # EXPECTED PROGRAM ARGS...
  local expected=$1 output
  shift
  output=$("${no_display[@]}" "$prefix/$bindir/$1" "${@:2}" 2>"$scratch/stderr")
  local status=$?
  if [ $status -ne 0 ] || [ "$output" != "$expected" ]; then
    fail "$* printed \"$output\" with status $status, not \"$expected\""
    cat "$scratch/stderr" >&2
  fi
}
expect_output "velmora-cli $version" velmora-cli --version
expect_output "velmora $version" velmora --version

help=$("${no_display[@]}" "$prefix/$bindir/velmora" --help 2>&1) ||
  fail "velmora --help failed without a display: $help"
grep -q -- "--version" <<<"$help" || fail "velmora --help does not list --version: $help"

# And without a display the window is refused in words, not by a toolkit abort.
"${no_display[@]}" "$prefix/$bindir/velmora" >/dev/null 2>"$scratch/stderr"
status=$?
if [ $status -ne 1 ] || ! grep -q "no display" "$scratch/stderr"; then
  fail "velmora without a display exited with $status: $(cat "$scratch/stderr")"
fi

[ $failures -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "installed tree of Velmora $version checked"
