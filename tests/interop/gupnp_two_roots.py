#!/usr/bin/python3
"""Two root devices of one GUPnP process on one address and port, as a media
server and a renderer of one program are: the network-light description
twice, with UDNs ending in a and b, served from one web server.

Usage: gupnp_two_roots.py DESC_DIR [ADDRESS]
Prints "READY <description URL a> <description URL b>" once both are
announced; runs until it is terminated. The tests start it inside their
private network namespace only."""
import os
import re
import sys

from gupnp_light import GUPnP, open_context, publish, say, serve_until_terminated


def main():
    desc_dir, context = open_context(sys.argv)
    folder = publish(desc_dir)
    with open(os.path.join(folder, "network-light-desc.xml")) as source:
        text = source.read()
    roots = []
    for suffix in ("a", "b"):
        name = "root-%s.xml" % suffix
        udn = "<UDN>uuid:23b0189c-549f-11dc-a7c7-00164159700%s</UDN>" % suffix
        with open(os.path.join(folder, name), "w") as out:
            out.write(re.sub(r"<UDN>[^<]*</UDN>", udn, text))
        root = GUPnP.RootDevice.new(context, name, folder)
        root.set_available(True)
        roots.append(root)
    say("READY " + " ".join(root.get_location() for root in roots))
    serve_until_terminated(folder)


if __name__ == "__main__":
    main()
