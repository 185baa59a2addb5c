#!/usr/bin/env python3
"""The encoder library's start-up, its entry points and what runs when it is unloaded use no SSE
instruction, so that on a processor without SSE2 they answer instead of crashing the program.
Reads gogo.dll's disassembly."""
import re
import subprocess
import sys

ENTRY_POINTS = 9
# The loader's and the C runtime's start-up and unloading, static initialisers and destructors, the
# entry points and their check.
START_UP = ("DllMain", "DllMainCRTStartup", "CRT_INIT", "pre_c_init", "pre_cpp_init", "do_global_ctors", "main",
            "dyn_tls_init", "tls_callback_0", "pei386_runtime_relocator",
            "do_global_dtors", "dyn_tls_dtor", "tlregdtor", "mingw_TLScallback", "mingwthr_run_key_dtors.part.0",
            "execute_onexit_table", "atexit", "initterm", "exit", "free")
START_UP_PARTS = ("MPGE_", "GLOBAL__sub_I", "GLOBAL__sub_D", "ProcessorCanEncode", "SystemProcessorFeaturePresent")


def functions(dll):
    listing = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", dll], check=True,
                             capture_output=True, text=True).stdout
    name, body = None, []
    for line in listing.splitlines():
        header = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if header:
            if name:
                yield name, body
            name, body = header.group(1), []
        elif name:
            body.append(line)
    if name:
        yield name, body


def plain(name):
    return re.sub(r"@\d+$", "", name).lstrip("_")


def main():
    checked, exports, elsewhere, problems = 0, 0, 0, []
    for name, body in functions(sys.argv[1]):
        uses_sse = any("xmm" in line for line in body)
        if plain(name) in START_UP or any(part in name for part in START_UP_PARTS):
            checked += 1
            exports += plain(name).startswith("MPGE_")
            if uses_sse:
                problems.append(name)
        elif uses_sse:
            elsewhere += 1
    print(f"{checked} start-up functions and entry points checked; {elsewhere} functions use SSE elsewhere")
    for name in problems:
        print(f"{name} uses SSE before the check for SSE2")
    # The encoder itself must still be built for SSE2, and every entry point must have been found.
    sys.exit(1 if problems or exports != ENTRY_POINTS or elsewhere == 0 else 0)


if __name__ == "__main__":
    main()
