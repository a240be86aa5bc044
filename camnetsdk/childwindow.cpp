#include "childwindow.h"

#include <X11/Xlib.h>

#include <map>
#include <mutex>

namespace {

// Errors of the SDK's own connections are recorded per connection and never
// reach a handler that might end the process; those of other connections go
// to whatever handler the host installed, unless that is Xlib's default.
std::mutex trapMutex;
std::map<Display *, int> ownConnections;
XErrorHandler hostHandler = nullptr;
XErrorHandler xlibDefaultHandler = nullptr;

int onXError(Display *display, XErrorEvent *event)
{
    {
        std::lock_guard<std::mutex> lock(trapMutex);
        const auto it = ownConnections.find(display);
        if (it != ownConnections.end()) {
            it->second = event->error_code;
            return 0;
        }
    }
    if (hostHandler && hostHandler != xlibDefaultHandler)
        return hostHandler(display, event);
    return 0;
}

void installErrorHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Setting null restores Xlib's default, whose address the next call returns.
        hostHandler = XSetErrorHandler(nullptr);
        xlibDefaultHandler = XSetErrorHandler(onXError);
    });
}

void own(Display *display)
{
    std::lock_guard<std::mutex> lock(trapMutex);
    ownConnections[display] = Success;
}

void disown(Display *display)
{
    std::lock_guard<std::mutex> lock(trapMutex);
    ownConnections.erase(display);
}

// The error code of the requests sent since the last call, after a round trip.
int takeError(Display *display)
{
    XSync(display, False);
    std::lock_guard<std::mutex> lock(trapMutex);
    const int code = ownConnections[display];
    ownConnections[display] = Success;
    return code;
}

// Once its window is gone an id may be handed to another client's window;
// only one still inside the parent it was made in is ours.
bool stillChildOf(Display *display, Window window, Window parent)
{
    Window root = 0;
    Window actualParent = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    const Status found = XQueryTree(display, window, &root, &actualParent, &children, &count);
    if (children)
        XFree(children);
    return takeError(display) == Success && found && actualParent == parent;
}

} // namespace

std::unique_ptr<ChildWindow> ChildWindow::create(unsigned long parent)
{
    if (parent == 0)
        return nullptr;
    installErrorHandler();
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    own(display);

    XWindowAttributes attributes;
    const Status found = XGetWindowAttributes(display, Window(parent), &attributes);
    if (!found || takeError(display) != Success) {
        disown(display);
        XCloseDisplay(display);
        return nullptr;
    }
    // Selected before the child exists, so that no resize is missed.
    XSelectInput(display, Window(parent), StructureNotifyMask);
    const int width = attributes.width > 0 ? attributes.width : 1;
    const int height = attributes.height > 0 ? attributes.height : 1;
    const unsigned long black = BlackPixel(display, DefaultScreen(display));
    const Window child = XCreateSimpleWindow(display, Window(parent), 0, 0, unsigned(width),
                                             unsigned(height), 0, black, black);
    XSelectInput(display, child, ExposureMask);
    XMapWindow(display, child);
    if (takeError(display) != Success) {
        disown(display);
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<ChildWindow>(new ChildWindow(display, parent, child, width, height));
}

ChildWindow::ChildWindow(Display *display, unsigned long parent, unsigned long child, int width,
                         int height)
    : m_display(display), m_parent(parent), m_child(child), m_width(width), m_height(height),
      m_displayName(DisplayString(display))
{
}

ChildWindow::~ChildWindow()
{
    // A parent destroyed first has taken its children with it.
    if (!m_parentGone && stillChildOf(m_display, Window(m_child), Window(m_parent)))
        XDestroyWindow(m_display, Window(m_child));
    XSync(m_display, False);
    disown(m_display);
    XCloseDisplay(m_display);
}

int ChildWindow::connectionFd() const
{
    return ConnectionNumber(m_display);
}

ChildWindow::Changes ChildWindow::processEvents()
{
    Changes changes;
    do {
        bool sizeChanged = false;
        while (XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == Expose && event.xexpose.window == Window(m_child)) {
                changes.exposed = true;
            } else if (event.type == ConfigureNotify &&
                       event.xconfigure.window == Window(m_parent)) {
                const int width = event.xconfigure.width > 0 ? event.xconfigure.width : 1;
                const int height = event.xconfigure.height > 0 ? event.xconfigure.height : 1;
                if (width != m_width || height != m_height) {
                    m_width = width;
                    m_height = height;
                    sizeChanged = true;
                }
            } else if (event.type == DestroyNotify &&
                       event.xdestroywindow.window == Window(m_parent)) {
                m_parentGone = true;
            }
        }
        if (sizeChanged && !m_parentGone) {
            XResizeWindow(m_display, Window(m_child), unsigned(m_width), unsigned(m_height));
            // The sink reads the new size through a connection of its own.
            takeError(m_display);
            changes.resized = true;
        }
        // The round trip may have queued events that the descriptor no longer announces.
    } while (XQLength(m_display) > 0);
    return changes;
}

void ChildWindow::destroyFromElsewhere(const std::string &displayName, unsigned long parent,
                                       unsigned long window)
{
    installErrorHandler();
    Display *display = XOpenDisplay(displayName.c_str());
    if (!display)
        return;
    own(display);
    if (stillChildOf(display, Window(window), Window(parent))) {
        XDestroyWindow(display, Window(window));
        takeError(display);
    }
    disown(display);
    XCloseDisplay(display);
}
