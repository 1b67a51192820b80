#!/usr/bin/env python3
"""The server side of memory-soak.sh: takes one agent and sends it echo requests of 64 B to
64 KiB for the session toolbox at a steady pace, one at a time, printing the agent's
resident memory, threads and open file descriptors once a minute:

    memory-soak.py <port file> <process pattern> <minutes> <messages per second>"""
import importlib.util
import os
import sys
import time

# The connection and the memory reading are the memory test's own.
_spec = importlib.util.spec_from_file_location(
    "echo_load", os.path.join(os.path.dirname(__file__), "../tests/wine/echo-load.py"))
echo_load = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(echo_load)


def threads_and_descriptors(pattern):
    threads = descriptors = 0
    for pid in echo_load.agent_pids(pattern):
        with open(f"/proc/{pid}/status") as status:
            threads += sum(int(line.split()[1]) for line in status if line.startswith("Threads:"))
        descriptors += len(os.listdir(f"/proc/{pid}/fd"))
    return threads, descriptors


def main():
    port_file, pattern = sys.argv[1], sys.argv[2]
    minutes, rate = int(sys.argv[3]), float(sys.argv[4])
    agent = echo_load.serve(port_file)
    start = time.monotonic()
    sent = 0
    print("minute messages resident_KiB threads descriptors", flush=True)
    for minute in range(minutes + 1):
        print(minute, sent, echo_load.resident_kib(pattern), *threads_and_descriptors(pattern),
              flush=True)
        while minute < minutes and time.monotonic() - start < (minute + 1) * 60:
            if not agent.echo(sent, 65536):
                sys.exit(f"memory-soak: the reply to {sent} did not carry its tag")
            sent += 1
            time.sleep(max(0.0, start + sent / rate - time.monotonic()))
    agent.connection.sendall(b"Request=CloseSession\n\0")
    return 0


if __name__ == "__main__":
    sys.exit(main())
