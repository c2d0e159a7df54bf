#!/usr/bin/python3
"""A Modbus RTU slave made of pymodbus's own server, for testing the engine against a peer that
shares no code with the program.

socat links two pseudo-terminals; pymodbus serves one of them and the engine opens the other.
Holding registers 0..255 of the given unit hold (i * 257 + 0x1234) & 0xFFFF, except registers
100..105, which hold the big-endian floats 1.5, -273.15 and 1000000.0. Reading register 255 makes
the datastore fail, which pymodbus answers with exception 04. Other units get no answer.

Lines on standard output, flushed at once:
  ready PATH            the engine's side of the line
  request HEX           every frame with a good check that reached the framer
  write ADDR V1 V2 ...  every register write that reached the datastore
  error TEXT            the server could not be started (then exit status 3)
The server stops when its standard input closes or on SIGTERM, and takes socat with it.
"""

import argparse
import asyncio
import logging
import os
import signal
import struct
import subprocess
import sys
import tempfile
import time


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def fail(text):
    say("error " + text)
    sys.exit(3)


try:
    from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                    ModbusSlaveContext)
    from pymodbus.framer.rtu_framer import ModbusRtuFramer
    from pymodbus.server import StartAsyncSerialServer
except ImportError as exc:  # the test turns this into a clear failure
    fail(f"pymodbus is not usable with {sys.executable}: {exc} (install python3-pymodbus python3-serial python3-serial-asyncio)")

REGISTERS = 256
FAULTY_REGISTER = 255
FLOATS_AT = 100
FLOATS = (1.5, -273.15, 1000000.0)


def initial_registers():
    values = [(i * 257 + 0x1234) & 0xFFFF for i in range(REGISTERS)]
    for k, value in enumerate(FLOATS):
        hi, lo = struct.unpack(">HH", struct.pack(">f", value))
        values[FLOATS_AT + 2 * k] = hi
        values[FLOATS_AT + 2 * k + 1] = lo
    return values


class ReportingBlock(ModbusSequentialDataBlock):
    """Reports writes; fails reads of the faulty register as a broken store would."""

    def getValues(self, address, count=1):
        if address <= FAULTY_REGISTER < address + count:
            raise RuntimeError("register store failure")
        return super().getValues(address, count)

    def setValues(self, address, values):
        if not isinstance(values, list):
            values = [values]
        say("write " + " ".join(str(v) for v in [address] + list(values)))
        super().setValues(address, values)


class ReportingFramer(ModbusRtuFramer):
    """Reports every complete frame with a good check before pymodbus handles it."""

    def _process(self, callback, error=False):
        size = self._header.get("len", 0)
        say("request " + self._buffer[:size].hex(" ").upper())
        super()._process(callback, error)


def start_socat(folder):
    server_side = os.path.join(folder, "server")
    engine_side = os.path.join(folder, "engine")
    try:
        socat = subprocess.Popen(
            ["socat", f"PTY,rawer,echo=0,link={server_side}", f"PTY,rawer,echo=0,link={engine_side}"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    except FileNotFoundError:
        fail("socat is not installed (install socat)")
    deadline = time.monotonic() + 10
    while not (os.path.exists(server_side) and os.path.exists(engine_side)):
        if socat.poll() is not None:
            fail("socat stopped: " + socat.stderr.read().decode(errors="replace").strip())
        if time.monotonic() > deadline:
            socat.kill()
            fail("socat made no pseudo-terminals")
        time.sleep(0.01)
    return socat, server_side, os.path.realpath(engine_side)


async def serve(unit, server_side, engine_side):
    store = ModbusSlaveContext(hr=ReportingBlock(0, initial_registers()), zero_mode=True)
    context = ModbusServerContext(slaves={unit: store}, single=False)
    server = await StartAsyncSerialServer(
        context=context, framer=ReportingFramer, port=server_side, baudrate=115200,
        ignore_missing_slaves=True, defer_start=True)
    await server.start()
    if server.transport is None:
        fail("pymodbus could not open " + server_side)

    loop = asyncio.get_running_loop()
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)

    def on_stdin():
        if not os.read(sys.stdin.fileno(), 4096):
            loop.remove_reader(sys.stdin.fileno())
            stop.set()

    loop.add_reader(sys.stdin.fileno(), on_stdin)
    say("ready " + engine_side)
    await stop.wait()
    await server.shutdown()


def main():
    # pymodbus logs every exception answer it sends as an error; here they are the point.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    parser = argparse.ArgumentParser()
    parser.add_argument("--unit", type=int, default=17)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="kest-peer-") as folder:
        socat, server_side, engine_side = start_socat(folder)
        try:
            asyncio.run(serve(args.unit, server_side, engine_side))
        finally:
            socat.terminate()
            try:
                socat.wait(5)
            except subprocess.TimeoutExpired:
                socat.kill()


if __name__ == "__main__":
    main()
