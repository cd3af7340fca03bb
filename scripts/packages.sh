# Sourced by the scripts: installs the Debian packages the build, the tests and the
# virtual PDA need, but only those that are missing.
camera_packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-image-formats-plugins
  libfuse3-dev fuse3
  dbus dbus-bin
  qt6-tools-dev qt6-l10n-tools
  xvfb x11-utils imagemagick xdotool
  qt6-wayland qt6-base-private-dev libwayland-dev libwayland-bin wayland-protocols weston
  libxcb1-dev libxcb-shm0-dev
  sway phoc grim
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good gstreamer1.0-tools
  libexif-dev exif
  build-essential debhelper dpkg-dev fakeroot lintian appstream desktop-file-utils scdoc man-db
  util-linux linux-perf libjpeg-dev
)

install_missing_packages() {
  local missing=()
  local p
  for p in "${camera_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Cross builds for the handhelds' processors (scripts/package --arch, scripts/test --arch):
# the host's cross compilers and qemu-user to run the target's tests; the target's own
# libraries go into a sysroot (make_sysroot), never into the host's package set.
cross_packages_arm64=(g++-aarch64-linux-gnu binutils-aarch64-linux-gnu)
cross_packages_armhf=(g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf)
cross_packages=(mmdebstrap qemu-user-static)

install_cross_packages() {
  local arch=$1 list
  list="cross_packages_${arch}[@]"
  local camera_packages=("${cross_packages[@]}" "${!list}")
  install_missing_packages
}

# The target's libraries to build against and to run the tests with under qemu-user.
sysroot_packages=(
  libc6-dev libstdc++-12-dev
  qt6-base-dev qt6-base-private-dev libxkbcommon-dev qt6-qpa-plugins libqt6svg6
  qt6-image-formats-plugins libwayland-dev wayland-protocols libxcb1-dev libxcb-shm0-dev
  libfuse3-dev libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libexif-dev libjpeg-dev
)

# make_sysroot ARCH DIR: the target's packages unpacked into DIR (mmdebstrap, from the host's
# own Debian release and mirrors), made again only when the list above changes. Their
# shlibs and symbols files are gathered in DIR/DEBIAN, where dpkg-shlibdeps -SDIR finds them.
make_sysroot() {
  local arch=$1 dir=$2 stamp
  stamp="$(. /etc/os-release; echo "$VERSION_CODENAME") relative-links ${sysroot_packages[*]}"
  [ -f "$dir/.sysroot" ] && [ "$(cat "$dir/.sysroot")" = "$stamp" ] && return 0
  local mirror=()
  [ ! -f /etc/apt/sources.list.d/debian.sources ] || mirror=(/etc/apt/sources.list.d/debian.sources)
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  local include
  include=$(IFS=,; echo "${sysroot_packages[*]}")
  mmdebstrap --quiet --variant=extract --architectures="$arch" --include="$include" \
    --extract-hook='mkdir -p "$1/DEBIAN"; for deb in "$1"/var/cache/apt/archives/*.deb; do
        for f in shlibs symbols; do dpkg-deb --ctrl-tarfile "$deb" |
          tar -xO --wildcards "./$f" 2>/dev/null >>"$1/DEBIAN/$f" || true; done; done' \
    "${stamp%% *}" "$dir" "${mirror[@]}"
  # An absolute link (libfoo.so -> /lib/...) would point into the host, and the linker
  # would take the static library beside it: every link is made relative, inside DIR.
  local link
  find "$dir" -type l -lname '/*' -print0 | while IFS= read -r -d '' link; do
    ln -sfn "$(realpath -m -s --relative-to="$(dirname "$link")" "$dir$(readlink "$link")")" "$link"
  done
  echo "$stamp" >"$dir/.sysroot"
}
