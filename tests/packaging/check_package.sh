#!/usr/bin/env bash
# Checks of the Debian package against Debian's and systemd's own tools.
#   check_package.sh unit <source dir>               the unit's exposure rating (<= 5.0)
#   check_package.sh rules <source dir>              promtool's check and unit tests of the shipped
#                                                    Prometheus alert rules
#   check_package.sh deb <source dir> <build dir>    builds the package, then its contents (manual
#                                                    pages and the admin pages' logo too), lintian (no
#                                                    errors, warnings or hardening tags) and the
#                                                    shipped unit's rating
# Exit code 77: the tool the check needs is not installed (CTest counts the test as skipped).
set -euo pipefail
mode="$1" source="$2"

# Fails unless systemd's offline analysis rates the unit file 5.0 or lower.
rate_unit() {
    command -v systemd-analyze >/dev/null || { echo "systemd-analyze not installed"; exit 77; }
    local out level
    out="$(systemd-analyze security --offline=true --no-pager "$1" 2>&1)" || true
    level="$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' <<<"$out")"
    [ -n "$level" ] || { echo "$out"; echo "no exposure level in the analyzer's output"; exit 1; }
    echo "exposure level $level"
    awk -v l="$level" 'BEGIN { exit !(l <= 5.0) }' || { echo "$out"; echo "rated $level, above 5.0"; exit 1; }
}

if [ "$mode" = unit ]; then
    rate_unit "$source/packaging/vkt.service"
    exit 0
fi
if [ "$mode" = rules ]; then
    command -v promtool >/dev/null || { echo "promtool not installed"; exit 77; }
    cd "$source/packaging/prometheus"
    promtool check rules vkt-rules.yml
    promtool test rules vkt-rules.test.yml
    exit 0
fi

build="$3"
# scripts/test builds the package beside the test build, holding the lock: the check waits for it and
# takes what it made (once). Otherwise it builds the package itself, at the lowest priority: the
# compile holds a processor for minutes while the other tests run, and the servers some of them time
# run their connections' threads at the lowest priority too.
mkdir -p "$build"
exec 9>"$build/lock"
flock 9
if [ -s "$build/made" ]; then
    deb="$(cat "$build/made")"
    rm -f "$build/made"
else
    deb="$(VKT_PACKAGE_BUILD="$build" nice -n 19 bash "$source/scripts/package")"
fi
echo "built $deb"
contents="$(dpkg-deb --contents "$deb" | awk '{print $6}')"
for path in ./usr/bin/vkt ./usr/bin/vkt-datutil ./etc/vkt/vkt.ini ./lib/systemd/system/vkt.service \
            ./usr/lib/sysusers.d/vkt.conf ./usr/lib/tmpfiles.d/vkt.conf ./usr/share/doc/vkt/copyright \
            ./usr/share/man/man8/vkt.8.gz ./usr/share/man/man8/vkt-datutil.8.gz ./usr/share/vkt/images/zelto.gif \
            ./usr/share/vkt/prometheus/vkt-rules.yml; do
    grep -qx "$path" <<<"$contents" || { echo "$path missing from the package"; exit 1; }
done
[ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = "/etc/vkt/vkt.ini" ] || { echo "vkt.ini is no conffile"; exit 1; }
unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
grep -qx 'Environment=VKT_HOME=/etc/vkt VKT_HEADLESS=1' "$unpacked/lib/systemd/system/vkt.service"
# The admin pages ask for images/zelto.gif in the daemon's working directory, where tmpfiles.d copies it
# (and, as at every boot, creates what is missing: here under a root of the test's own).
grep -qx 'WorkingDirectory=/var/log/vkt' "$unpacked/lib/systemd/system/vkt.service"
if command -v systemd-tmpfiles >/dev/null; then
    systemd-tmpfiles --root="$unpacked" --create "$unpacked/usr/lib/tmpfiles.d/vkt.conf" 2>/dev/null || true
    cmp "$unpacked/var/log/vkt/images/zelto.gif" "$source/packaging/images/zelto.gif"
fi
if command -v lintian >/dev/null; then
    # Neither errors nor warnings, and none of the hardening tags (bind-now is only an info tag).
    report="$(lintian -I --fail-on error,warning --tag-display-limit 0 "$deb" 2>&1)" || { echo "$report"; exit 1; }
    echo "$report"
    if grep -E '^[EW]: |: hardening-' <<<"$report"; then echo "lintian: errors, warnings or hardening"; exit 1; fi
else
    echo "lintian not installed: not run"
fi
rate_unit "$unpacked/lib/systemd/system/vkt.service"
