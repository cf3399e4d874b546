#!/bin/bash
# hvext as a shell script sees it: each row is the exit status, the standard output
# (lines joined by "|") and the command line. Runs on the sample installation.
# Usage: hvext_test.sh SOURCE_DIR [EMULATOR...] HVEXT
set -u
site=$1/examples/site
shift
hvext=("$@")
export HV_DATADIR=$site
export HV_SITE_TIMEZONE_NAME=Europe/Paris
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

printf '123456789' >"$scratch/in"
printf 'some data\n' >"$scratch/from"

# x STATUS OUTPUT ARG...: hvext with these arguments; check STATUS OUTPUT COMMAND...: any command.
check() {
    local status out
    "${@:3}" <"$scratch/in" >"$scratch/out" 2>"$scratch/err"
    status=$?
    out=$(paste -sd '|' "$scratch/out")
    [ "$status:$out" = "$1:$2" ] && return
    echo "FAIL: ${*:3}: status $status, output '$out' (want $1, '$2'); stderr: $(cat "$scratch/err")"
    failures=$((failures + 1))
}
x() { check "$1" "$2" "${hvext[@]}" "${@:3}"; }

x 0 "$site/sys/general.cfg|/opt/morvek/bin/hvchown|/usr/UAP/in" path '~/sys/general.cfg' '~/bin/hvchown' '~UAP/in'
x 1 "" path '~bad'
x 2 "" path
x 0 "/var/tmp/x" -a /var/tmp path '@/x'
x 1 "" path '@/x'
x 1 "~/sys/a|/elsewhere" short "$site/sys/a" /elsewhere
x 0 "mail.example.org" config SERVER_NAME
x 1 "" config NO_SUCH_KEY
# Messages escape the names they quote.
check 1 "hvext config: no setting 'a\\nb\\x1bc\\x9bd\\\\'" sh -c '"$@" 2>&1' - "${hvext[@]}" config $'a\nb\ec\x9bd\\'
x 0 "6e90  -" crc16
x 0 "6e90  -" crc16 -
x 1 "" crc16 "$scratch/missing"
x 1 "" glob 'a*c' abd
x 0 "" glob -i 'A[a-c]?' abc
x 0 "a|b c|d e" argv 'a "b c" d\ e'
x 0 "Europe/Paris" tz
x 1 "Europe/London" tz no-such-alias
x 0 "dir: en/GB|language: en|language_territory: en_GB|catalogues: /opt/morvek/server/locale/en/GB/mail/msgcats" lang en_GB
x 0 "held" lock -x -n "$scratch/lock" -- sh -c 'echo held'
x 0 "" copy "$scratch/from" "$scratch/to"
cmp -s "$scratch/from" "$scratch/to" || { echo "FAIL: copy changed the data"; failures=$((failures + 1)); }
x 2 "" no-such-subcommand
x 2 "" path --no-such-option

[ "$failures" -eq 0 ] && echo "hvext: every row passed"
exit $((failures != 0))
