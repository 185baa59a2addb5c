"""Fails unless the Wine servers of WINEPREFIX and of every window-test slot are the persistent ones
the test command started.

Without it every Wine process starts and stops a server of its own: seconds each, and racing the
shutdown of the one before, which once left every later process of a run hanging."""
import os
import sys


def server_folder_name(prefix):
    # Wine names the server's folder after the prefix's device and inode, in hexadecimal.
    status = os.stat(prefix)
    return "server-%x-%x" % (status.st_dev, status.st_ino)


def server_arguments(folder_name):
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.path.basename(os.readlink(f"/proc/{pid}/cwd")) != folder_name:
                continue
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                arguments = cmdline.read().decode(errors="replace").rstrip("\0").split("\0")
        except OSError:
            continue
        if "wineserver" in os.path.basename(arguments[0]):
            return arguments[1:]
    return None


def slot_prefixes():
    """The prefixes of the window tests' slots that scripts/test started."""
    slots = os.environ.get("KANORU_WINE_SLOTS", "")
    for slot in sorted(os.listdir(slots)) if os.path.isdir(slots) else []:
        env = os.path.join(slots, slot, "env")
        if os.path.exists(env):
            with open(env) as lines:
                yield dict(line.rstrip("\n").split("=", 1) for line in lines if "=" in line)["WINEPREFIX"]


def main():
    for prefix in [os.environ["WINEPREFIX"], *slot_prefixes()]:
        arguments = server_arguments(server_folder_name(prefix))
        if arguments is None:
            sys.exit(f"no Wine server is running for {prefix}")
        # "-p" alone keeps the server for good; the launcher's own "-p0" lets it go when idle.
        if "-p" not in arguments:
            sys.exit(f"the Wine server of {prefix} is not persistent: " + " ".join(arguments))
        print("persistent Wine server:", prefix, " ".join(arguments))


main()
