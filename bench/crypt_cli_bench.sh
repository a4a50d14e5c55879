#!/usr/bin/env bash
# The four "sundry crypt" commands beside "openssl enc" and coreutils'
# "base64" on the same generated file, in one run: wall time of the whole
# process (best of REPEAT runs each, taken in turn), the speed ratio
# (other tool's time / sundry's time, so above 1 means sundry is faster)
# and peak memory, from GNU time. Then the peak memory of each command on a
# PEAK_MIB input that streams in through a pipe and never touches the disk.
#
#   bench/crypt_cli_bench.sh [path/to/sundry]
#   SIZE_MIB=256 PEAK_MIB=1024 REPEAT=3 bench/crypt_cli_bench.sh build/sundry
set -euo pipefail

sundry=${1:-build/sundry}
size_mib=${SIZE_MIB:-256}
peak_mib=${PEAK_MIB:-1024}
repeat=${REPEAT:-3}
timer=/usr/bin/time
[ -x "$timer" ] || { echo "GNU time is needed at $timer (Debian package: time)" >&2; exit 1; }
[ -x "$sundry" ] || { echo "no sundry tool at $sundry" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One 32-byte key for both tools: a key file for sundry, hex for openssl.
key=0123456789abcdefghijklmnopqrstuv
printf %s "$key" > "$work/key"
khex=$(printf %s "$key" | od -An -tx1 | tr -d ' \n')
iv=514a5100000000000000000000000000   # "QJQ" and 13 zero bytes

# Pseudo-random bytes, fast: AES-CTR over zeros.
gen() { { openssl enc -aes-128-ctr -K 000102030405060708090a0b0c0d0e0f -iv 0 -in /dev/zero 2>/dev/null || true; } | head -c $(($1 << 20)); }

gen "$size_mib" > "$work/plain"
"$sundry" crypt encrypt --key-file "$work/key" < "$work/plain" > "$work/cipher"
base64 -w 72 "$work/plain" > "$work/text"

# run NAME INPUT COMMAND...: best wall time in seconds and peak KiB.
run() {
  local name=$1 input=$2; shift 2
  local best="" peak=0
  for _ in $(seq "$repeat"); do
    "$timer" -f "%e %M" -o "$work/t" "$@" < "$input" > /dev/null
    read -r secs kib < "$work/t"
    if [ -z "$best" ] || awk -v a="$secs" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$secs; fi
    [ "$kib" -gt "$peak" ] && peak=$kib
  done
  echo "$best $peak"
}

same() { cmp -s <("${@:2}" < "$1") /dev/stdin; }

echo "input: $size_mib MiB; best of $repeat; $(nproc) CPUs; load: $(cut -d' ' -f1-3 /proc/loadavg)"
ok=yes
"$sundry" crypt encrypt --key-file "$work/key" < "$work/plain" | same "$work/plain" openssl enc -aes-256-cbc -K "$khex" -iv "$iv" || ok=no
"$sundry" crypt b64encode < "$work/plain" | same "$work/plain" base64 -w 72 || ok=no
echo "output identical to openssl enc and base64 -w 72: $ok"
printf '%-10s %9s %9s %7s %11s %11s   %s\n' command sundry_s other_s ratio sundry_MiB other_MiB other
compare() {
  local cmd=$1 input=$2; shift 2
  local args=(crypt "$cmd")
  case $cmd in encrypt|decrypt) args+=(--key-file "$work/key") ;; esac
  read -r ours our_peak < <(run sundry "$input" "$sundry" "${args[@]}")
  read -r theirs their_peak < <(run other "$input" "$@")
  awk -v c="$cmd" -v a="$ours" -v b="$theirs" -v pa="$our_peak" -v pb="$their_peak" -v o="$1 $2" \
    'BEGIN { printf "%-10s %9.2f %9.2f %7.2f %11.1f %11.1f   %s\n", c, a, b, (a > 0 ? b / a : 0), pa / 1024, pb / 1024, o }'
}
compare encrypt "$work/plain" openssl enc -aes-256-cbc -K "$khex" -iv "$iv"
compare decrypt "$work/cipher" openssl enc -d -aes-256-cbc -K "$khex" -iv "$iv"
compare b64encode "$work/plain" base64 -w 72
compare b64decode "$work/text" base64 -d

if [ "$peak_mib" -gt 0 ]; then
  echo "peak memory, $peak_mib MiB through a pipe:"
  k=(--key-file "$work/key")
  peak() { "$timer" -f %M -o "$work/p" "$@" > /dev/null; echo "$(($(cat "$work/p") / 1024)) MiB"; }
  echo "  encrypt   $(gen "$peak_mib" | peak "$sundry" crypt encrypt "${k[@]}")"
  echo "  decrypt   $(gen "$peak_mib" | "$sundry" crypt encrypt "${k[@]}" | peak "$sundry" crypt decrypt "${k[@]}")"
  echo "  b64encode $(gen "$peak_mib" | peak "$sundry" crypt b64encode)"
  echo "  b64decode $(gen "$peak_mib" | base64 -w 72 | peak "$sundry" crypt b64decode)"
fi
