#!/usr/bin/env python3
"""The server side of memory-flat.sh: listens on the loopback, takes one agent, and after its
session request sends it echo requests for the session toolbox, a few in flight at a time.
It reads the agent's resident memory after the warm-up and again after the measured run:

    echo-load.py <port file> <process pattern> <warm-up> <count> <largest size> <most growth KiB>

The port goes to <port file> once listening; <process pattern> finds the agent (pgrep -f).
It prints both figures and exits 1 when the memory grew by more than allowed or a reply was
lost or came twice; a connection that fails or ends early ends it with a message."""
import random
import socket
import subprocess
import sys
import threading

# One at a time: the heap then reuses each freed block at once, so a block left behind shows.
IN_FLIGHT = 1


def resident_kib(pattern):
    pids = subprocess.run(["pgrep", "-f", pattern], capture_output=True, text=True).stdout.split()
    total = 0
    for pid in pids:
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

    def receive(self):
        while b"\0" not in self.pending:
            data = self.connection.recv(1 << 16)
            if not data:
                sys.exit("echo-load: the agent closed the connection")
            self.pending += data
        message, _, self.pending = self.pending.partition(b"\0")
        return message

    def echo_round(self, first, count, largest):
        """Sends count echo requests tagged from first on; True when each came back once. The
        agent handles them concurrently, so the replies may come in any order."""
        slots = threading.Semaphore(IN_FLIGHT)
        sizes = random.Random(first)

        def send_all():
            for tag in range(first, first + count):
                slots.acquire()
                self.connection.sendall(
                    b"Request=Echo\nAction=Echo\nTag=%d\nData=%s\n\0"
                    % (tag, b"x" * sizes.randint(64, largest)))

        sender = threading.Thread(target=send_all)
        sender.start()
        returned = []
        for _ in range(count):
            reply = self.receive()
            while not reply.startswith(b"Request=Echo\n"):
                reply = self.receive()
            returned.append(int(reply.split(b"\nTag=")[1].split(b"\n")[0]))
            slots.release()
        sender.join()
        return sorted(returned) == list(range(first, first + count))


def main():
    port_file, pattern = sys.argv[1], sys.argv[2]
    warm_up, count, size, most_growth = (int(argument) for argument in sys.argv[3:7])
    listener = socket.create_server(("127.0.0.1", 0))
    with open(port_file, "w") as file:
        file.write(str(listener.getsockname()[1]))
    listener.settimeout(60)
    connection, _ = listener.accept()
    connection.settimeout(60)
    agent = Agent(connection)
    while not agent.receive().startswith(b"Request=CreateSession"):
        pass
    whole = agent.echo_round(0, warm_up, size)
    before = resident_kib(pattern)
    whole = agent.echo_round(warm_up, count, size) and whole
    after = resident_kib(pattern)
    connection.sendall(b"Request=CloseSession\n\0")
    print(f"resident memory after {warm_up} echoes of up to {size} bytes: {before} KiB; "
          f"after {count} more: {after} KiB ({after - before:+d} KiB)")
    if not whole:
        print("echo-load: a reply was lost or came twice")
    grew = after - before > most_growth
    if grew:
        print(f"echo-load: the agent grew by more than {most_growth} KiB")
    return 1 if grew or not whole else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (OSError, socket.timeout) as error:
        sys.exit(f"echo-load: {error}")
