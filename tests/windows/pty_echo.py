#!/usr/bin/env python3
"""A loop-back instrument for the Windows serial tests: a pseudo-terminal
whose every byte is sent straight back, reached by wine as COM<n> through a
symbolic link in the prefix's dosdevices. Runs until killed."""
import os
import select
import sys
import tty

def main():
    link = sys.argv[1]
    master, slave = os.openpty()
    tty.setraw(slave)
    name = os.ttyname(slave)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(name, link)
    print(name, flush=True)
    while True:
        select.select([master], [], [])
        os.write(master, os.read(master, 4096))

main()
