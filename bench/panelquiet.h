// Keeps the setting panel's trace of every write out of a benchmark's output:
// a line per step would bury the figures. Qt still formats each trace; only
// its output is dropped, so the cost measured stays the tool's own.
#ifndef PANELQUIET_H
#define PANELQUIET_H

class PanelQuiet
{
public:
    // Installs the filter for the rest of the process.
    static void install();
};

#endif // PANELQUIET_H
