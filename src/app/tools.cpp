#include "tools.h"

#include "frmaudio.h"
#include "frmnorvoedit.h"
#include "frmnorvoftp.h"
#include "frmnorvohost.h"
#include "frmnorvoip.h"
#include "frmnorvoping.h"
#include "frmnorvoroute.h"
#include "frmoptions.h"
#include "frmportscan.h"
#include "frmtcpstat.h"
#include "frmtcptable.h"
#include "toolwindow.h"

// Each subsystem's tool windows, keyed by class name; the main window opens them by that name.
void registerTools(ToolWindowRegistry &registry)
{
    registry.registerFactory("frmAudio", [] { return new frmAudio; });
    registry.registerFactory("frmNorvoEdit", [] { return new frmNorvoEdit; });
    registry.registerFactory("frmNorvoFTP", [] { return new frmNorvoFTP; });
    registry.registerFactory("frmNorvoHost", [] { return new frmNorvoHost; });
    registry.registerFactory("frmNorvoIP", [] { return new frmNorvoIP; });
    registry.registerFactory("frmNorvoPing", [] { return new frmNorvoPing; });
    registry.registerFactory("frmNorvoRoute", [] { return new frmNorvoRoute; });
    registry.registerFactory("frmOptions", [] { return new frmOptions; });
    registry.registerFactory("frmPortScan", [] { return new frmPortScan; });
    registry.registerFactory("frmTCPStat", [] { return new frmTCPStat; });
    registry.registerFactory("frmTCPTable", [] { return new frmTCPTable; });
}
