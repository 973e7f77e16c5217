#!/usr/bin/env python3
"""A hostile peer for qnsdk, inside the test's network namespace.

Finds the TCP ports the qnsdk process listens on and, for the given number
of seconds, either announces devices whose LOCATION names one of those
ports (so that qnsdk would fetch from itself), or sends NOTIFY requests
with SIDs of no subscription to them (forged events whose variable says
FORGED). Prints what it sent on standard error.
  hostile_peer.py location|event SECONDS
"""
import re
import socket
import subprocess
import sys
import time


def qnsdk_ports():
    out = subprocess.run(["ss", "-ltnp"], capture_output=True, text=True).stdout
    ports = set()
    for line in out.splitlines():
        m = re.search(r":(\d+)\s", line)
        if "qnsdk" in line and m:
            ports.add(int(m.group(1)))
    return sorted(ports)


def announce(port, n):
    msg = ("NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\n"
           f"LOCATION: http://127.0.0.1:{port}/own.xml\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\n"
           f"SERVER: x UPnP/1.0 y\r\nUSN: uuid:hostile-{n}::upnp:rootdevice\r\n\r\n")
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
    s.sendto(msg.encode(), ("239.255.255.250", 1900))
    s.close()


def forge_event(port, n):
    body = ('<e:propertyset xmlns:e="urn:schemas-upnp-org:event-1-0"><e:property>'
            '<Status>FORGED</Status></e:property></e:propertyset>')
    req = (f"NOTIFY /eventCB HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nContent-Type: text/xml\r\n"
           f"NT: upnp:event\r\nNTS: upnp:propchange\r\nSID: uuid:forged-{n}\r\nSEQ: 0\r\n"
           f"Content-Length: {len(body)}\r\n\r\n{body}")
    with socket.create_connection(("127.0.0.1", port), timeout=1) as c:
        c.sendall(req.encode())
        c.settimeout(1)
        c.recv(100)


def main():
    mode, seconds = sys.argv[1], float(sys.argv[2])
    until = time.time() + seconds
    sent = 0
    while time.time() < until:
        for port in qnsdk_ports():
            try:
                (announce if mode == "location" else forge_event)(port, sent)
                sent += 1
            except OSError:
                pass
        time.sleep(0.3)
    print(f"hostile peer: {sent} {mode} messages", file=sys.stderr)


main()
