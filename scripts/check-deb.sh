#!/usr/bin/env bash
# Builds the Debian package of the field release and checks it as a Debian
# maintainer would: lintian with no error and no warning, the shipped
# desktop entry clean under desktop-file-validate, the shipped manual page
# of r9-update naming every command, option and exit status, and the
# changelog's version the package's own.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-packages.sh lintian desktop-file-utils man-db
root=$(mktemp -d)
trap 'status=$?; rm -rf "$root"; [ "$status" -eq 0 ] || echo "check-deb: FAILED"' EXIT
scripts/build-deb.sh
deb=$(echo build/release/r9-update_*.deb)
dpkg-deb -x "$deb" "$root"

failed=0
fail() { echo "check-deb: $*" >&2; failed=1; }

# Info tags are shown for the reader; errors and warnings fail the check.
lintian --display-info --pedantic --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"

# desktop-file-validate ends with status 0 on warnings and hints: any
# word from it is a finding.
entry="$root/usr/share/applications/r9-update.desktop"
report=$(desktop-file-validate "$entry" 2>&1) || true
[ -z "$report" ] || fail "desktop entry: $report"

page=$(MANWIDTH=80 man -l "$root/usr/share/man/man1/r9-update.1.gz" 2>&1) || fail "man r9-update does not render"
for word in list backup clone restore update compare --content --verbose --help --version; do
    grep -q -E -e "^ +(-[a-z], )?$word\b" <<<"$page" || fail "man r9-update does not show $word"
done
statuses=$(sed -n '/^EXIT STATUS$/,/^[A-Z]/p' <<<"$page")
for code in 0 1 2 64 129 130 143; do
    grep -q -E "^ +$code +[a-z]" <<<"$statuses" || fail "man r9-update shows no exit status $code"
done
man -l "$root/usr/share/man/man1/r9-instrument-sim.1.gz" >/dev/null 2>&1 || fail "man r9-instrument-sim does not render"

version=$(dpkg-deb -f "$deb" Version)
logged=$(zcat "$root/usr/share/doc/r9-update/changelog.gz" | sed -n '1s/^r9-update (\([^)]*\)).*/\1/p')
[ "$version" = "$logged" ] || fail "package version $version, changelog's latest entry $logged"

[ "$failed" -eq 0 ] || exit 1
echo "check-deb: passed: $(basename "$deb"), $(stat -c %s "$deb") bytes"
