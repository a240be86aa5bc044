// A window the SDK creates inside the caller's window, on an X connection of
// its own, that video is drawn into. Being a child of the caller's window, it
// makes X clip the caller's own painting around the video, and it is kept the
// size of its parent. Only exposures are selected on it, so that keys and
// clicks over the video still reach the caller's window. X errors on its
// connection never end the process, and it is destroyed through its id only
// while that id still names a child of the caller's window. Until video is
// drawn it can say why there is none, in text drawn on its own connection.
#ifndef CHILDWINDOW_H
#define CHILDWINDOW_H

#include <memory>
#include <string>
#include <vector>

typedef struct _XDisplay Display;

class ChildWindow
{
public:
    // Nullptr when no X display can be opened or parent names no window on it.
    static std::unique_ptr<ChildWindow> create(unsigned long parent);
    ~ChildWindow();
    ChildWindow(const ChildWindow &) = delete;
    ChildWindow &operator=(const ChildWindow &) = delete;

    unsigned long id() const { return m_child; }
    const std::string &displayName() const { return m_displayName; }
    int connectionFd() const;
    // The caller destroyed its window, and with it this one.
    bool parentGone() const { return m_parentGone; }

    struct Changes
    {
        bool resized = false;
        bool exposed = false; // part of the picture must be drawn again
    };
    // Handles the X events that arrived, following the parent's size.
    Changes processEvents();

    // Clears the window to black and draws text on it, centred and in as
    // many lines as its width needs; call again to draw it after an exposure
    // or a resize. The sink's next frame covers it.
    void showStatus(const std::string &text);
    // The text is not drawn again: the window shows video.
    void clearStatus() { m_status.clear(); }
    const std::string &status() const { return m_status; }

    // For when the connection that made the window is stuck in another thread.
    // Does nothing unless window is still a child of parent.
    static void destroyFromElsewhere(const std::string &displayName, unsigned long parent,
                                     unsigned long window);

private:
    ChildWindow(Display *display, unsigned long parent, unsigned long child, int width, int height);

    // The font and colour of the status text, made when first needed.
    struct Lettering;
    std::vector<std::string> linesOf(const std::string &text) const;

    Display *m_display;
    unsigned long m_parent;
    unsigned long m_child;
    int m_width;
    int m_height;
    bool m_parentGone = false;
    std::string m_displayName;
    std::unique_ptr<Lettering> m_lettering;
    std::string m_status;
};

#endif // CHILDWINDOW_H
