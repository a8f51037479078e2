#pragma once

#include <string>
#include <string_view>

#include "platform/background.h"

// One repair of the working folder in three passes: Gerber files get "FSL"
// for "FSD", the drill report's tool table is cut out, and every drill file
// gets an "INCH,LZ" header with that table after its first line. Progress
// goes to standard output; any failure raises and ends the run. The files it
// replaced are let go of on `releases`, which may still be at it on return.
void RunCamRepair(platform::Background& releases);

// The tool table of a drill report's text (every line ended by CR LF): the
// text between the heading "T-Code   Size" and the first "----" after it,
// starting with the heading line's LF, with "C0." for every six spaces and a
// point. Empty when the heading or the end mark is missing.
std::string CutToolTable(std::string_view report);
