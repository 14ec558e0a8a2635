# Installs Debian packages that are missing; sourced by the scripts in scripts/.
# As root it calls apt-get directly, otherwise through sudo.

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# ensure_packages PACKAGE...: installs those of the packages that are not installed yet.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    # A fresh machine has no package lists yet; an old list may name versions long gone.
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

# What building Zarvo needs.
# The window measures its layout in the font it is shown in, so a font must be there; it keeps
# the news server's password in the desktop's keyring through QtKeychain. The gallery shows
# whatever Qt's image plugins read: the extra plugins bring WebP and TIFF. The pictures inside
# archives are read with libarchive.
BUILD_PACKAGES=(g++ cmake make qt6-base-dev qtkeychain-qt6-dev qt6-image-formats-plugins
    libgtest-dev libgmock-dev libssl-dev zlib1g-dev libarchive-dev fonts-dejavu-core)
