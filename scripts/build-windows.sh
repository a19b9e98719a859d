#!/usr/bin/env bash
# Cross-builds the tool and the instrument stand-in for 64-bit Windows on
# Debian, with MinGW-w64, and packs them with the Qt and compiler DLLs they
# need into r9-update-<version>-windows-x86_64.zip.
#
#   scripts/build-windows.sh [-DR9_INSTRUMENT_HOST=ADDR] [-DR9_INSTRUMENT_PORT=N]
#       the field build, into build/windows: the instrument's address is
#       compiled in as in the Linux release (default 192.168.100.9:21)
#   scripts/build-windows.sh --loopback
#       the build for the tests, into build/windows-loopback: 127.0.0.1:2121,
#       which takes --port, with the test suites that run under Wine
#
# Qt for MinGW comes from ../shared/windows/ when it is there, and is
# otherwise built from Debian's own qt6-base source (about 45 minutes on
# two cores); either way it is kept in ~/.cache/r9-update (R9_CACHE_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

loopback=0
cmake_args=()
for argument in "$@"; do
    case "$argument" in
    --loopback) loopback=1 ;;
    -D*) cmake_args+=("$argument") ;;
    *) echo "usage: $0 [--loopback] [-DR9_INSTRUMENT_HOST=ADDR] [-DR9_INSTRUMENT_PORT=N]" >&2; exit 64 ;;
    esac
done

scripts/ensure-packages.sh g++-mingw-w64-x86-64-posix wine wine64 zip xz-utils

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
cache="${R9_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/r9-update}"
qt_version=6.4.2
qt="$cache/qt$qt_version-mingw"
shared_qt=../shared/windows/qt$qt_version-mingw-w64-x86_64.tar.xz
toolchain="$PWD/packaging/windows/mingw-w64.cmake"
host_qt=(-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
         -DQt6HostInfo_DIR=/usr/lib/x86_64-linux-gnu/cmake/Qt6HostInfo)

# Qt Base from Debian's source package, cross-built as the shared archive
# was: shared libraries, the bundled third-party copies, no SQL, D-Bus,
# printing, OpenSSL or Vulkan; OpenGL on and tablet events off, without
# which the Windows platform plugin of this source does not build.
build_qt_from_source() {
    scripts/ensure-packages.sh dpkg-dev
    if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            | "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/r9-update-deb-src.sources >/dev/null
        "${sudo_cmd[@]}" apt-get update -qq
    fi
    local version source_dir work="$cache/qt6-base-source"
    version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev)
    rm -rf "$work"
    mkdir -p "$work"
    (cd "$work" && apt-get source -qq "qt6-base=$version")
    source_dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
    local features=()
    for feature in sql dbus printsupport concurrent xml vulkan openssl tabletevent system_zlib system_pcre2 \
                   system_harfbuzz system_freetype system_png system_jpeg system_doubleconversion; do
        features+=("-DFEATURE_$feature=OFF")
    done
    cmake -S "$source_dir" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$qt.partial" "${host_qt[@]}" \
        -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
        -DFEATURE_opengl=ON -DINPUT_opengl=desktop "${features[@]}"
    cmake --build "$work/build" -j2
    cmake --install "$work/build"
    rm -rf "$work"
}

stamp="$qt/.r9-source"
if [ -f "$shared_qt" ]; then
    source_id="shared $(sha256sum "$shared_qt" | cut -d' ' -f1)"
    if [ "$(cat "$stamp" 2>/dev/null)" != "$source_id" ]; then
        echo "Qt $qt_version for MinGW: unpacking $shared_qt"
        rm -rf "$qt" "$qt.partial"
        mkdir -p "$qt.partial"
        tar -xJf "$shared_qt" -C "$qt.partial" --strip-components=1
        echo "$source_id" > "$qt.partial/.r9-source"
        mv "$qt.partial" "$qt"
    fi
elif [ ! -f "$stamp" ]; then
    echo "Qt $qt_version for MinGW: building it from Debian's qt6-base source into $qt"
    rm -rf "$qt" "$qt.partial"
    build_qt_from_source
    echo "built from Debian's qt6-base $(dpkg-query -W -f='${source:Version}' qt6-base-dev)" > "$qt.partial/.r9-source"
    mv "$qt.partial" "$qt"
fi

if [ "$loopback" -eq 1 ]; then
    build=build/windows-loopback
    cmake_args=(-DR9_INSTRUMENT_HOST=127.0.0.1 -DR9_INSTRUMENT_PORT=2121 -DR9_BUILD_TESTS=ON "${cmake_args[@]}")
    # The suites that make sense on Windows: the client's faults and
    # parsers, the plans, and the hostile names.
    targets=(r9-update r9-instrument-sim tst_parsers tst_ftpclientfaults tst_operationplans)
else
    build=build/windows
    cmake_args=(-DR9_BUILD_TESTS=OFF "${cmake_args[@]}")
    targets=(r9-update r9-instrument-sim)
fi

configure_started=$SECONDS
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DR9_QT_MINGW="$qt" \
    -DCMAKE_PREFIX_PATH="$qt" "${host_qt[@]}" -DCMAKE_BUILD_TYPE=Release "${cmake_args[@]}" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"
echo "cross-build: $((SECONDS - configure_started)) s"

# The package: the two programs, the DLLs they load (Qt's and the
# compiler's runtime), the platform and style plugins, and a README.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
host=$(sed -n 's/^R9_INSTRUMENT_HOST:STRING=//p' "$build/CMakeCache.txt")
port=$(sed -n 's/^R9_INSTRUMENT_PORT:STRING=//p' "$build/CMakeCache.txt")
name="r9-update-$version-windows-x86_64"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage/platforms" "$stage/styles"
cp "$build/r9-update.exe" "$build/sim/r9-instrument-sim.exe" "$stage/"
cp "$qt"/bin/Qt6{Core,Gui,Network,Widgets}.dll "$stage/"
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
cp "$runtime/libstdc++-6.dll" "$runtime/libgcc_s_seh-1.dll" /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$stage/"
find "$stage" \( -name '*.exe' -o -name '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
sed -e "s/@VERSION@/$version/g" -e "s/@INSTRUMENT@/$host:$port/g" -e "s/@QT_VERSION@/$qt_version/g" \
    -e 's/$/\r/' packaging/windows/README.txt > "$stage/README.txt"

# Every DLL that a program or plugin loads and that is not Windows' own
# (Qt's, the compiler's, any from the MinGW tree) must be in the package.
missing=$(find "$stage" \( -name '*.exe' -o -name '*.dll' \) -exec x86_64-w64-mingw32-objdump -p {} + \
    | sed -n 's/^\s*DLL Name: //p' | sort -uf \
    | while read -r dll; do
        if [ -n "$(find "$qt/bin" "$runtime" /usr/x86_64-w64-mingw32/lib -maxdepth 1 -iname "$dll" | head -n 1)" ] \
            && [ -z "$(find "$stage" -maxdepth 1 -iname "$dll")" ]; then
            echo "$dll"
        fi
    done)
if [ -n "$missing" ]; then
    echo "build-windows: the package lacks" $missing >&2
    exit 1
fi

zip_file="$build/$name.zip"
rm -f "$zip_file"
(cd "$build/package" && zip -q -r -9 "../$name.zip" "$name")
echo "$zip_file: $(du -k "$zip_file" | cut -f1) KiB, instrument $host:$port"
(cd "$build/package" && find "$name" -type f | sort)
echo "build-windows: $((SECONDS - started)) s"
