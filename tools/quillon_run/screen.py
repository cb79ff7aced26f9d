"""QEMU's monitor: pictures of the machine's display as the firmware drew it, kept as PNG, and the
machine's own clock."""

import calendar
import json
import os
import socket
import subprocess
import time

# Debian's ImageMagick, by its full path where it is there, ahead of any other convert on PATH.
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"


class Monitor:
    """QEMU's human monitor on a unix socket, which QEMU makes when it starts."""

    def __init__(self, path):
        self.path = path
        self.connection = None

    def connect(self, seconds=10.0):
        deadline = time.monotonic() + seconds
        while self.connection is None:
            try:
                connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                connection.connect(self.path)
                self.connection = connection
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.1)

    def command(self, line):
        """Sends one command; QEMU runs each in turn, and its prompt after one means it is done."""
        self.connect()
        self.connection.sendall(line.encode() + b"\n")
        answer = b""
        self.connection.settimeout(10.0)
        while not answer.rstrip().endswith(b"(qemu)") or line.encode() not in answer:
            chunk = self.connection.recv(4096)
            if not chunk:
                break
            answer += chunk
        return answer

    def picture(self, png):
        """The display as it is now, written to png."""
        ppm = png + ".ppm"
        self.command(f"screendump {ppm}")
        subprocess.run([CONVERT, ppm, png], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        os.remove(ppm)

    def machine_clock(self):
        """The machine's CMOS clock, in whole seconds since 1970, or None when QEMU does not answer.
        x86 machines only: their clock's time is a property of the machine."""
        try:
            answer = self.command("qom-get /machine rtc-time").decode(errors="replace")
            fields = json.loads(answer[answer.index("{"):answer.rindex("}") + 1])
        except (OSError, ValueError):
            return None
        return calendar.timegm((fields["tm_year"] + 1900, fields["tm_mon"] + 1, fields["tm_mday"],
                                fields["tm_hour"], fields["tm_min"], fields["tm_sec"]))

    def close(self):
        if self.connection is not None:
            self.connection.close()
            self.connection = None
