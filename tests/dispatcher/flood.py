#!/usr/bin/env python3
"""Floods a `vanta dispatcher` and reports what it costs; run by hand, not
by ctest (its figures are wall-clock and memory, which a unit test must not
assert on).

    tests/dispatcher/flood.py <vanta> [--nofile 1024] [--idle 3000]
                              [--bodies 4000] [--body-kib 60]

The dispatcher runs with a descriptor limit of --nofile (soft and hard, as
`ulimit -n` sets them). Two rounds:
  idle    --idle connections that send nothing, then a whole negotiation
          (`vanta negotiate`, no registration) beside them: its time and
          exit status;
  bodies  --bodies connections, each sending the headers of a POST and
          --body-kib KiB of a longer body, then waiting: the dispatcher's
          resident memory before, while they hold their bodies, and after
          they have closed.
"""
import argparse
import os
import re
import resource
import select
import socket
import subprocess
import sys
import tempfile
import time


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        return int(re.search(r"VmRSS:\s+(\d+)", status.read()).group(1))


def start_dispatcher(vanta, work, nofile):
    ready = os.path.join(work, "ready")

    def limit():
        resource.setrlimit(resource.RLIMIT_NOFILE, (nofile, nofile))

    log = open(os.path.join(work, "dispatcher.log"), "w")
    process = subprocess.Popen(
        [vanta, "dispatcher", "--port", "0", "--monitor-port", "0", "--ready-file", ready],
        stdout=subprocess.DEVNULL, stderr=log, preexec_fn=limit)
    for _ in range(100):
        if os.path.exists(ready):
            ports = dict(line.split("=") for line in open(ready).read().split())
            return process, int(ports["dispatcher_port"])
        time.sleep(0.1)
    process.kill()
    sys.exit("the dispatcher did not get ready")


def open_connections(port, count, timeout=20.0):
    """count non-blocking connections to port; those connected within timeout."""
    pending, connected = [], []
    for _ in range(count):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setblocking(False)
        sock.connect_ex(("127.0.0.1", port))
        pending.append(sock)
    deadline = time.monotonic() + timeout
    while pending and time.monotonic() < deadline:
        poller = select.poll()
        by_fd = {sock.fileno(): sock for sock in pending}
        for fd in by_fd:
            poller.register(fd, select.POLLOUT)
        for fd, _ in poller.poll(500):
            sock = by_fd[fd]
            pending.remove(sock)
            if sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) == 0:
                connected.append(sock)
            else:
                sock.close()
    for sock in pending:
        sock.close()
    return connected


def idle_round(vanta, work, port, count):
    idle = open_connections(port, count)
    time.sleep(0.5)
    env = dict(os.environ, ComSpec="none", TEMP=work)
    begin = time.monotonic()
    result = subprocess.run(
        [vanta, "negotiate", "--gameid", "g", "--arbiter-base",
         f"http://127.0.0.1:{port}/dispatcher/"],
        env=env, capture_output=True, timeout=120)
    elapsed = time.monotonic() - begin
    print(f"idle: {len(idle)} of {count} connected; negotiation exit {result.returncode} "
          f"in {elapsed:.3f} s")
    if result.returncode != 0:
        print(result.stderr.decode(errors="replace").strip())
    for sock in idle:
        sock.close()


def bodies_round(pid, port, count, body_kib):
    body = b"x" * (body_kib * 1024)
    head = (b"POST /dispatcher/request_token HTTP/1.1\r\nHost: t\r\n"
            b"Content-Length: %d\r\n\r\n" % (len(body) + 1024))
    before = rss_kib(pid)
    conns = open_connections(port, count)
    held = 0
    for sock in conns:
        sock.setblocking(True)
        sock.settimeout(2.0)
        try:
            sock.sendall(head + body)
            held += 1
        except OSError:
            pass
    during = 0
    for _ in range(20):  # the highest over 4 s, while the dispatcher reads them
        during = max(during, rss_kib(pid))
        time.sleep(0.2)
    refused = 0
    for sock in conns:
        sock.setblocking(False)
        try:
            if sock.recv(64).startswith((b"HTTP/1.1 503", b"HTTP/1.1 413")):
                refused += 1
        except OSError:
            pass
        sock.close()
    time.sleep(2.0)
    after = rss_kib(pid)
    print(f"bodies: {len(conns)} connected, {held} sent {body_kib} KiB whole, {refused} refused; "
          f"resident {before / 1024:.1f} MB before, {during / 1024:.1f} MB holding, "
          f"{after / 1024:.1f} MB after")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("vanta")
    parser.add_argument("--nofile", type=int, default=1024)
    parser.add_argument("--idle", type=int, default=3000)
    parser.add_argument("--bodies", type=int, default=4000)
    parser.add_argument("--body-kib", type=int, default=60)
    args = parser.parse_args()
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    with tempfile.TemporaryDirectory() as work:
        process, port = start_dispatcher(args.vanta, work, args.nofile)
        try:
            idle_round(args.vanta, work, port, args.idle)
            bodies_round(process.pid, port, args.bodies, args.body_kib)
        finally:
            process.terminate()
            process.wait(timeout=10)


if __name__ == "__main__":
    main()
