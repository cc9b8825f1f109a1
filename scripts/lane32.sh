#!/bin/bash
# The 32-bit lane: runs the 32-bit build's Wine tests inside an emulated
# Debian 12 x86-64 guest (qemu-system-x86_64, software emulation), for
# machines whose kernel runs no 32-bit code. The guest image is built here
# from Debian's packages and cached in build/lane32; it is rebuilt only when
# its recipe below changes. The build tree is shared into the guest at the
# same path, so ctest's absolute paths hold there.
#
#   scripts/lane32.sh            the tests where the 32-bit paths differ most
#   scripts/lane32.sh --full     every 32-bit Wine test of the lane's set
#   scripts/lane32.sh --image    only build (or reuse) the guest image
#
# Expects build/win32 to be built already (scripts/test.sh does that).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
LANE=$ROOT/build/lane32

SMALL='^(crash_handler_test|shell_e2e_test|crash_agent_e2e_test)$'
# The full set includes the tests on the simulated console (the 32-bit
# driver in the guest's 32-bit prefix).
FULL='^(shell_e2e_test|link_e2e_test|crash_agent_e2e_test|crash_handler_test|crash_collect_test|support_core_test|hid_core_test|hid_controller_test|console_e2e_test|link_flow_e2e_test)$'

# How much slower the guest runs the programs than this machine: the tests
# widen their waits and timing tolerances by it (QEX_TIME_SCALE overrides).
TIME_SCALE=${QEX_TIME_SCALE:-3}

# Left out in the guest: the relay cases that feed the agent hundreds of
# reports a second and count every one. Under software emulation the agent's
# read thread falls behind the simulated console however the rate is scaled
# (its handle's input buffers overflow), which measures the emulator, not the
# relay. They run wherever the 32-bit build runs natively, and bench/ holds
# the relay's throughput targets.
GUEST_SKIP='ConsoleBridgeLinked.EveryReportArrivesOnceInOrderWhileTheMainThreadStalls'
GUEST_SKIP+=':ConsoleBridgeLinked.AConsoleThatHoldsEveryReportCostsTheMainThreadOneTimeoutASecond'
GUEST_SKIP+=':LinkFlow.AHostThatStopsReadingGetsWholeMessagesInOrderAndTheRestIsCountedAsDropped'
GUEST_SKIP+=':LinkFlow.AHostThatReadsAFewBytesAtATimeGetsTheConcatenationOfWholeMessages'

# --- the recipe of the guest image ------------------------------------------
GUEST_SUITE=bookworm
# The guest installs from the archive this machine's own apt uses for the
# guest's suite (a machine reaches its configured source, not a fixed one).
host_archive() {
  apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT) $(TARGET_OF)' 2>/dev/null |
    awk -v suite="$GUEST_SUITE" '$2 == suite && $3 == "main" && $4 == "deb" { print $1; exit }'
}
GUEST_MIRROR=
if [[ ${1:-} != --guest ]]; then GUEST_MIRROR=${QEX_LANE_MIRROR:-$(host_archive)}; fi
if [[ ${1:-} != --guest && -z $GUEST_MIRROR ]]; then
  echo "lane32: no $GUEST_SUITE main archive in this machine's apt sources (set QEX_LANE_MIRROR)" >&2
  exit 1
fi
GUEST_PACKAGES=(linux-image-amd64 kmod iproute2 cmake python3
  wine wine32:i386 wine64 xvfb x11-utils fonts-wqy-microhei fonts-dejavu-core)
GUEST_DISK_SIZE=6G

# The guest's init: mounts what the tests need and the shared tree, runs this
# script's guest side from the tree, powers off.
guest_init() {
  cat <<'INIT'
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sys /sys 2>/dev/null
mount -t devtmpfs dev /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
ip link set lo up
root=$(sed -n 's/.*lane.root=\([^ ]*\).*/\1/p' /proc/cmdline)
mkdir -p "$root"
# cache=loose: without the page cache a read of more than one 9p message
# returns short, and Wine reads a program's sections with one read each:
# the tail of a large code section stays zero and the program faults there.
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288,cache=loose tree "$root"; then
  cd "$root" && bash scripts/lane32.sh --guest >"$root/build/lane32/run/output.txt" 2>&1
  echo $? >"$root/build/lane32/run/status"
  sync
else
  echo "lane: the shared tree did not mount"
fi
echo o >/proc/sysrq-trigger
sleep 60
INIT
}

recipe_hash() {
  { echo "$GUEST_SUITE $GUEST_MIRROR $GUEST_DISK_SIZE"; declare -p GUEST_PACKAGES
    declare -f build_image guest_init; } | sha256sum | cut -c1-16
}

build_image() {
  local rootfs=$LANE/rootfs
  # A build that stopped half-way may have left the guest's /proc mounted.
  umount "$rootfs/proc" 2>/dev/null || true
  rm -rf --one-file-system "$rootfs" "$LANE/disk.raw" "$LANE/vmlinuz" "$LANE/initrd.img" "$LANE/recipe"
  mkdir -p "$LANE"
  debootstrap --variant=minbase --arch=amd64 "$GUEST_SUITE" "$rootfs" "$GUEST_MIRROR" >"$LANE/debootstrap.log" 2>&1
  mount -t proc proc "$rootfs/proc"
  trap 'umount "$LANE/rootfs/proc" 2>/dev/null || true' RETURN EXIT
  chroot "$rootfs" dpkg --add-architecture i386
  chroot "$rootfs" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive chroot "$rootfs" apt-get install -y -qq --no-install-recommends \
    "${GUEST_PACKAGES[@]}" >"$LANE/packages.log" 2>&1
  chroot "$rootfs" apt-get clean
  umount "$rootfs/proc"
  guest_init >"$rootfs/lane-init"
  chmod +x "$rootfs/lane-init"
  cp "$rootfs"/boot/vmlinuz-* "$LANE/vmlinuz"
  cp "$rootfs"/boot/initrd.img-* "$LANE/initrd.img"
  truncate -s "$GUEST_DISK_SIZE" "$LANE/disk.raw"
  mkfs.ext4 -q -F -L lane -d "$rootfs" "$LANE/disk.raw"
  rm -rf "$rootfs"
  recipe_hash >"$LANE/recipe"
}

ensure_image() {
  if [[ -f $LANE/recipe && $(cat "$LANE/recipe") == "$(recipe_hash)" && -f $LANE/disk.raw ]]; then
    return 0
  fi
  echo "lane32: building the guest image (once per machine)"
  local start=$SECONDS
  build_image
  echo "lane32: guest image built in $((SECONDS - start)) s"
}

# --- inside the guest -------------------------------------------------------
guest_side() {
  export HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin
  # The guest has no network; a route keeps a connect to an outside address
  # pending, as on a machine with one, instead of failing at once.
  ip route add default dev lo 2>/dev/null || true
  source scripts/wine-env.sh
  local prefix=/var/tmp/lane-prefix
  local set
  set=$(cat build/lane32/run/set)
  qex_make_prefix "$prefix" win32
  qex_start_display
  WINEPREFIX="$prefix" "$WINESERVER" -p </dev/null >/dev/null 2>&1
  WINEPREFIX="$prefix" "$WINE32" wineboot </dev/null >/dev/null 2>&1
  local status=0
  echo "lane32: left out in the guest: ${GUEST_SKIP//:/ }"
  GTEST_FILTER="-$GUEST_SKIP" QEX_WINE="$WINE32" QEX_WINEPREFIX="$prefix" QEX_TIME_SCALE=$(cat build/lane32/run/scale) \
    ctest --test-dir build/win32 -R "$set" --output-on-failure || status=1
  WINEPREFIX="$prefix" "$WINESERVER" -k 2>/dev/null || true
  return $status
}

# --- on the host -------------------------------------------------------------
run_guest() {  # ctest regex
  local run=$LANE/run
  rm -rf "$run"
  mkdir -p "$run"
  echo "$1" >"$run/set"
  echo "$TIME_SCALE" >"$run/scale"
  local start=$SECONDS
  # -snapshot: the guest's writes go to a temporary file, the image stays as
  # built. No SMAP: this emulator pops IRET's stack from 32-bit user code
  # with supervisor rights, which the guest kernel then takes for its own
  # fault and dies (Wine's 32-bit side returns through IRET).
  qemu-system-x86_64 -machine q35 -accel tcg,thread=multi -cpu qemu64 -smp "$(nproc)" -m 3072 \
    -nographic -no-reboot -nic none -snapshot \
    -kernel "$LANE/vmlinuz" -initrd "$LANE/initrd.img" \
    -append "console=ttyS0 root=/dev/vda rw init=/lane-init quiet lane.root=$ROOT" \
    -drive file="$LANE/disk.raw",format=raw,if=virtio \
    -virtfs local,path="$ROOT",mount_tag=tree,security_model=none \
    </dev/null >"$run/console.txt" 2>&1 || true
  cat "$run/output.txt" 2>/dev/null || { echo "lane32: the guest wrote no output; its console:"; tail -40 "$run/console.txt"; }
  echo "lane32: guest ran $((SECONDS - start)) s"
  [[ -f $run/status ]] && [[ $(cat "$run/status") == 0 ]]
}

case "${1:-}" in
  --guest) guest_side ;;
  --image) scripts/setup.sh lane; ensure_image ;;
  --full) scripts/setup.sh lane; ensure_image; run_guest "$FULL" ;;
  "") scripts/setup.sh lane; ensure_image; run_guest "$SMALL" ;;
  *) echo "usage: scripts/lane32.sh [--full|--image]" >&2; exit 2 ;;
esac
