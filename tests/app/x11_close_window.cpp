// Asks the top-level window with the given title to close, the way a window
// manager's close button does (WM_DELETE_WINDOW), so a test can check that the
// studio then exits cleanly. Exit status 0 when a window was found and asked.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

static Window findByName(Display *display, Window window, const char *title)
{
    char *name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        const bool match = std::strcmp(name, title) == 0;
        XFree(name);
        if (match)
            return window;
    }
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count && !found; ++i)
            found = findByName(display, children[i], title);
        if (children)
            XFree(children);
    }
    return found;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <window title>\n", argv[0]);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open display\n");
        return 2;
    }
    const Window window = findByName(display, DefaultRootWindow(display), argv[1]);
    if (!window) {
        std::fprintf(stderr, "no window titled \"%s\"\n", argv[1]);
        XCloseDisplay(display);
        return 1;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
    return 0;
}
