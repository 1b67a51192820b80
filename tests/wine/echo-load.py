#!/usr/bin/env python3
"""The server side of memory-flat.sh: listens on the loopback, takes one agent, and after its
session request sends it echo requests for the session toolbox, one at a time, so that the
heap reuses each freed block at once and a block left behind shows. It reads the agent's
resident memory after the warm-up and again after the measured run:

    echo-load.py <port file> <process pattern> <warm-up> <count> <largest size> <most growth KiB>

The port goes to <port file> once listening; <process pattern> finds the agent (pgrep -f).
It prints both figures and exits 1 when the memory grew by more than allowed or a reply did
not carry its request's tag; a connection that fails or ends early ends it with a message."""
import random
import socket
import os
import subprocess
import sys


def agent_pids(pattern):
    """The processes whose command line matches, this one left out: its own arguments hold
    the pattern too."""
    pids = subprocess.run(["pgrep", "-f", pattern], capture_output=True, text=True).stdout.split()
    return [pid for pid in pids if int(pid) != os.getpid()]


def resident_kib(pattern):
    total = 0
    for pid in agent_pids(pattern):
        try:
            with open(f"/proc/{pid}/status") as status:
                total += sum(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))
        except OSError:
            pass
    return total


class Agent:
    def __init__(self, connection):
        self.connection = connection
        self.pending = b""
        self.sizes = random.Random(0)

    def receive(self):
        while b"\0" not in self.pending:
            data = self.connection.recv(1 << 16)
            if not data:
                sys.exit("echo-load: the agent closed the connection")
            self.pending += data
        message, _, self.pending = self.pending.partition(b"\0")
        return message

    def echo(self, tag, largest):
        """One echo request of a random size up to largest; True when its reply came back."""
        self.connection.sendall(b"Request=Echo\nAction=Echo\nTag=%d\nData=%s\n\0"
                                % (tag, b"x" * self.sizes.randint(64, largest)))
        reply = self.receive()
        while not reply.startswith(b"Request=Echo\n"):
            reply = self.receive()
        return b"\nTag=%d\n" % tag in reply


def serve(port_file):
    """The agent that connected to a new listener, once its session request has come."""
    listener = socket.create_server(("127.0.0.1", 0))
    with open(port_file, "w") as file:
        file.write(str(listener.getsockname()[1]))
    listener.settimeout(60)
    connection, _ = listener.accept()
    connection.settimeout(60)
    agent = Agent(connection)
    while not agent.receive().startswith(b"Request=CreateSession"):
        pass
    return agent


def main():
    port_file, pattern = sys.argv[1], sys.argv[2]
    warm_up, count, size, most_growth = (int(argument) for argument in sys.argv[3:7])
    agent = serve(port_file)
    whole = all([agent.echo(tag, size) for tag in range(warm_up)])
    before = resident_kib(pattern)
    whole = all([agent.echo(tag, size) for tag in range(warm_up, warm_up + count)]) and whole
    after = resident_kib(pattern)
    agent.connection.sendall(b"Request=CloseSession\n\0")
    print(f"resident memory after {warm_up} echoes of up to {size} bytes: {before} KiB; "
          f"after {count} more: {after} KiB ({after - before:+d} KiB)")
    if not whole:
        print("echo-load: a reply did not carry its request's tag")
    grew = after - before > most_growth
    if grew:
        print(f"echo-load: the agent grew by more than {most_growth} KiB")
    return 1 if grew or not whole else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (OSError, socket.timeout) as error:
        sys.exit(f"echo-load: {error}")
