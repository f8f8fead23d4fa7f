#include "platform/linux/browser/X11Windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>

namespace valdrune {

namespace {

// A window that vanishes between two calls must not end the process, which is what Xlib's
// default error handler does.
int IgnoreXError(::Display*, XErrorEvent*) { return 0; }

::Display* Dpy(void* d) { return static_cast<::Display*>(d); }

bool HasProperty(::Display* d, Window w, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int rc = XGetWindowProperty(d, w, property, 0, 0, False, AnyPropertyType, &type, &format,
                                      &count, &after, &data);
    if (data) XFree(data);
    return rc == Success && type != None;
}

std::vector<Window> WindowListProperty(::Display* d, Window root, Atom property) {
    std::vector<Window> out;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, root, property, 0, 65536, False, XA_WINDOW, &type, &format, &count,
                           &after, &data) == Success &&
        data && type == XA_WINDOW && format == 32) {
        const auto* windows = reinterpret_cast<const unsigned long*>(data);
        out.assign(windows, windows + count);
    }
    if (data) XFree(data);
    return out;
}

std::string Title(::Display* d, Window w) {
    const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data) == Success &&
        data && type == utf8 && format == 8) {
        title.assign(reinterpret_cast<const char*>(data), count);
    }
    if (data) XFree(data);
    if (!title.empty()) return title;
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

// The client window of a frame: the window itself when it carries WM_STATE, else the first
// descendant that does.
Window ClientOf(::Display* d, Window w, Atom wmState, int depth = 0) {
    if (HasProperty(d, w, wmState)) return w;
    if (depth > 3) return None;
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned int n = 0;
    Window found = None;
    if (XQueryTree(d, w, &root, &parent, &children, &n)) {
        for (unsigned int i = 0; i < n && found == None; ++i) {
            found = ClientOf(d, children[i], wmState, depth + 1);
        }
    }
    if (children) XFree(children);
    return found;
}

}  // namespace

X11Windows::X11Windows(std::string displayName) : displayName_(std::move(displayName)) {}

X11Windows::~X11Windows() {
    if (display_) XCloseDisplay(Dpy(display_));
}

void* X11Windows::Display() const {
    if (!tried_) {
        tried_ = true;
        const char* name = displayName_.empty() ? std::getenv("DISPLAY") : displayName_.c_str();
        if (name && *name) {
            XSetErrorHandler(IgnoreXError);
            display_ = XOpenDisplay(name);
        }
    }
    return display_;
}

std::vector<TopLevelWindow> X11Windows::List() const {
    std::vector<TopLevelWindow> out;
    ::Display* d = Dpy(Display());
    if (!d) return out;
    const Window root = DefaultRootWindow(d);
    const Atom wmState = XInternAtom(d, "WM_STATE", False);

    // With a window manager: its stacking list (bottom first). Without: the root's mapped
    // children in stacking order (bottom first), or their client windows inside frames.
    std::vector<Window> stack =
        WindowListProperty(d, root, XInternAtom(d, "_NET_CLIENT_LIST_STACKING", False));
    if (stack.empty()) {
        Window r = None, parent = None;
        Window* children = nullptr;
        unsigned int n = 0;
        if (XQueryTree(d, root, &r, &parent, &children, &n)) {
            for (unsigned int i = 0; i < n; ++i) {
                XWindowAttributes attributes{};
                if (!XGetWindowAttributes(d, children[i], &attributes) ||
                    attributes.map_state != IsViewable || attributes.override_redirect) {
                    continue;
                }
                const Window client = ClientOf(d, children[i], wmState);
                stack.push_back(client != None ? client : children[i]);
            }
        }
        if (children) XFree(children);
    }
    std::reverse(stack.begin(), stack.end());  // top of the stacking order first
    for (const Window w : stack) {
        TopLevelWindow t;
        t.handle = w;
        Window owner = None;
        t.hasOwner = XGetTransientForHint(d, w, &owner) && owner != None;
        t.title = Title(d, w);
        out.push_back(std::move(t));
    }
    return out;
}

void X11Windows::ShowMinimized(std::uint64_t handle) {
    ::Display* d = Dpy(Display());
    if (!d) return;
    XIconifyWindow(d, static_cast<Window>(handle), DefaultScreen(d));
    XFlush(d);
}

}  // namespace valdrune
