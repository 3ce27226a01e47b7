#!/usr/bin/env python3
"""Asks an X window to close the way a window manager does: a WM_DELETE_WINDOW client message.

Usage: xwindow.py close <window id>
"""
import sys

from Xlib import X, display, protocol


def close(window_id):
    d = display.Display()
    window = d.create_resource_object("window", window_id)
    protocols = d.intern_atom("WM_PROTOCOLS")
    delete = d.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(window=window, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(event, event_mask=X.NoEventMask)
    d.flush()
    d.close()


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] != "close":
        sys.exit(__doc__)
    close(int(sys.argv[2], 0))
