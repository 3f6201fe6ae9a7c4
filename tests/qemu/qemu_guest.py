"""Boots this machine's Debian kernel in QEMU on emulated drives and runs
commands inside, against the real kernel paths (sysfs, the NVMe admin ioctl,
ATA pass-through through libata).

The guest is built at run time in a temporary folder: a tiny initramfs of
static busybox and the modules it needs, taken from the installed kernel with
their dependencies from modules.dep. Its init mounts the host's root, shared
read-only over 9p, under a tmpfs overlay, so the commands run from the build
tree as it is on the host, and writes nothing back but their output into a
second, writable 9p share. There is no network.
"""

import glob
import os
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import time

BUSYBOX = "/bin/busybox"

# The drivers and file systems the guest needs: the 9p root over virtio, the
# overlay, the NVMe controller, and the ATA disk on the PIIX IDE controller.
MODULES = ["virtio_pci", "9pnet_virtio", "9p", "overlay", "nvme", "ata_piix", "sd_mod"]


class Unavailable(Exception):
    """What this machine lacks to boot the guest (the test skips with it)."""


class GuestError(Exception):
    """The guest did not run its commands to their end."""


def _is_static(path):
    """True for an ELF executable without a program interpreter."""
    with open(path, "rb") as f:
        header = f.read(64)
        if len(header) < 64 or header[:4] != b"\x7fELF" or header[4] != 2:
            return False
        phoff, = struct.unpack_from("<Q", header, 32)
        phentsize, phnum = struct.unpack_from("<HH", header, 54)
        f.seek(phoff)
        table = f.read(phentsize * phnum)
    for i in range(phnum):
        p_type, = struct.unpack_from("<I", table, i * phentsize)
        if p_type == 3:  # PT_INTERP
            return False
    return True


def find_qemu():
    qemu = shutil.which("qemu-system-x86_64")
    if not qemu:
        raise Unavailable("qemu-system-x86_64 is not installed (Debian package qemu-system-x86)")
    return qemu


def find_kernel():
    """The newest installed kernel that has its modules: (image, version)."""
    found = []
    for image in glob.glob("/boot/vmlinuz-*"):
        version = os.path.basename(image)[len("vmlinuz-"):]
        if os.access(image, os.R_OK) and os.path.isfile(f"/lib/modules/{version}/modules.dep"):
            found.append((os.path.getmtime(image), image, version))
    if not found:
        raise Unavailable("no readable /boot/vmlinuz-* with its modules (Debian package linux-image-amd64)")
    _, image, version = max(found)
    return image, version


def find_busybox():
    if not os.path.isfile(BUSYBOX) or not os.access(BUSYBOX, os.X_OK):
        raise Unavailable(f"{BUSYBOX} is missing (Debian package busybox-static)")
    if not _is_static(BUSYBOX):
        raise Unavailable(f"{BUSYBOX} is not statically linked (Debian package busybox-static)")
    return BUSYBOX


def _module_name(path):
    name = os.path.basename(path)
    for suffix in (".ko", ".ko.xz", ".ko.zst", ".ko.gz"):
        if name.endswith(suffix):
            name = name[: -len(suffix)]
            break
    return name.replace("-", "_")


def module_load_order(version, wanted):
    """The module files for `wanted`, each after the modules it depends on.
    Modules built into the kernel are left out."""
    base = f"/lib/modules/{version}"
    deps = {}
    with open(f"{base}/modules.dep") as f:
        for line in f:
            path, _, rest = line.partition(":")
            deps[_module_name(path)] = (path, rest.split())
    builtin = set()
    if os.path.isfile(f"{base}/modules.builtin"):
        with open(f"{base}/modules.builtin") as f:
            builtin = {_module_name(line.strip()) for line in f if line.strip()}
    order, seen = [], set()

    def visit(name):
        if name in seen:
            return
        seen.add(name)
        if name not in deps:
            if name in builtin:
                return
            raise Unavailable(f"kernel {version} has no module {name}")
        path, needs = deps[name]
        for need in needs:
            visit(_module_name(need))
        order.append(os.path.join(base, path))

    for name in wanted:
        visit(name.replace("-", "_"))
    for path in order:
        if not path.endswith(".ko"):
            raise Unavailable(f"{path} is compressed; busybox insmod loads plain .ko files only")
    return order


INIT = r"""#!/bin/busybox sh
/bin/busybox mkdir -p /proc /sys /dev /sbin /usr/bin /usr/sbin
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
say() { echo "guest: $*" > /dev/console; }
finish() { sync; poweroff -f; }
for m in $(cat /modules.order); do
  insmod "/lib/modules/$m" || say "insmod $m failed"
done
mkdir -p /host /upper /newroot /out
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,ro hostroot /host || { say "no host root"; finish; }
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 out /out || { say "no output share"; finish; }
mount -t tmpfs -o mode=0755 tmpfs /upper
mkdir -p /upper/data /upper/work
mount -t overlay -o lowerdir=/host,upperdir=/upper/data,workdir=/upper/work overlay /newroot || { say "no overlay"; finish; }
mount -t proc proc /newroot/proc
mount -t sysfs sysfs /newroot/sys
mount -t devtmpfs devtmpfs /newroot/dev
mount -t tmpfs -o mode=1777 tmpfs /newroot/tmp
mount -t tmpfs -o mode=0755 tmpfs /newroot/run
# Disks are probed asynchronously: wait for the expected ones, 30 s at most.
for disk in $(cat /disks); do
  n=0
  while [ ! -e "/sys/block/$disk" ] && [ $n -lt 300 ]; do sleep 0.1; n=$((n + 1)); done
  [ -e "/sys/block/$disk" ] || say "disk $disk did not appear"
done
ls /sys/block > /out/block
mkdir -p /newroot/run/out
mount --bind /out /newroot/run/out
cp /commands /newroot/run/guest-commands
chroot /newroot /bin/sh /run/guest-commands < /dev/null
finish
"""


def _write(path, text, mode=0o644):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def build_initramfs(folder, version, commands, env, disks):
    """Writes folder/initramfs.cpio: busybox, the modules, the init script and
    the commands (run in turn by /bin/sh of the host's root inside the guest,
    each with its output in /run/out/NAME.stdout, .stderr and .status)."""
    root = os.path.join(folder, "initramfs")
    os.makedirs(os.path.join(root, "bin"))
    os.makedirs(os.path.join(root, "lib", "modules"))
    shutil.copy(find_busybox(), os.path.join(root, "bin", "busybox"))
    names = []
    for path in module_load_order(version, MODULES):
        name = os.path.basename(path)
        shutil.copy(path, os.path.join(root, "lib", "modules", name))
        names.append(name)
    _write(os.path.join(root, "modules.order"), "\n".join(names) + "\n")
    _write(os.path.join(root, "disks"), "\n".join(disks) + "\n")
    _write(os.path.join(root, "init"), INIT, 0o755)
    script = ["#!/bin/sh"] + [f"export {k}={shlex.quote(v)}" for k, v in sorted(env.items())]
    for name, argv in commands:
        out = f"/run/out/{name}"
        script.append(" ".join(shlex.quote(a) for a in argv) + f" > {out}.stdout 2> {out}.stderr")
        script.append(f"echo $? > {out}.status")
    _write(os.path.join(root, "commands"), "\n".join(script) + "\n", 0o755)

    entries = []
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        if rel != ".":
            entries.append(rel)
        entries.extend(os.path.normpath(os.path.join(rel, n)) for n in sorted(filenames))
        dirnames.sort()
    archive = os.path.join(folder, "initramfs.cpio")
    with open(archive, "wb") as out:
        subprocess.run([BUSYBOX, "cpio", "-o", "-H", "newc", "-R", "0:0"], cwd=root, check=True,
                       input=("\n".join(entries) + "\n").encode(), stdout=out, stderr=subprocess.PIPE,
                       timeout=60)
    return archive


class Output:
    def __init__(self, status, stdout, stderr):
        self.status = status  # the exit status
        self.stdout = stdout
        self.stderr = stderr


class Result:
    def __init__(self, outputs, console, block):
        self.outputs = outputs  # name: Output, for every command
        self.console = console  # the guest's serial console, for failures
        self.block = block  # /sys/block of the guest


def run(commands, env=None, nvme=None, ata=True, timeout=240):
    """Boots the guest with an NVMe controller (nvme: a dict of its device
    properties, e.g. {"smart_critical_warning": 5}; None for none) and an ATA
    disk on the PIIX IDE controller, runs the commands ([(name, argv)...]) as
    root inside, one after the other, and returns their Result. QEMU is killed
    after `timeout` seconds."""
    qemu = find_qemu()
    kernel, version = find_kernel()
    find_busybox()
    disks = (["nvme0n1"] if nvme is not None else []) + (["sda"] if ata else [])
    with tempfile.TemporaryDirectory(prefix="valmora-qemu-") as folder:
        out = os.path.join(folder, "out")
        os.mkdir(out)
        initramfs = build_initramfs(folder, version, commands, env or {}, disks)
        console = os.path.join(folder, "console.log")
        # KVM where the machine offers it, else (or when it refuses) TCG:
        # slower, the same guest.
        accel = ["-accel", "kvm", "-accel", "tcg"] if os.access("/dev/kvm", os.R_OK | os.W_OK) else ["-accel", "tcg"]
        args = [qemu, "-machine", "pc", "-nodefaults"] + accel + ["-m", "512", "-smp", "1",
                "-display", "none", "-monitor", "none", "-serial", f"file:{console}",
                "-nic", "none", "-no-reboot", "-kernel", kernel, "-initrd", initramfs,
                "-append", "console=ttyS0 quiet loglevel=4 panic=-1 mitigations=off rdinit=/init",
                "-virtfs", "local,path=/,mount_tag=hostroot,security_model=none,readonly=on",
                "-virtfs", f"local,path={out},mount_tag=out,security_model=none"]
        if nvme is not None:
            image = os.path.join(folder, "nvme.img")
            with open(image, "wb") as f:
                f.truncate(64 << 20)
            props = {"serial": "VALMORANVME01"}
            props.update(nvme)
            args += ["-drive", f"if=none,id=nvm,file={image},format=raw",
                     "-device", ",".join(["nvme", "drive=nvm"] + [f"{k}={v}" for k, v in props.items()])]
        if ata:
            image = os.path.join(folder, "ata.img")
            with open(image, "wb") as f:
                f.truncate(64 << 20)
            args += ["-drive", f"if=ide,index=0,media=disk,file={image},format=raw"]
        started = time.monotonic()
        process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
        try:
            qemu_output, _ = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            raise GuestError(f"the guest did not power off within {timeout} s; console:\n" + _read(console))
        elapsed = time.monotonic() - started
        if process.returncode != 0:
            raise GuestError(f"QEMU ended with {process.returncode}: {qemu_output.decode(errors='replace')}")
        outputs = {}
        for name, _ in commands:
            status = _read(os.path.join(out, f"{name}.status")).strip()
            if not status:
                raise GuestError(f"{name} did not finish in the guest ({elapsed:.0f} s); console:\n"
                                 + _read(console))
            outputs[name] = Output(int(status), _read(os.path.join(out, f"{name}.stdout")),
                                   _read(os.path.join(out, f"{name}.stderr")))
        return Result(outputs, _read(console), _read(os.path.join(out, "block")).split())


def _read(path):
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def main(argv):
    """By hand: qemu_guest.py [--critical-warning N] [--no-nvme] [--no-ata] COMMAND [ARG...]
    boots the guest, runs COMMAND as root inside and prints its output."""
    import argparse
    parser = argparse.ArgumentParser(description="Runs a command in a QEMU guest of this machine's kernel "
                                                 "on an emulated NVMe controller and ATA disk.")
    parser.add_argument("--critical-warning", type=lambda v: int(v, 0), default=0,
                        help="the NVMe controller's critical-warning bits (e.g. 0x5)")
    parser.add_argument("--no-nvme", action="store_true", help="no NVMe controller")
    parser.add_argument("--no-ata", action="store_true", help="no ATA disk")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    if not args.command:
        parser.error("a command to run is needed")
    nvme = None if args.no_nvme else ({"smart_critical_warning": args.critical_warning}
                                      if args.critical_warning else {})
    try:
        result = run([("command", args.command)], nvme=nvme, ata=not args.no_ata)
    except Unavailable as e:
        print(f"cannot boot the guest: {e}", file=sys.stderr)
        return 77
    except GuestError as e:
        print(e, file=sys.stderr)
        return 1
    out = result.outputs["command"]
    sys.stdout.write(out.stdout)
    sys.stderr.write(out.stderr)
    return out.status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
