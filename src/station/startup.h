// The station's start-up, in order: the single-instance rule, flasher.ini, the plug-in, the
// log, the agent image, then the window (fixture rows, monitor, timer, title, summary) until
// the operator quits.
#pragma once

#include "station_view.h"

extern const char kAboutDescription[];
extern const char kAboutMd5Notice[];

// 0 once the operator has quit; 1 when start-up was refused (the view has shown why).
int WinMain(station_view &view);

// Window initialisation, on the window thread: fixture rows, monitor thread, timer, title,
// configuration summary.
void InitDialog(HWND wnd);

// The monitor thread's body with the station's own job.
unsigned long MonitorThreadProc(void *lpParam);
