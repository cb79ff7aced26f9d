"""Pictures of the machine's display, taken through QEMU's monitor as the firmware drew it, and
kept as PNG."""

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

    def close(self):
        if self.connection is not None:
            self.connection.close()
            self.connection = None
