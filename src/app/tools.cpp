#include "tools.h"

#include "toolwindow.h"

// Each subsystem's tool windows, keyed by class name; the main window opens them by that name.
void registerTools(ToolWindowRegistry &registry)
{
    (void)registry;
}
