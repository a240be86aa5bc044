/*
 * Asks an X client to close one of its windows the way a window manager does:
 * a WM_DELETE_WINDOW client message. Under a bare Xvfb there is no window
 * manager to send it, and xdotool's windowclose destroys the window instead.
 * usage: closewindow WINDOW_ID
 */
#include <X11/Xlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: closewindow WINDOW_ID\n");
        return 2;
    }
    char *end = NULL;
    const unsigned long window = strtoul(argv[1], &end, 0);
    if (!*argv[1] || *end || window == 0) {
        fprintf(stderr, "closewindow: not a window id: %s\n", argv[1]);
        return 2;
    }
    Display *display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "closewindow: cannot open the display\n");
        return 1;
    }
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = (Window)window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, (Window)window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent ? 0 : 1;
}
