// An X11 atom by name, for the few places that speak to the X server beside
// Qt. Include only where <xcb/xcb.h> exists (Linux with X11).
#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace x11 {

// XCB_ATOM_NONE when the server does not answer.
inline xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

}  // namespace x11
