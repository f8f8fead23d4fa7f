#!/usr/bin/env bash
# Builds Qt for x86_64-w64-mingw32 from Debian's own qt6-base source package, at the host Qt's
# version (the cross build uses the host's moc, rcc and uic), and installs it into a per-machine
# cache outside the tree. A cache that is already complete is reused as it is.
#
#   scripts/build-qt-windows.sh [--print-prefix]
#
# Prints the prefix on its last line. VALDRUNE_QT_WIN_CACHE overrides the cache root
# (default: ${XDG_CACHE_HOME:-~/.cache}/valdrune); VALDRUNE_QT_WIN_JOBS the build's -j.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
toolchain=$here/../cmake/mingw-w64-x86_64.cmake

# Only what the tools use: Core (command line), Gui, Widgets and Test (window and its tests),
# the windows and offscreen platform plugins. Anything else only costs build time.
qt_features=(
    -DFEATURE_tabletevent=OFF
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF
    -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_doubleconversion=OFF
    -DFEATURE_sql_sqlite=OFF -DFEATURE_zstd=OFF -DFEATURE_icu=OFF
)

host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)     # e.g. 6.4.2+dfsg-10
upstream=${host_version%%+*}
upstream=${upstream%%-*}
feature_key=$(printf '%s\n' "${qt_features[@]}" | sha1sum | cut -c1-8)
cache_root=${VALDRUNE_QT_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/valdrune}
prefix=$cache_root/qt-$upstream-mingw64-$feature_key

# The project's toolchain file finds the prefix through this note.
note_prefix() { mkdir -p "$cache_root" && echo "$prefix" > "$cache_root/qt-mingw64-prefix.txt"; }

if [[ -f $prefix/.complete ]]; then
    note_prefix
    echo "$prefix"
    exit 0
fi
[[ ${1:-} == --print-prefix ]] && { echo "$prefix"; exit 0; }

for tool in x86_64-w64-mingw32-g++-posix cmake ninja dpkg-source; do
    command -v "$tool" >/dev/null || { echo "build-qt-windows: $tool is missing (scripts/install-deps.sh --windows)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/valdrune-qt-win.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A private apt configuration holds the deb-src entry, derived from the machine's own sources
# file, so the system's sources are never changed; it goes away with $work.
system_sources=/etc/apt/sources.list.d/debian.sources
mkdir -p "$work/apt/lists/partial" "$work/apt/sources.list.d"
if [[ -f $system_sources ]]; then
    sed 's/^Types:.*/Types: deb-src/' "$system_sources" > "$work/apt/sources.list.d/src.sources"
else
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > "$work/apt/sources.list.d/src.list"
fi
apt_opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/apt/sources.list.d"
          -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
          -o APT::Sandbox::User=root)
echo "build-qt-windows: fetching qt6-base $host_version source" >&2
apt-get "${apt_opts[@]}" update -qq
(cd "$work" && apt-get "${apt_opts[@]}" source -qq "qt6-base=$host_version")
src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)
[[ -n $src ]] || { echo "build-qt-windows: no qt6-base source unpacked" >&2; exit 1; }

host_cmake_dir=$(dirname "$(dirname "$(find /usr/lib -path '*/cmake/Qt6/Qt6Config.cmake' | head -n1)")")
jobs=${VALDRUNE_QT_WIN_JOBS:-$(nproc)}
start=$(date +%s)
cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake_dir" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    "${qt_features[@]}" >&2
cmake --build "$work/build" -j "$jobs" >&2
# Only the marker makes the prefix count, so an interrupted install is redone next time.
rm -rf "$prefix"
cmake --install "$work/build" >&2
echo "$(( $(date +%s) - start ))" > "$prefix/.build-seconds"
touch "$prefix/.complete"
note_prefix
echo "build-qt-windows: built in $(cat "$prefix/.build-seconds") s" >&2
echo "$prefix"
