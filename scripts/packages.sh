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
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good gstreamer1.0-tools
  libexif-dev exif
  build-essential debhelper dpkg-dev fakeroot lintian appstream desktop-file-utils scdoc man-db
  util-linux
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
