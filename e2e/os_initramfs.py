#!/usr/bin/env python3
"""Builds the OS-boot run's initramfs (a newc cpio) from installed Debian packages and our
init script: busybox-static, the efivarfs module of the kernel linux-image-amd64 points at
(when that kernel builds it as a module), and chattr with the libraries it links. Also
finds that kernel's image. Python standard library only."""

import argparse
import os
import re
import subprocess
import sys

KERNEL_PACKAGE = "linux-image-amd64"
EFIVARFS_MODULE = "kernel/fs/efivarfs/efivarfs.ko"
# The kernel reads files and directories; it never needs more than these mode bits.
S_IFDIR, S_IFREG, S_IFLNK, S_IFCHR = 0o040000, 0o100000, 0o120000, 0o020000


class InitramfsError(Exception):
    pass


class Cpio:
    """The "newc" format the kernel unpacks: a 110-byte ASCII header per entry, the name,
    the data, each padded to 4 bytes, and a trailer entry."""

    def __init__(self):
        self.parts = []
        self.inode = 0
        self.names = set()

    def _entry(self, name, mode, data=b"", rdev=(0, 0)):
        if name in self.names:
            raise InitramfsError(f"{name} twice in the initramfs")
        self.names.add(name)
        self.inode += 1
        encoded = name.encode() + b"\0"
        fields = [self.inode, mode, 0, 0, 2 if mode & S_IFDIR else 1, 0, len(data), 0, 0, rdev[0], rdev[1],
                  len(encoded), 0]
        header = b"070701" + b"".join(b"%08X" % value for value in fields)
        self.parts += [header, encoded, b"\0" * (-(len(header) + len(encoded)) % 4), data, b"\0" * (-len(data) % 4)]

    def directory(self, name):
        self._entry(name, S_IFDIR | 0o755)

    def file(self, name, data, executable=False):
        self._entry(name, S_IFREG | (0o755 if executable else 0o644), data)

    def symlink(self, name, target):
        self._entry(name, S_IFLNK | 0o777, target.encode())

    def char_device(self, name, major, minor):
        self._entry(name, S_IFCHR | 0o600, rdev=(major, minor))

    def parents(self, path):
        """Every directory above path, outermost first, once."""
        parts = path.split("/")[:-1]
        for depth in range(1, len(parts) + 1):
            directory = "/".join(parts[:depth])
            if directory not in self.names:
                self.directory(directory)

    def data(self):
        self._entry("TRAILER!!!", 0)
        return b"".join(self.parts)


def kernel_release(depends):
    """The release of the kernel a linux-image-amd64 "Depends" line names."""
    match = re.search(r"linux-image-(\d[^\s,(]*)", depends)
    if not match:
        raise InitramfsError(f"no kernel in {KERNEL_PACKAGE}'s dependencies: {depends!r}")
    return match.group(1)


def config_option(config_text, option):
    """'y', 'm' or None for one option of a kernel's config file."""
    match = re.search(rf"^{option}=(\S+)$", config_text, re.MULTILINE)
    return match.group(1) if match else None


def module_chain(modules_dep, module):
    """The modules to load for module, dependencies first (modules.dep lists each module's
    dependencies, already in load order reversed, after a colon)."""
    table = {}
    for line in modules_dep.splitlines():
        if ":" in line:
            name, rest = line.split(":", 1)
            table[name.strip()] = rest.split()
    if module not in table:
        raise InitramfsError(f"{module} is not in modules.dep")
    return list(reversed(table[module])) + [module]


def shared_libraries(ldd_output):
    """The absolute paths ldd resolved, the dynamic loader included."""
    paths = []
    for line in ldd_output.splitlines():
        match = re.search(r"(?:=>\s*)?(/\S+)\s+\(0x", line)
        if match and match.group(1) not in paths:
            paths.append(match.group(1))
    return paths


def read(path, mode="rb"):
    try:
        with open(path, mode) as handle:
            return handle.read()
    except OSError as error:
        raise InitramfsError(f"cannot read {path}: {error.strerror}") from error


def installed_kernel(root="/"):
    depends = subprocess.run(["dpkg-query", "-W", "-f=${Depends}", KERNEL_PACKAGE], capture_output=True, text=True)
    if depends.returncode != 0:
        raise InitramfsError(f"{KERNEL_PACKAGE} is not installed (scripts/setup.sh installs it)")
    release = kernel_release(depends.stdout)
    return release, os.path.join(root, "boot", f"vmlinuz-{release}")


def add_program(cpio, path, target=None):
    target = (target or path).lstrip("/")
    cpio.parents(target)
    cpio.file(target, read(path), executable=True)


def build(init_script, busybox, chattr, release, root="/"):
    """The initramfs as bytes, and whether efivarfs comes as a module."""
    cpio = Cpio()
    for directory in ("bin", "dev", "proc", "sys", "tmp", "lib", "lib/modules"):
        cpio.directory(directory)
    # The kernel opens the console for init before anything can mount devtmpfs.
    cpio.char_device("dev/console", 5, 1)
    cpio.file("init", read(init_script), executable=True)
    add_program(cpio, busybox, "/bin/busybox")
    add_program(cpio, chattr, "/bin/chattr")
    ldd = subprocess.run(["ldd", chattr], capture_output=True, text=True)
    if ldd.returncode == 0:  # a static chattr has nothing to add
        for library in shared_libraries(ldd.stdout):
            add_program(cpio, os.path.realpath(library), library)
    modules = os.path.join(root, "lib", "modules", release)
    setting = config_option(read(os.path.join(root, "boot", f"config-{release}"), "r"), "CONFIG_EFIVAR_FS")
    if setting not in ("y", "m"):
        raise InitramfsError(f"kernel {release} has no efivarfs (CONFIG_EFIVAR_FS={setting})")
    if setting == "m":
        chain = module_chain(read(os.path.join(modules, "modules.dep"), "r"), EFIVARFS_MODULE)
        if len(chain) != 1:
            # The init script loads one file; a dependency would need loading first.
            raise InitramfsError(f"efivarfs needs other modules first: {chain[:-1]}")
        cpio.file("lib/modules/efivarfs.ko", read(os.path.join(modules, chain[0])))
    return cpio.data(), setting == "m"


def main(argv=None):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--out", required=True, help="write the initramfs here")
    parser.add_argument("--init", default=os.path.join(here, "os", "init"))
    parser.add_argument("--busybox", default="/bin/busybox")
    parser.add_argument("--chattr", default="/usr/bin/chattr")
    parser.add_argument("--print-kernel", action="store_true", help="print the kernel image's path")
    args = parser.parse_args(argv)
    try:
        release, kernel = installed_kernel()
        data, module = build(args.init, args.busybox, args.chattr, release)
    except InitramfsError as error:
        print(f"initramfs: {error}", file=sys.stderr)
        return 1
    with open(args.out, "wb") as handle:
        handle.write(data)
    print(f"initramfs: {len(data)} bytes for kernel {release}, efivarfs {'module' if module else 'built in'}")
    if args.print_kernel:
        print(kernel)
    return 0


if __name__ == "__main__":
    sys.exit(main())
