#!/usr/bin/env bash
# Builds the release presets and makes the packages people install, in build/packages/:
#   vesperlin-VERSION-win64.zip         vesperlin.exe, vesperlin-cli.exe, Vesperlin407.dll,
#                                       README.md, LICENSE.txt
#   vesperlin-cli_VERSION_amd64.deb     vesperlin-cli, its man page, copyright, changelog and
#                                       bash completion
# then prints the size of every program and package and fails when one is over its goal
# (each program 1 MB, the zip 1 MB), and checks the .deb with dpkg-deb and lintian.
#   scripts/package.sh [windows] [linux]      (default: both)
# The stripped programs' debug information goes to build/packages/debug/ (NAME.debug, which the
# program's debug link names).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

platforms=("$@")
[ ${#platforms[@]} -gt 0 ] || platforms=(windows linux)
for platform in "${platforms[@]}"; do
    case $platform in
        windows | linux) ;;
        *)
            echo "package.sh: unknown platform '$platform' (windows or linux)" >&2
            exit 2
            ;;
    esac
done

if [[ " ${platforms[*]} " == *" linux "* ]] && [ ! -f docs/vesperlin-cli.1 ]; then
    echo "package.sh: docs/vesperlin-cli.1 is missing: the package of vesperlin-cli carries its man page" >&2
    exit 1
fi

version=$(sed -n 's/^project(Vesperlin VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
    echo "package.sh: no version in CMakeLists.txt's project()" >&2
    exit 1
fi
out=build/packages
mkdir -p "$out"
limit=$((1024 * 1024))
faults=()

# size FILE: prints the file's size and notes it when it is over the goal.
size() {
    local bytes
    bytes=$(stat -c %s "$1")
    printf '  %-40s %9d bytes  (%s)\n' "$(basename "$1")" "$bytes" "$(numfmt --to=iec-i --suffix=B "$bytes")"
    if [ "$bytes" -gt "$limit" ]; then
        faults+=("$(basename "$1") is $bytes bytes, over the goal of $limit")
    fi
}

# release PRESET: configures (so that a man page added since is seen) and builds the preset,
# then runs CPack in its tree; prints the package's path.
release() {
    local preset=$1 tree=build/$1
    cmake --preset "$preset" -DVESPERLIN_WERROR="${VESPERLIN_WERROR:-OFF}" >/dev/null
    cmake --build --preset "$preset" >&2
    rm -rf "$tree/packages"
    (cd "$tree" && cpack -C Release >&2)
}

for platform in "${platforms[@]}"; do
    if [ "$platform" = windows ]; then
        echo "== windows-release"
        release windows-release
        package=vesperlin-$version-win64.zip
        cp "build/windows-release/packages/$package" "$out/"
        # The debug information of what was shipped, kept with the release for its crash reports.
        mkdir -p "$out/debug"
        cp build/windows-release/ship/*.debug "$out/debug/"
        echo "sizes:"
        for program in vesperlin.exe vesperlin-cli.exe Vesperlin407.dll; do
            [ "$program" = Vesperlin407.dll ] && file=build/windows-release/Vesperlin407.dll ||
                file=build/windows-release/ship/$program
            size "$file"
        done
        size "$out/$package"
        # The C++ streams, linked statically, weigh about 930 KB by themselves (a program
        # printing one line through std::cout is 944,128 bytes, through fputs 14,848).
        if [ "$(stat -c %s build/windows-release/ship/vesperlin-cli.exe)" -gt "$limit" ] &&
            x86_64-w64-mingw32-nm -C build/windows-release/ship/vesperlin-cli.exe.debug |
            grep -c 'std::basic_ostream<char' >/dev/null; then
            echo "  note: vesperlin-cli.exe links the C++ streams (std::ostream), about 930 KB of it"
        fi
        unzip -l "$out/$package"
    else
        echo "== linux-release"
        release linux-release
        package=vesperlin-cli_${version}_amd64.deb
        cp "build/linux-release/packages/$package" "$out/"
        mkdir -p "$out/debug"
        cp build/linux-release/ship/*.debug "$out/debug/"
        echo "sizes:"
        size build/linux-release/ship/vesperlin-cli
        size "$out/$package"
        dpkg-deb --info "$out/$package"
        dpkg-deb --contents "$out/$package"
        if command -v lintian >/dev/null; then
            echo "lintian:"
            # Errors fail the package; warnings and notes are shown.
            lintian --fail-on error --display-info "$out/$package" || faults+=("lintian found errors in $package")
        else
            echo "lintian is not installed: the .deb was not checked by it"
        fi
    fi
done

if [ ${#faults[@]} -gt 0 ]; then
    printf 'package.sh: %s\n' "${faults[@]}" >&2
    exit 1
fi
echo "packages in $out/: every size within its goal of 1 MB"
