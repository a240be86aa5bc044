#include "preview/childwindow.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <sstream>

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

// The status text's size suits previews from about 200x150 to 600x400 and
// is one that X servers have built in, which is all a bare Xvfb offers.
const char fontSetPattern[] = "-misc-fixed-medium-r-semicondensed--13-*-*-*-*-*-*-*,"
                              "-misc-fixed-medium-r-normal--13-*-*-*-*-*-*-*,"
                              "-*-*-medium-r-normal--13-*-*-*-*-*-*-*,fixed";
const char coreFontName[] = "fixed";
const char ellipsisText[] = "\u2026";
const char threeDots[] = "...";
// Lets the text keep off the window's edges.
constexpr int textMargin = 6;
constexpr int lineGap = 2;

bool endsWithNoCase(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() &&
           std::equal(tail.rbegin(), tail.rend(), text.rbegin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// Only a Unicode font of the set can hold the ellipsis, in its row 0x20. A
// font not loaded yet tells only its range, which then has to do.
bool drawsEllipsis(XFontSet set)
{
    XFontStruct **fonts = nullptr;
    char **names = nullptr;
    const int count = XFontsOfFontSet(set, &fonts, &names);
    const unsigned row = 0x20;
    const unsigned column = 0x26;
    for (int i = 0; i < count; ++i) {
        const XFontStruct *font = fonts[i];
        if (!font || !names[i] || !endsWithNoCase(names[i], "iso10646-1"))
            continue;
        if (row < font->min_byte1 || row > font->max_byte1 || column < font->min_char_or_byte2 ||
            column > font->max_char_or_byte2)
            continue;
        if (!font->per_char)
            return true;
        const unsigned columns = font->max_char_or_byte2 - font->min_char_or_byte2 + 1;
        const XCharStruct &glyph =
            font->per_char[(row - font->min_byte1) * columns + (column - font->min_char_or_byte2)];
        if (glyph.width != 0 || glyph.lbearing != glyph.rbearing)
            return true;
    }
    return false;
}

} // namespace

// A font set where the locale allows one, which draws UTF-8; else the core
// font every X server has built in. Three dots stand in for an ellipsis that
// no font at hand holds.
struct ChildWindow::Lettering
{
    Lettering(Display *display, Window window);
    ~Lettering();
    Lettering(const Lettering &) = delete;
    Lettering &operator=(const Lettering &) = delete;

    bool usable() const { return set || core; }
    std::string drawable(const std::string &text) const;
    int width(const std::string &text) const;
    void draw(Drawable target, int x, int y, const std::string &text) const;
    // The window's picture of the text: black with the lines centred on it.
    void compose(Drawable target, int width, int height,
                 const std::vector<std::string> &lines) const;

    Display *const display;
    XFontSet set = nullptr;
    XFontStruct *core = nullptr;
    bool hasEllipsis = false;
    GC gc = nullptr;
    unsigned long foreground = 0;
    unsigned long background = 0;
    int ascent = 0;
    int lineHeight = 0;
};

ChildWindow::Lettering::Lettering(Display *display, Window window) : display(display)
{
    if (XSupportsLocale()) {
        char **missing = nullptr;
        int missingCount = 0;
        char *fallbackText = nullptr;
        set = XCreateFontSet(display, fontSetPattern, &missing, &missingCount, &fallbackText);
        if (missing)
            XFreeStringList(missing);
    }
    if (set) {
        hasEllipsis = drawsEllipsis(set);
        const XFontSetExtents *extents = XExtentsOfFontSet(set);
        ascent = -extents->max_logical_extent.y;
        lineHeight = extents->max_logical_extent.height;
    } else if ((core = XLoadQueryFont(display, coreFontName))) {
        ascent = core->ascent;
        lineHeight = core->ascent + core->descent;
    }
    // Light grey on the black the window is cleared to.
    const int screen = DefaultScreen(display);
    XColor grey{};
    grey.red = grey.green = grey.blue = 0xdddd;
    foreground = XAllocColor(display, DefaultColormap(display, screen), &grey)
                     ? grey.pixel
                     : WhitePixel(display, screen);
    background = BlackPixel(display, screen);
    // Made on the window itself: its depth may not be the root's.
    gc = XCreateGC(display, window, 0, nullptr);
    XSetForeground(display, gc, foreground);
    if (core)
        XSetFont(display, gc, core->fid);
}

ChildWindow::Lettering::~Lettering()
{
    if (gc)
        XFreeGC(display, gc);
    if (set)
        XFreeFontSet(display, set);
    if (core)
        XFreeFont(display, core);
}

std::string ChildWindow::Lettering::drawable(const std::string &text) const
{
    if (hasEllipsis)
        return text;
    std::string result = text;
    for (size_t at = result.find(ellipsisText); at != std::string::npos;
         at = result.find(ellipsisText, at))
        result.replace(at, sizeof ellipsisText - 1, threeDots);
    return result;
}

int ChildWindow::Lettering::width(const std::string &text) const
{
    if (set)
        return Xutf8TextEscapement(set, text.data(), int(text.size()));
    return core ? XTextWidth(core, text.data(), int(text.size())) : 0;
}

void ChildWindow::Lettering::draw(Drawable target, int x, int y, const std::string &text) const
{
    if (set)
        Xutf8DrawString(display, target, set, gc, x, y, text.data(), int(text.size()));
    else if (core)
        XDrawString(display, target, gc, x, y, text.data(), int(text.size()));
}

void ChildWindow::Lettering::compose(Drawable target, int width, int height,
                                     const std::vector<std::string> &lines) const
{
    XSetForeground(display, gc, background);
    XFillRectangle(display, target, gc, 0, 0, unsigned(width), unsigned(height));
    XSetForeground(display, gc, foreground);
    const int step = lineHeight + lineGap;
    int baseline = (height - int(lines.size()) * step + lineGap) / 2 + ascent;
    for (const std::string &line : lines) {
        draw(target, std::max((width - this->width(line)) / 2, 0), baseline, line);
        baseline += step;
    }
}

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
    m_lettering.reset();
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

void ChildWindow::showStatus(const std::string &text)
{
    m_status = text;
    if (m_parentGone)
        return;
    if (!m_lettering)
        m_lettering = std::make_unique<Lettering>(m_display, Window(m_child));
    const Window window = Window(m_child);
    XWindowAttributes attributes{};
    if (!m_lettering->usable() || !XGetWindowAttributes(m_display, window, &attributes)) {
        XClearWindow(m_display, window);
    } else {
        // Composed off screen and copied in one request: a window cleared
        // but not yet lettered would flash black at every new attempt.
        const int width = std::max(m_width, 1);
        const int height = std::max(m_height, 1);
        const Pixmap canvas = XCreatePixmap(m_display, window, unsigned(width), unsigned(height),
                                            unsigned(attributes.depth));
        m_lettering->compose(canvas, width, height, linesOf(m_lettering->drawable(text)));
        XCopyArea(m_display, canvas, window, m_lettering->gc, 0, 0, unsigned(width),
                  unsigned(height), 0, 0);
        XFreePixmap(m_display, canvas);
    }
    // Drawn by the server before the caller looks whether a frame came
    // meanwhile, which the sink then has to draw again over the text.
    takeError(m_display);
}

std::vector<std::string> ChildWindow::linesOf(const std::string &text) const
{
    // A line for each part after a colon when the whole does not fit, and
    // whole words per line for a part that does not fit either; a word
    // wider than the window stands alone.
    const int room = m_width - 2 * textMargin;
    if (m_lettering->width(text) <= room)
        return {text};
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t colon = text.find(':', begin);
        const size_t end = colon == std::string::npos ? text.size() : colon + 1;
        std::istringstream words(text.substr(begin, end - begin));
        begin = end;
        bool first = true;
        std::string word;
        while (words >> word) {
            if (!first && m_lettering->width(lines.back() + ' ' + word) <= room)
                lines.back() += ' ' + word;
            else
                lines.push_back(word);
            first = false;
        }
    }
    return lines;
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
