#pragma once

#include <functional>

class frmUpdate;
class UpdateSession;

// The updater program's whole life: the application, the window, the run in
// the game folder and the event loop until PLAY or EXIT. `attach` sees the
// window and the run before the run starts (benchmarks watch them).
int runQuorvane(int argc, char* argv[],
                const std::function<void(frmUpdate&, UpdateSession&)>& attach = {});
