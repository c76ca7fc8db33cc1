#!/usr/bin/env bash
# Checks the packages of scripts/package.sh as a user meets them (run as root, after package.sh
# and a build of the windows preset, whose test helpers drive the Windows programs):
#   - the .deb: dpkg -i; the installed vesperlin-cli names the process holding a file and shows
#     the package's version; man -w finds its page; the bash completion completes its options;
#     dpkg -r takes every file away again;
#   - the zip: unpacked into an empty folder, it holds exactly what it should; from there under
#     Wine vesperlin-cli.exe names the process holding a file and shows the version, and
#     vesperlin.exe answers its start-up query in its window, read from outside, in English and
#     in German (which only Vesperlin407.dll beside it can give).
# A file missing from a package, or one that does not work from where it was installed, fails.
#   scripts/check-packages.sh [windows] [linux]      (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

platforms=("$@")
[ ${#platforms[@]} -gt 0 ] || platforms=(windows linux)
version=$(sed -n 's/^project(Vesperlin VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
packages=$root/build/packages
work=$(mktemp -d /tmp/vesperlin-packages.XXXXXX)
pids=()
installed=false
prefix=""
faults=0

cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if $installed; then dpkg -r vesperlin-cli >/dev/null 2>&1 || true; fi
    if [ -n "$prefix" ]; then "$root/tests/wine-stop.sh" --prefix "$prefix" || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

pass() { echo "  ok: $*"; }
fail() {
    echo "  FAILED: $*" >&2
    faults=$((faults + 1))
}
# expect WHAT EXPECTED ACTUAL
expect() {
    if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: expected '$2', got '$3'"; fi
}

# complete_line COMPLETION WORD...: what bash offers for the last word when the user presses
# Tab, in the folder $work/completion, as one line.
complete_line() {
    (cd "$work/completion" && bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"
        shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        _vesperlin_cli vesperlin-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' _ "$@")
}

check_deb() {
    local deb=$packages/vesperlin-cli_${version}_amd64.deb
    echo "== $(basename "$deb")"
    [ -f "$deb" ] || { fail "$deb is missing (run scripts/package.sh linux)"; return; }
    if [ "$(id -u)" -ne 0 ]; then
        fail "installing the .deb needs root"
        return
    fi
    if dpkg-query -W -f='${Status}' vesperlin-cli 2>/dev/null | grep -q "install ok installed"; then
        fail "vesperlin-cli is installed already: remove it first (dpkg -r vesperlin-cli)"
        return
    fi
    dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { fail "dpkg -i: $(cat "$work/dpkg.log")"; return; }
    installed=true
    pass "dpkg -i"

    expect "installed at /usr/bin/vesperlin-cli" /usr/bin/vesperlin-cli "$(command -v vesperlin-cli)"
    expect "--version" "vesperlin-cli $version" "$(vesperlin-cli --version 2>&1)"

    echo "quarterly figures" >"$work/report.txt"
    (exec 3<"$work/report.txt"; exec sleep 300) &
    local holder=$!
    pids+=("$holder")
    # The holder has the file open once its sleep runs.
    for _ in $(seq 50); do
        [ "$(readlink "/proc/$holder/fd/3" 2>/dev/null)" = "$work/report.txt" ] && break
        sleep 0.1
    done
    local line
    line=$(printf '%d  sleep' "$holder")
    if vesperlin-cli "$work/report.txt" >"$work/cli.out" 2>&1 && grep -qxF "$line" "$work/cli.out"; then
        pass "names the process holding a file ($line)"
    else
        fail "vesperlin-cli on a held file: expected the line '$line', got: $(cat "$work/cli.out")"
    fi
    kill "$holder" 2>/dev/null || true

    expect "man -w vesperlin-cli" /usr/share/man/man1/vesperlin-cli.1.gz "$(man -w vesperlin-cli 2>&1)"
    if man vesperlin-cli >"$work/man.out" 2>&1 && grep -q vesperlin-cli "$work/man.out"; then
        pass "the man page reads"
    else
        fail "man vesperlin-cli shows nothing"
    fi
    if [ -f /usr/share/doc/vesperlin-cli/copyright ]; then
        pass "copyright"
    else
        fail "no /usr/share/doc/vesperlin-cli/copyright"
    fi

    # The completion as bash runs it when the user presses Tab.
    local completion=/usr/share/bash-completion/completions/vesperlin-cli
    if [ ! -f "$completion" ]; then
        fail "no $completion"
    elif [ ! -f /usr/share/bash-completion/bash_completion ]; then
        fail "bash-completion is not installed: the completion cannot be tried"
    else
        mkdir -p "$work/completion" && touch "$work/completion/reply.txt"
        expect "completes an option" "--json " "$(complete_line "$completion" vesperlin-cli -l --js)"
        expect "completes a path" "reply.txt " "$(complete_line "$completion" vesperlin-cli re)"
    fi

    dpkg -r vesperlin-cli >"$work/dpkg.log" 2>&1 || fail "dpkg -r: $(cat "$work/dpkg.log")"
    installed=false
    local left=""
    for file in /usr/bin/vesperlin-cli /usr/share/man/man1/vesperlin-cli.1.gz "$completion" \
        /usr/share/doc/vesperlin-cli; do
        [ -e "$file" ] && left+=" $file"
    done
    if [ -z "$left" ]; then
        pass "dpkg -r removes every file"
    else
        fail "left after dpkg -r:$left"
    fi
}

# The Windows form of a Linux path, as Wine's Z: drive shows it.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

check_zip() {
    local name=vesperlin-$version-win64
    local zip=$packages/$name.zip
    echo "== $(basename "$zip")"
    [ -f "$zip" ] || { fail "$zip is missing (run scripts/package.sh windows)"; return; }
    local tests=$root/build/windows
    for helper in vesperlin-holder.exe e2e_app.exe; do
        [ -f "$tests/$helper" ] || { fail "$tests/$helper is missing (scripts/build.sh windows)"; return; }
    done

    mkdir "$work/unpacked"
    unzip -q "$zip" -d "$work/unpacked" || { fail "unzip"; return; }
    local listed expected
    listed=$(cd "$work/unpacked" && find . -mindepth 1 | sort | tr '\n' ' ')
    expected=""
    for entry in "" /LICENSE.txt /README.md /Vesperlin407.dll /vesperlin-cli.exe /vesperlin.exe; do
        expected+="./$name$entry "
    done
    expect "the zip's files" "$expected" "$listed"
    local folder=$work/unpacked/$name
    [ -d "$folder" ] || return

    # The version resource's texts are UTF-16: FileVersion and ProductVersion "x.y.z.0".
    local binary
    for binary in vesperlin.exe Vesperlin407.dll; do
        if strings -el "$folder/$binary" | grep -c -xF "$version.0" >/dev/null; then
            pass "$binary carries version $version.0"
        else
            fail "$binary: no version $version.0 in its version resource"
        fi
    done

    prefix=$tests/wineprefix
    # shellcheck source=tests/wine-env.sh
    . "$root/tests/wine-env.sh"
    vesperlin_wine_env "$prefix" || { fail "cannot prepare the Wine prefix $prefix"; return; }
    local run=("$root/tests/wine-run.sh" --prefix "$prefix")

    "${run[@]}" "$folder/vesperlin-cli.exe" --version >"$work/version.out" 2>&1 || true
    expect "vesperlin-cli.exe --version" "vesperlin-cli $version" "$(tr -d '\r' <"$work/version.out")"

    echo "quarterly figures" >"$work/held.txt"
    wine "$tests/vesperlin-holder.exe" --ready "$(windows_path "$work/ready.txt")" \
        --file "$(windows_path "$work/held.txt")" </dev/null >"$work/holder.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 150); do
        [ -s "$work/ready.txt" ] && break
        sleep 0.1
    done
    if [ ! -s "$work/ready.txt" ]; then
        fail "the holder did not get ready: $(cat "$work/holder.out")"
        return
    fi
    local line
    line=$(printf '%d  vesperlin-holder.exe' "$(tr -d '\r\n' <"$work/ready.txt")")
    "${run[@]}" "$folder/vesperlin-cli.exe" "$(windows_path "$work/held.txt")" >"$work/cli.out" 2>&1 || true
    if tr -d '\r' <"$work/cli.out" | grep -qxF "$line"; then
        pass "vesperlin-cli.exe names the process holding a file ($line)"
    else
        fail "vesperlin-cli.exe on a held file: expected the line '$line', got: $(cat "$work/cli.out")"
    fi

    # The desktop program's own end-to-end cases, run against the unpacked program: one start-up
    # query each, its list read from outside the program.
    local case
    for case in "Program.ListsTheProcessHoldingThePathGivenOnTheCommandLine" "ProgramInGerman.*"; do
        local environment=(VESPERLIN_PROGRAM_FOLDER="$(windows_path "$folder")")
        [ "$case" = "ProgramInGerman.*" ] && environment+=(LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8)
        env "${environment[@]}" "${run[@]}" "$tests/e2e_app.exe" --gtest_filter="$case" \
            >"$work/app.out" 2>&1 || true
        # A filter that finds nothing passes too: the case must have run and passed.
        if grep -q '^\[  PASSED  \] 1 test' "$work/app.out" && ! grep -q '^\[  SKIPPED \]' "$work/app.out"; then
            pass "vesperlin.exe: $case"
        else
            fail "vesperlin.exe: $case: $(cat "$work/app.out")"
        fi
    done
}

for platform in "${platforms[@]}"; do
    case $platform in
        windows) check_zip ;;
        linux) check_deb ;;
        *)
            echo "check-packages.sh: unknown platform '$platform' (windows or linux)" >&2
            exit 2
            ;;
    esac
done
if [ "$faults" -gt 0 ]; then
    echo "check-packages: $faults checks failed" >&2
    exit 1
fi
echo "check-packages: every check passed"
