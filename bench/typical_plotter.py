#!/usr/bin/env python3
"""A serial plotter written the way such tools commonly are, as a yardstick.

It does the work Motion Monitor does with its plots, minus the logging:
pyserial at 9600 baud 8N1, a QTimer in the GUI thread that reads whatever is
waiting every 10 ms, frames found by their end bytes 55 and 1 (14 bytes each),
the six big-endian int16 words decoded, the last 100 points kept per channel,
two PlotWidgets with three curves each fed by setData. It redraws either on a
60 Hz QTimer ("timer") or after every frame ("frame"). Nothing here is tuned:
the point is to measure what a typical plotter costs, not a clever one.

    typical_plotter.py PORT [--redraw timer|frame] [--points 100]

SIGUSR1 prints the frames decoded so far on stdout ("frames N"), so that a
benchmark can tell that the plotter keeps up with the line; SIGTERM and SIGINT
close it.
"""
import argparse
import collections
import os
import signal
import struct
import sys

# Debian's pyqtgraph can sit on several Qt bindings; the one installed beside
# it for this comparison is PyQt5.
os.environ.setdefault("PYQTGRAPH_QT_LIB", "PyQt5")

import pyqtgraph as pg  # noqa: E402
import serial  # noqa: E402
from pyqtgraph.Qt import QtCore, QtWidgets  # noqa: E402

END = b"\x37\x01"  # end bytes 55 and 1
DATA_BYTES = 12  # six int16 words: gyroscope X Y Z, accelerometer X Y Z
WORDS = struct.Struct(">6h")
READ_MS = 10
REDRAW_MS = 1000 // 60


class Plotter(QtWidgets.QWidget):
    def __init__(self, port, redraw, points):
        super().__init__()
        self.setWindowTitle("Typical plotter")
        self.resize(600, 750)
        self.port = serial.Serial(port, 9600, bytesize=serial.EIGHTBITS,
                                  parity=serial.PARITY_NONE,
                                  stopbits=serial.STOPBITS_ONE, timeout=0)
        self.buffer = bytearray()
        self.frames = 0
        self.redraw_each_frame = redraw == "frame"

        self.x = collections.deque(maxlen=points)
        self.channels = [collections.deque(maxlen=points) for _ in range(6)]

        layout = QtWidgets.QVBoxLayout(self)
        self.curves = []
        for title, names in (("gyro", ("X", "Y", "Z")), ("acc", ("X", "Y", "Z"))):
            plot = pg.PlotWidget(title=title)
            plot.showGrid(x=True, y=True)
            plot.addLegend()
            plot.setLabel("bottom", "Time")
            plot.setLabel("left", "Magnitude")
            for name, colour in zip(names, ("b", "g", "r")):
                self.curves.append(plot.plot(pen=colour, name=name))
            layout.addWidget(plot)

        self.read_timer = QtCore.QTimer(self)
        self.read_timer.timeout.connect(self.read_port)
        self.read_timer.start(READ_MS)
        if not self.redraw_each_frame:
            self.redraw_timer = QtCore.QTimer(self)
            self.redraw_timer.timeout.connect(self.update_plots)
            self.redraw_timer.start(REDRAW_MS)

    def read_port(self):
        waiting = self.port.in_waiting
        if waiting:
            self.buffer += self.port.read(waiting)
        while True:
            end = self.buffer.find(END)
            if end < 0:
                break
            if end >= DATA_BYTES:
                self.add_sample(WORDS.unpack_from(self.buffer, end - DATA_BYTES))
            # A shorter stretch before the end bytes is a partial frame (the
            # plotter started mid-frame): dropped.
            del self.buffer[:end + len(END)]

    def add_sample(self, values):
        self.x.append(self.frames)
        for channel, value in zip(self.channels, values):
            channel.append(value)
        self.frames += 1
        if self.redraw_each_frame:
            self.update_plots()

    def update_plots(self):
        xs = list(self.x)
        for curve, channel in zip(self.curves, self.channels):
            curve.setData(xs, list(channel))

    def closeEvent(self, event):
        self.port.close()
        super().closeEvent(event)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("port", help="serial device, e.g. /dev/ttyUSB0")
    parser.add_argument("--redraw", choices=("timer", "frame"), default="timer",
                        help="redraw on a 60 Hz timer or after every frame")
    parser.add_argument("--points", type=int, default=100,
                        help="points kept per channel (default 100)")
    args = parser.parse_args()

    app = QtWidgets.QApplication(sys.argv)
    window = Plotter(args.port, args.redraw, args.points)
    window.show()

    # Python runs signal handlers between bytecodes; the read timer brings the
    # interpreter back from Qt's event loop every 10 ms, so they are not held up.
    signal.signal(signal.SIGTERM, lambda *_: app.quit())
    signal.signal(signal.SIGINT, lambda *_: app.quit())
    signal.signal(signal.SIGUSR1,
                  lambda *_: print(f"frames {window.frames}", flush=True))
    status = app.exec_()
    window.port.close()
    return status


if __name__ == "__main__":
    sys.exit(main())
