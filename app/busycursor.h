// Shows Qt's wait cursor while the tool blocks on the camera and takes it away
// again on every way out of the wait. Guards may nest.
#ifndef BUSYCURSOR_H
#define BUSYCURSOR_H

class BusyCursor
{
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;

    // For a message box in the middle of a wait: the user, not the camera,
    // is what the tool waits for then.
    void release();
    void acquire();

private:
    bool m_shown = false;
};

#endif // BUSYCURSOR_H
