# Debian packages the build and the tests need; sourced by run.sh and test.sh.
# librsvg2-bin draws the icon at the sizes menus look for.
BUMPWAVE_PACKAGES=(build-essential cmake pkg-config libsdl2-dev libpng-dev
    libjpeg62-turbo-dev libvorbis-dev libx11-dev libavformat-dev libavcodec-dev libavutil-dev
    libswresample-dev libswscale-dev librsvg2-bin)
# libxtst-dev: the keys the display tests press. weston: the Wayland test's
# compositor. dpkg-dev: dpkg-shlibdeps, which names the .deb's dependencies;
# lintian, desktop-file-utils and appstream check the .deb and what it
# installs. The cross compiler, its C and C++ headers and qemu-user: the build
# for 64-bit ARM.
BUMPWAVE_TEST_PACKAGES=(libgtest-dev libbenchmark-dev clang libclang-rt-14-dev xvfb xauth openbox
    x11-utils imagemagick binutils libx11-dev libxfixes-dev libxtst-dev weston dpkg-dev lintian
    desktop-file-utils appstream g++-aarch64-linux-gnu libc6-dev-arm64-cross
    libstdc++-12-dev-arm64-cross qemu-user)
BUMPWAVE_TEST_PACKAGES+=(ffmpeg) # decodes the recorder's videos
# The page (web.sh): Emscripten, and dpkg-dev to unpack Debian's source
# packages of the libraries. Its tests, and the recorder's .webm test, drive
# Debian's Chromium from Python; the page's music is held against
# vorbis-tools' decode.
BUMPWAVE_WEB_PACKAGES=(emscripten dpkg-dev xz-utils)
BUMPWAVE_WEB_TEST_PACKAGES=(chromium python3-websocket vorbis-tools)

# Installs the packages that are not installed yet, with sudo when not root.
install_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
            missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    local sudo=()
    if ((EUID != 0)); then
        command -v sudo >/dev/null || {
            echo "Missing packages; as root, run: apt-get install ${missing[*]}" >&2
            return 1
        }
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}
