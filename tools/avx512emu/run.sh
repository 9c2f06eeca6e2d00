#!/usr/bin/env bash
# run.sh PROGRAM [ARGS...]
#
# Runs a statically linked x86-64 Linux PROGRAM on an emulated processor
# with AVX-512 (F, CD, DQ, BW, VL), for testing AVX-512 code on a machine
# without it: Bochs, CPU model corei7_skylake_x, boots Debian's cloud
# kernel from a throw-away ISO whose initramfs holds PROGRAM, runs it as an
# ordinary process and powers off. The program's standard output and error
# come out, merged in the order written, on standard output as they arrive;
# the exit status is the program's (128 + N if signal N killed it).
# Anything that keeps the program from running fails loudly: status 125
# with the guest console, or 124 when PI_EMU_TIMEOUT seconds run out.
#
# Environment:
#   PI_EMU_PASSENV   names of variables handed to the program (GTEST_FILTER...)
#   PI_EMU_TIMEOUT   wall-clock limit in seconds (default 1800)
#   PI_EMU_CACHE     where the guest kernel and init are kept
#                    (default ~/.cache/pi-avx512emu)
#
# Installs what it needs (Debian packages) and fetches the kernel package
# once. Costs: about 15-20 s to boot; scalar code runs 50-100x slower than
# on hardware, zmm floating point about 1000x (each lane in software).
set -uo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
cache=${PI_EMU_CACHE:-${HOME:-/root}/.cache/pi-avx512emu}
timeout=${PI_EMU_TIMEOUT:-1800}

die() { echo "avx512emu: $*" >&2; exit 125; }

[ $# -ge 1 ] || die "usage: run.sh PROGRAM [ARGS...]"
program=$(readlink -f "$1") || die "no such file: $1"
shift
[ -f "$program" ] || die "no such file: $program"

# --- what the emulator needs -------------------------------------------------
# Debian's Bochs has no headless display but 'term', which opens a pty of its
# own; naming bochs-term also keeps bochs from pulling in wxWidgets.
bash "$here/../install-packages.sh" bochs bochs-term bochsbios vgabios isolinux \
  syslinux-common genisoimage cpio gcc libc6-dev binutils >&2 || die "cannot install the emulator"

kernel=$(ls "$cache"/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)
if [ -z "$kernel" ]; then
  # The kernel package is fetched, never installed; only vmlinuz is kept.
  mkdir -p "$cache" || die "cannot make $cache"
  download=$(mktemp -d "$cache/download.XXXXXX") || die "mktemp failed"
  package() {
    apt-cache depends linux-image-cloud-amd64 2>/dev/null |
      awk '/Depends: linux-image-[0-9]/ {print $2; exit}'
  }
  name=$(package)
  [ -n "$name" ] || { apt-get update -q >&2; name=$(package); }
  [ -n "$name" ] || die "cannot find Debian's cloud kernel package"
  (cd "$download" && apt-get download -q -o APT::Sandbox::User=root "$name" >&2) ||
    { apt-get update -q >&2 && (cd "$download" && apt-get download -q -o APT::Sandbox::User=root "$name" >&2); } ||
    die "cannot download $name"
  dpkg-deb --fsys-tarfile "$download"/*.deb | tar -x -C "$download" --wildcards './boot/vmlinuz-*' ||
    die "cannot unpack $name"
  mv "$download"/boot/vmlinuz-* "$cache/" && rm -rf "$download"
  kernel=$(ls "$cache"/vmlinuz-* | sort -V | tail -n 1)
fi

header=$(LC_ALL=C readelf -hlW "$program" 2>/dev/null) || die "$program is not an ELF file"
grep -q 'Machine: *Advanced Micro Devices X86-64' <<<"$header" || die "$program is not x86-64"
! grep -q 'Requesting program interpreter' <<<"$header" ||
  die "$program is linked dynamically; the guest has no shared libraries"

# The guest's /init, built once for each version of its source.
init="$cache/init-$(sha256sum "$here/guestinit.c" | cut -c1-16)"
if [ ! -x "$init" ]; then
  mkdir -p "$cache" && gcc -O2 -static -o "$init.$$" "$here/guestinit.c" && mv "$init.$$" "$init" ||
    die "cannot build the guest's init"
fi

# --- the guest -------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/avx512emu.XXXXXX") || die "mktemp failed"
bochs=
follower=
# Bochs (built with its debugger) ignores SIGTERM: it is stopped with SIGKILL.
cleanup() {
  [ -n "$bochs" ] && kill -KILL "$bochs" 2>/dev/null
  [ -n "$follower" ] && kill "$follower" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "avx512emu: interrupted" >&2; exit 130' INT TERM HUP

root=$work/root
mkdir -p "$root/run" "$work/iso/isolinux" || die "mkdir failed"
cp "$init" "$root/init" && cp "$program" "$root/run/program" || die "cannot copy the program"
chmod 755 "$root/init" "$root/run/program"
# NUL-terminated entries: any argument but one holding NUL arrives intact.
: >"$root/run/args"
for word in "$@"; do printf '%s\0' "$word" >>"$root/run/args"; done
{
  printf '%s\0' PATH=/bin HOME=/tmp TERM=dumb LANG=C
  for name in ${PI_EMU_PASSENV:-}; do
    [ -z "${!name+set}" ] || printf '%s=%s\0' "$name" "${!name}"
  done
} >"$root/run/env"
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0) | gzip -1 >"$work/iso/initrd.gz" ||
  die "cannot build the initramfs"

# clearcpuid=xsaves,xsavec: Bochs 2.7 gives the uncompacted XSAVE size for
# the compacted forms; the kernel then turns XSAVE off, and AVX with it.
# The rest shortens the boot by half: no crypto self-tests, no tracing
# tables, no certificates, no speculation mitigations.
cat >"$work/iso/isolinux/isolinux.cfg" <<EOF
DEFAULT linux
PROMPT 0
TIMEOUT 0
LABEL linux
  KERNEL /vmlinuz
  INITRD /initrd.gz
  APPEND console=ttyS0,115200 rdinit=/init clearcpuid=xsaves,xsavec initcall_blacklist=trace_eval_init,load_system_certificate_list cryptomgr.notests mitigations=off quiet
EOF
cp /usr/lib/ISOLINUX/isolinux.bin /usr/lib/syslinux/modules/bios/ldlinux.c32 "$work/iso/isolinux/"
genisoimage -quiet -o "$work/boot.iso" -b isolinux/isolinux.bin -c isolinux/boot.cat \
  -no-emul-boot -boot-load-size 4 -boot-info-table -graft-points \
  "$work/iso" "vmlinuz=$kernel" >"$work/iso.log" 2>&1 || { cat "$work/iso.log" >&2; die "cannot build the ISO"; }

vgarom=/usr/share/bochs/VGABIOS-lgpl-latest
[ -e "$vgarom" ] || vgarom=/usr/share/vgabios/vgabios.bin
# corei7_skylake_x: the icelake and tigerlake models hang this kernel at
# boot (their XSAVE layout for PKRU is wrong).
cat >"$work/bochsrc" <<EOF
display_library: term
romimage: file=/usr/share/bochs/BIOS-bochs-latest, options=fastboot
vgaromimage: file=$vgarom
cpu: model=corei7_skylake_x, count=1, ips=10000000, reset_on_triple_fault=0
memory: guest=512, host=512
clock: sync=none, time0=local
boot: cdrom
ata0-master: type=cdrom, path="$work/boot.iso", status=inserted
com1: enabled=1, mode=file, dev="$work/console.txt"
com2: enabled=1, mode=file, dev="$work/output.txt"
speaker: enabled=0
mouse: enabled=0
log: $work/bochs.log
panic: action=fatal
error: action=report
info: action=report
debug: action=ignore
EOF
# The debugger stops before the first instruction: continue, then quit.
printf 'c\nq\n' >"$work/debugger.rc"
: >"$work/console.txt"
: >"$work/output.txt"

(
  ulimit -c 0  # Bochs 2.7 sometimes crashes on the way out, after the status is in
  cd "$work" && exec env TERM=vt100 bochs-bin -q -f "$work/bochsrc" -rc "$work/debugger.rc" \
    </dev/null >"$work/bochs.out" 2>&1
) &
bochs=$!
tail -c +1 -f --pid="$bochs" "$work/output.txt" &
follower=$!

outcome=
deadline=$(($(date +%s) + timeout))
endedat=
while kill -0 "$bochs" 2>/dev/null; do
  sleep 0.5
  if grep -aq -E '@@(EXIT|SIGNAL) [0-9]+@@|@@INIT-FAILED' "$work/console.txt"; then
    # Bochs normally quits right after the status line.
    [ -n "$endedat" ] || endedat=$(date +%s)
    [ $(($(date +%s) - endedat)) -lt 20 ] || { kill -KILL "$bochs" 2>/dev/null; break; }
  elif grep -aq 'Kernel panic' "$work/console.txt"; then
    sleep 1
    kill -KILL "$bochs" 2>/dev/null
    outcome="the guest kernel panicked"
    break
  elif [ "$(date +%s)" -ge "$deadline" ]; then
    kill -KILL "$bochs" 2>/dev/null
    outcome=timeout
    break
  fi
done
wait "$bochs" 2>/dev/null
bochs=
wait "$follower" 2>/dev/null
follower=

console=$(tr -d '\r' <"$work/console.txt")
if [[ $console =~ @@EXIT\ ([0-9]+)@@ ]]; then
  exit "${BASH_REMATCH[1]}"
elif [[ $console =~ @@SIGNAL\ ([0-9]+)@@ ]]; then
  echo "avx512emu: the program was killed by signal ${BASH_REMATCH[1]}" >&2
  exit $((128 + BASH_REMATCH[1]))
fi
echo "avx512emu: ${outcome:-the emulator stopped without the program's exit status}" >&2
echo "---- guest console (last 40 lines) ----" >&2
tail -n 40 <<<"$console" >&2
echo "---- emulator (last 15 lines) ----" >&2
tail -n 15 "$work/bochs.out" >&2
[ "$outcome" = timeout ] && exit 124
exit 125
