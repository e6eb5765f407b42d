// The end of every event: the menu's refresh, the windows marked closing destroyed, the newest
// window presented and its focused field made editable.
#pragma once

// Ends the current event: the menu's refresh, the windows of CMs marked closing destroyed (newest
// first; one a routine still runs on stays marked for the end of the outermost event), the newest
// window presented and, with predisplay, its focused field made editable. A call made while one
// runs does nothing.
void ccallbacks_finish_event(int destroy, int predisplay);
