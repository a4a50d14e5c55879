#!/usr/bin/env python3
"""A Hayes modem on a pseudo-terminal, for the serial tests under Wine.

  fake-modem.py start LINK STATEFILE   links the terminal's device to LINK
                                       (e.g. $WINEPREFIX/dosdevices/com9),
                                       answers in the background, writes its
                                       pid to STATEFILE
  fake-modem.py stop LINK STATEFILE    ends it and removes the link

It echoes commands while echo is on (ATZ, ATE1) and answers AT, ATZ, ATE0,
ATE1 and ATI with OK, ATD... with CONNECT 57600, anything else with ERROR.
"""
import os
import signal
import sys
import tty

IDENTIFICATION = ["Sundry test modem", "Revision 1.0"]


def answer(command, state):
    if len(command) < 2 or command[:2].upper() != "AT":
        return ""
    rest = command[2:].upper()
    if rest in ("", "Z", "E1"):
        state["echo"] = True if rest != "" else state["echo"]
        return "\r\nOK\r\n"
    if rest in ("E0", "E"):
        state["echo"] = False
        return "\r\nOK\r\n"
    if rest == "I" or (len(rest) == 2 and rest[0] == "I" and rest[1].isdigit()):
        return "".join("\r\n" + line for line in IDENTIFICATION) + "\r\n\r\nOK\r\n"
    if rest.startswith("D"):
        return "\r\nCONNECT 57600\r\n"
    return "\r\nERROR\r\n"


def serve(master):
    state = {"echo": True}
    line = b""
    while True:
        try:
            data = os.read(master, 4096)
        except OSError:
            return
        if not data:
            return
        for byte in data:
            ch = bytes([byte])
            if state["echo"]:
                os.write(master, ch)
            if ch == b"\r":
                reply = answer(line.decode("latin-1").strip(), state)
                if reply:
                    os.write(master, reply.encode("latin-1"))
                line = b""
            elif ch != b"\n":
                line += ch


def start(link, statefile):
    master, slave = os.openpty()
    tty.setraw(master)
    name = os.ttyname(slave)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(name, link)
    pid = os.fork()
    if pid == 0:
        os.setsid()
        devnull = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(devnull, fd)
        # The slave stays open here so that the terminal lives between the
        # program's opens and closes of the port.
        serve(master)
        os._exit(0)
    with open(statefile, "w") as f:
        f.write(str(pid))
    print(f"modem on {name}, linked as {link} (pid {pid})")


def stop(link, statefile):
    try:
        with open(statefile) as f:
            os.kill(int(f.read().strip()), signal.SIGTERM)
    except (OSError, ValueError):
        pass
    for path in (link, statefile):
        if os.path.lexists(path):
            os.remove(path)


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("start", "stop"):
        sys.exit("usage: fake-modem.py start|stop LINK STATEFILE")
    (start if sys.argv[1] == "start" else stop)(sys.argv[2], sys.argv[3])
