#pragma once

#include <functional>

class frmUpdate;
class Inet;
class UpdateSession;

// The updater program's whole life: the application, the window, the run in
// the game folder (on a thread of its own) and the event loop until PLAY or
// EXIT. `attach` sees the window and the run on the window's thread before
// the run starts (benchmarks watch them; what it connects to the run is
// queued to the run's thread); `network` sees the transfer engine first, on
// the run's thread (benchmarks trust a test authority there; the program
// passes nothing).
int runQuorvane(int argc, char* argv[],
                const std::function<void(frmUpdate&, UpdateSession&)>& attach = {},
                const std::function<void(Inet&)>& network = {});
