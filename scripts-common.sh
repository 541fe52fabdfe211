# Shared by run.sh and test.sh: install what is missing and build into build/.
# Sourced, not run. KALVORA_NO_INSTALL=1 skips every installation: what is missing is then only
# named, and the build or the tests that need it fail or skip.

KALVORA_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-charts-dev libqt6opengl6-dev qt6-svg-dev
    fonts-liberation fontconfig util-linux pkg-config libssl-dev
    libmicrohttpd-dev libcurl4-openssl-dev openssl prometheus faketime tzdata libjs-dygraphs
    libyaml-cpp-dev libcrypt-dev)
# The tests alone: pdftotext and pdftoppm read the reports back; mbpoll is a client of the
# shared bus; Chromium with its WebDriver, driven from Debian's python3 through Selenium, loads
# the logger's pages; amtool (prometheus-alertmanager) checks the shipped Alertmanager route;
# htpasswd (apache2-utils) makes the password hash of the login's tests, as the README does.
KALVORA_TEST_PACKAGES=(poppler-utils mbpoll chromium chromium-driver python3-selenium
    prometheus-alertmanager apache2-utils)
# package.sh and its test: manual pages, icons, CPack's dpkg-shlibdeps (with file), and checks.
KALVORA_PACKAGING_PACKAGES=(help2man python3 librsvg2-bin dpkg-dev file lintian desktop-file-utils systemd)

kalvora_install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "${KALVORA_NO_INSTALL:-0}" = 1 ]; then
        echo "KALVORA_NO_INSTALL=1: not installing ${missing[*]}" >&2
        return 0
    fi
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Not root: install these packages first: ${missing[*]}" >&2
        return 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The locale tests read the formats of these; without them they skip.
KALVORA_TEST_LOCALES=(ru_RU.UTF-8)

kalvora_generate_locales() {
    local missing=()
    for locale in "$@"; do
        # locale -a lists "ru_RU.utf8" for "ru_RU.UTF-8".
        locale -a 2>/dev/null | grep -qix "${locale%%.*}.utf-\?8" || missing+=("$locale")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "${KALVORA_NO_INSTALL:-0}" = 1 ] || [ "$(id -u)" -ne 0 ]; then
        echo "Locales missing (their tests skip): ${missing[*]}; as root: locale-gen" >&2
        return 0
    fi
    kalvora_install_missing locales
    for locale in "${missing[@]}"; do
        echo "Generating locale $locale"
        grep -qx "$locale UTF-8" /etc/locale.gen 2>/dev/null || echo "$locale UTF-8" >>/etc/locale.gen
        localedef -i "${locale%%.*}" -c -f UTF-8 "$locale"
    done
}

kalvora_configure() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

kalvora_build() {
    kalvora_configure "$@"
    cmake --build "$1" --parallel "$(nproc)"
}
