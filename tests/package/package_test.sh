#!/usr/bin/env bash
# Makes the Debian package with ./package.sh and checks it: every file is in it, lintian finds no
# error, both menu entries and the systemd unit are valid, and the programs run from the package
# unpacked into a scratch folder.
#   package_test.sh SOURCE_DIR WORK_DIR VERSION "PROGRAMS BUILT IN THIS TREE"
set -euo pipefail
source_dir=$1
work=$2
version=$3
read -r -a built <<<"$4"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
is_built() { [[ " ${built[*]} " == *" $1 "* ]]; }

rm -rf "$work/out" "$work/root"
mkdir -p "$work/out" "$work/root"
KALVORA_PACKAGE_BUILD="$work/build" "$source_dir/package.sh" "$work/out"
deb="$work/out/kalvora_${version}_amd64.deb"
[ -f "$deb" ] || { echo "FAIL: no $deb"; exit 1; }

echo "=== contents"
expected=(
    /usr/bin/kalvora /usr/bin/kalvora-chamber-sim
    /usr/share/applications/kalvora.desktop
    /usr/share/icons/hicolor/scalable/apps/kalvora.svg
    /usr/share/man/man1/kalvora.1.gz /usr/share/man/man1/kalvora-chamber-sim.1.gz
    /usr/share/doc/kalvora/README /usr/share/doc/kalvora/copyright
    /usr/share/doc/kalvora/changelog.gz /usr/share/doc/kalvora/quickstart.md
    /usr/share/doc/kalvora/events.md /usr/share/doc/kalvora/http-api.md
    /usr/lib/systemd/system/kalvora-log@.service
    /usr/lib/sysusers.d/kalvora.conf
    /usr/share/kalvora/kalvora-alerts.yml
    /usr/share/kalvora/monitoring/prometheus.yml /usr/share/kalvora/monitoring/alertmanager.yml
    /usr/share/kalvora/monitoring/kalvora-targets.yml /usr/share/kalvora/monitoring/kalvora-alerts.yml
    /etc/kalvora/example.conf /etc/kalvora/ports.conf /etc/kalvora/audit.conf
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/kalvora.png")
done
# The command-line and chart tools are built in their own folders; a tree without them makes a
# package without them, and this test says so instead of failing.
for tool in kalvora-cli kalvora-plot; do
    if is_built "$tool"; then
        expected+=("/usr/bin/$tool" "/usr/share/man/man1/$tool.1.gz")
        [ "$tool" = kalvora-cli ] && expected+=(/usr/share/man/man5/kalvora.conf.5.gz)
        [ "$tool" = kalvora-plot ] && expected+=(/usr/share/applications/kalvora-plot.desktop)
    else
        echo "NOTE: $tool is expected in the package, but this tree does not build it yet"
    fi
done
listing=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\.||')
for file in "${expected[@]}"; do
    grep -qxF "$file" <<<"$listing" || fail "$file is not in the package"
done
conffiles=$(dpkg-deb -I "$deb" conffiles)
for file in /etc/kalvora/example.conf /etc/kalvora/ports.conf /etc/kalvora/audit.conf; do
    grep -qxF "$file" <<<"$conffiles" || fail "$file is not a conffile"
done
depends=$(dpkg-deb -f "$deb" Depends)
for package in fonts-liberation libqt6core6 libc6 libjs-dygraphs; do
    [[ "$depends" == *"$package"* ]] || fail "Depends lacks $package: $depends"
done

echo "=== lintian"
lintian_output=$(lintian "$deb" 2>&1 | grep -v '^running with root privileges' || true)
[ -n "$lintian_output" ] && echo "$lintian_output"
grep -q '^E: ' <<<"$lintian_output" && fail "lintian reports errors"

dpkg -x "$deb" "$work/root"
root=$work/root

echo "=== desktop entries"
for entry in "$root"/usr/share/applications/*.desktop; do
    desktop-file-validate "$entry" || fail "desktop-file-validate $(basename "$entry")"
done

echo "=== systemd unit"
unit=$root/usr/lib/systemd/system/kalvora-log@.service
probe=$work/probe.service
printf '[Service]\nExecStart=/bin/true\n' >"$probe"
if ! command -v systemd-analyze >/dev/null || ! systemd-analyze verify --man=no "$probe" >/dev/null 2>&1
then
    echo "SKIPPED: systemd-analyze cannot verify units in this environment"
else
    # The unit names the installed program; verify it against the unpacked one (or, while the
    # tool is not built here, against /bin/true). Warnings count as failures.
    cli=/bin/true
    is_built kalvora-cli && cli=$root/usr/bin/kalvora-cli
    mkdir -p "$work/unit"
    sed "s|/usr/bin/kalvora-cli|$cli|" "$unit" >"$work/unit/kalvora-log@.service"
    verify_output=$(systemd-analyze verify --man=no "$work/unit/kalvora-log@.service" 2>&1) ||
        fail "systemd-analyze verify"
    [ -z "$verify_output" ] || fail "systemd-analyze verify: $verify_output"
fi

echo "=== manual pages against the programs"
# Every option of `log --help` is in kalvora-cli(1) and kalvora.conf(5), and every option those
# pages name is one the program takes: read both from the built files.
if is_built kalvora-cli; then
    cli_bin=$root/usr/bin/kalvora-cli
    for page in man1/kalvora-cli.1 man5/kalvora.conf.5; do
        zcat "$root/usr/share/man/$page.gz" >"$work/$(basename "$page")"
        documented=$(python3 "$source_dir/packaging/manual-pages.py" options "$work/$(basename "$page")")
        help_options=$(QT_QPA_PLATFORM=offscreen "$cli_bin" log --help |
            grep -oE '^  (-[a-z], )?--[a-z][a-z0-9-]*' | sed 's/.*--/--/' | grep -vx -- '--help')
        for option in $help_options; do
            [ "$page" = man5/kalvora.conf.5 ] && [ "$option" = --config ] && continue
            grep -qx -- "$option" <<<"$documented" || fail "$page lacks log's $option"
        done
        for option in $documented; do
            [ "$option" = --help ] || [ "$option" = --version ] && continue
            # Taken by some command: its --help then answers 0; an unknown option exits 2. The
            # "1" is the value of an option that takes one, and a spare argument after a flag.
            taken=no
            value=1
            [ "$option" = --config ] && value=/dev/null # read before the options are
            for command in log lab scan read alarm-test write-program set-point "audit show"; do
                # shellcheck disable=SC2086 # "audit show" is a command and its action
                if QT_QPA_PLATFORM=offscreen "$cli_bin" $command "$option" "$value" --help \
                    >/dev/null 2>&1; then taken=yes; break; fi
            done
            [ $taken = yes ] || fail "$page names $option, which kalvora-cli does not take"
        done
    done
    zcat "$root/usr/share/man/man1/kalvora-cli.1.gz" | grep -q '^\.SH EXIT STATUS' ||
        fail "kalvora-cli(1) has no EXIT STATUS"
fi

echo "=== the service's user and group"
# The postinst makes them with systemd-sysusers from the packaged file; do the same into a
# scratch root and read them back.
dpkg-deb -e "$deb" "$work/control"
grep -q "systemd-sysusers.*kalvora.conf" "$work/control/postinst" ||
    fail "postinst does not run systemd-sysusers kalvora.conf"
if command -v systemd-sysusers >/dev/null; then
    sysroot=$work/sysroot
    rm -rf "$sysroot" && mkdir -p "$sysroot/etc"
    printf 'root:x:0:\ndialout:x:20:\n' >"$sysroot/etc/group"
    printf 'root:x:0:0:root:/root:/bin/bash\n' >"$sysroot/etc/passwd"
    systemd-sysusers --root="$sysroot" "$root/usr/lib/sysusers.d/kalvora.conf" ||
        fail "systemd-sysusers refuses kalvora.conf"
    grep -q '^kalvora:x:[0-9]*:[0-9]*:.*:/var/lib/kalvora:/usr/sbin/nologin$' "$sysroot/etc/passwd" ||
        fail "no system user kalvora: $(cat "$sysroot/etc/passwd")"
    grep -q '^kalvora:x:' "$sysroot/etc/group" || fail "no group kalvora"
    grep -q '^dialout:x:20:.*kalvora' "$sysroot/etc/group" || fail "kalvora is not in dialout"
else
    echo "SKIPPED: no systemd-sysusers here"
fi
grep -qx "User=kalvora" "$unit" || fail "the unit does not run as the user kalvora"
grep -q "^DynamicUser=yes" "$unit" && fail "the unit still runs as a dynamic user"

echo "=== programs from the unpacked package"
export QT_QPA_PLATFORM=offscreen
run() {
    local expect=$1
    shift
    local output
    if ! output=$("$@" 2>&1); then
        fail "$* exits non-zero: $output"
    elif [[ "$output" != *"$expect"* ]]; then
        fail "$* does not say \"$expect\": $output"
    else
        echo "ok: $(basename "$1") ${*:2}"
    fi
}
run "kalvora $version" "$root/usr/bin/kalvora" --version
run "KALVORA_COMn" "$root/usr/bin/kalvora" --help
run "kalvora-chamber-sim $version" "$root/usr/bin/kalvora-chamber-sim" --version
run "--link PATH" "$root/usr/bin/kalvora-chamber-sim" --help
is_built kalvora-cli && run "$version" "$root/usr/bin/kalvora-cli" --version
is_built kalvora-plot && run "Usage" "$root/usr/bin/kalvora-plot" --help
for tool in kalvora-cli kalvora-plot; do
    is_built "$tool" || echo "NOTE: $tool not run: not built in this tree"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "Package $(basename "$deb") passed every check."
