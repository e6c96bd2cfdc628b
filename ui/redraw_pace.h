// While a run is active, the log list and the progress bar are drawn at the screen's pace,
// a few times a second, instead of inside every line and position the run sends them: on a
// slow, remote or emulated display that drawing costs more than the conversion itself.
// The lines, their order and the positions are untouched; only when they reach the screen
// changes. The user's own scrolling, clicking and keys draw at once, as always.
#pragma once

#include "platform.h"

// How often the screen catches up with a run.
constexpr UINT kRedrawPaceMilliseconds = 200;

// Called once the controls exist. A run's start and end are the Start button's disabling
// and enabling: between the two, drawing is paced.
void PaceRedrawDuringRuns(HWND window);
