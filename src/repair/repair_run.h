#pragma once

#include "platform/background.h"

// One repair of the working folder in three passes: Gerber files get "FSL"
// for "FSD", the drill report's tool table is cut out, and every drill file
// gets an "INCH,LZ" header with that table after its first line. Progress
// goes to standard output; any failure raises and ends the run. The files it
// replaced are let go of on `releases`, which may still be at it on return.
void RunCamRepair(platform::Background& releases);
