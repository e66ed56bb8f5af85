"""Reads the records that managed.exe (tools/managed.cpp) appends to "<its path>.log"."""
from dataclasses import dataclass
from typing import List

SW_SHOWMINIMIZED = 2


@dataclass
class Start:
    version: str        # "v1" or "v2": which build ran
    cmdline: bytes      # GetCommandLineA, Windows-1252 bytes
    show: int           # wShowWindow, or -1 when STARTF_USESHOWWINDOW was not set
    args: List[bytes]   # argv[1:] as the C runtime split them
    pid: int
    cwd: bytes          # its working folder (GetCurrentDirectoryA)


def read_starts(log_path: str) -> List[Start]:
    try:
        with open(log_path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return []
    starts, fields, args = [], {}, []
    for line in data.split(b"\n"):
        key, _, value = line.partition(b"=")
        if key == b"end":
            starts.append(Start(fields[b"version"].decode(), fields[b"cmdline"], int(fields[b"show"]), args,
                                int(fields[b"pid"]), fields.get(b"cwd", b"")))
            fields, args = {}, []
        elif key == b"arg":
            args.append(value)
        elif key:
            fields[key] = value
    return starts
