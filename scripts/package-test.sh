#!/usr/bin/env bash
# Builds the Debian package and tests it as a user would meet it: checks its
# desktop entry, AppStream metadata and lintian's verdict, installs it with
# apt-get, runs the installed programs (a command-line batch against the
# installed quillmarsh-sim, the desktop program through its menu entry on a
# virtual display), then purges it and checks that nothing of it is left.
# Needs root (or sudo) for apt-get; replaces an installed quillmarsh.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

fail() {
    echo "package-test: $*" >&2
    exit 1
}

package_files=$(scripts/package.sh)
deb=$(realpath "$(grep '\.deb$' <<<"$package_files")")
tarball=$(grep '\.tar\.gz$' <<<"$package_files")
version=$(dpkg-deb -f "$deb" Version)
echo "package-test: $deb ($version), $tarball"
tar -tzf "$tarball" | grep -x "quillmarsh-$version/CMakeLists.txt" >/dev/null || fail "the source tarball lacks CMakeLists.txt"

work=$(mktemp -d)
program_pid=
cleanup() {
    [ -z "$program_pid" ] || kill "$program_pid" 2>/dev/null || true
    stop_simulator
    rm -rf "$work"
}
source scripts/simulator.sh
trap cleanup EXIT

# The files as they will be installed.
dpkg-deb -x "$deb" "$work/root"
desktop_entry=$(echo "$work"/root/usr/share/applications/*.desktop)
metainfo=$(echo "$work"/root/usr/share/metainfo/*.metainfo.xml)
desktop-file-validate "$desktop_entry"
appstreamcli validate --no-net "$metainfo"
# The version appears in three places; they must agree.
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo's releases lack $version"
[[ $(zcat "$work/root/usr/share/doc/quillmarsh/changelog.gz") == "quillmarsh ($version) "* ]] ||
    fail "the changelog's first entry is not $version"
lintian --fail-on error,warning "$deb"

installed() {
    [[ $(dpkg-query -W -f='${Status}' quillmarsh 2>/dev/null) == *"ok installed" ]]
}
if installed; then
    echo "package-test: purging the quillmarsh installed before" >&2
    $sudo apt-get purge -y -qq quillmarsh >/dev/null
fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$deb" >/dev/null
installed_files=$(dpkg -L quillmarsh)

for program in quillmarsh quillmarsh-cli quillmarsh-sim; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not installed in /usr/bin"
    # --version works without a display, the desktop program's too.
    shown=$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --version)
    grep -qx "[A-Za-z-]* $version" <<<"$shown" || fail "$program --version says: $shown"
done
echo "package-test: $(quillmarsh-cli --version)"

# The bash completion reads commands and options from the program's help.
completions() {
    bash -c 'source /usr/share/bash-completion/bash_completion
             source /usr/share/bash-completion/completions/quillmarsh-cli
             COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
             _quillmarsh_cli quillmarsh-cli "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
             echo "${COMPREPLY[*]}"' completions "$@"
}
[ "$(completions quillmarsh-cli q)" = "query" ] || fail "no completion for the query command"
[ "$(completions quillmarsh-cli query --so)" = "--sort" ] || fail "no completion for --sort"
[ "$(completions quillmarsh-cli query --sort '')" = "count sales price" ] || fail "no completion for --sort's values"

# A command-line batch against the installed simulator.
start_simulator /usr/bin/quillmarsh-sim --graph-size 20
trap cleanup EXIT
QUILLMARSH_DATA_DIR=$work/data QUILLMARSH_PASSWORD=demo \
    quillmarsh-cli query --user demo --sort sales --csv "$work/table.csv" 连衣裙 2>/dev/null
rows=$(($(wc -l <"$work/table.csv") - 1))
((rows > 0)) || fail "the batch made no rows"
[[ $(iconv -f GBK -t UTF-8 "$work/table.csv") == *连衣裙* ]] || fail "the table does not hold the seed"
echo "package-test: the installed quillmarsh-cli made $rows rows from the installed quillmarsh-sim"
# The spreadsheet library is loaded only when a workbook is written: the
# package's dependencies must bring it.
QUILLMARSH_DATA_DIR=$work/data quillmarsh-cli export 1 --format xlsx --out "$work/table.xlsx" ||
    fail "the recorded run could not be exported as a workbook"
unzip -l "$work/table.xlsx" | grep -q 'xl/worksheets/sheet1.xml' || fail "the workbook has no sheet"
echo "package-test: the recorded run was exported as a workbook"

# The desktop program, started as the menu starts it: the Exec line of its
# entry (without field codes), for a user who has no data folder yet.
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/"$(basename "$desktop_entry")" | sed 's/ %[a-zA-Z]//g')
export HOME=$work/home
mkdir "$HOME"
unset XDG_DATA_HOME QUILLMARSH_DATA_DIR
# Runs on the virtual display: starts the program, waits (bounded) for the
# login window and prints the program's pid and working folder.
cat >"$work/menu-start.sh" <<'SCRIPT'
set -u
$1 >"$HOME/program.log" 2>&1 &
pid=$!
for _ in $(seq 100); do
    if xdotool search --name '用户登录' >/dev/null 2>&1; then
        echo "$pid $(readlink "/proc/$pid/cwd")"
        kill "$pid"
        wait "$pid" 2>/dev/null
        exit 0
    fi
    sleep 0.2
done
kill "$pid" 2>/dev/null
cat "$HOME/program.log" >&2
exit 1
SCRIPT
started_as=$(xvfb-run -a bash "$work/menu-start.sh" "$exec_line") || fail "no login window from: $exec_line"
data_folder=$HOME/.local/share/Quillmarsh
[ -d "$data_folder" ] || fail "the menu start did not create $data_folder"
[ "${started_as#* }" = "$data_folder" ] || fail "the program worked in ${started_as#* }, not in $data_folder"
echo "package-test: the menu entry opened the login window, working in ~/.local/share/Quillmarsh"

DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq quillmarsh >/dev/null
! installed || fail "quillmarsh is still installed"
# Every file is gone, and every folder of its own.
while read -r path; do
    if [ -e "$path" ] && { [ ! -d "$path" ] || [[ $path == *quillmarsh* ]]; }; then
        fail "$path is left after the purge"
    fi
done <<<"$installed_files"
echo "package-test: purged, nothing left; $((SECONDS - started)) s"
