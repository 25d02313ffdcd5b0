// paint.h (draw): draws the painter's decisions into the back buffer under the frame's flat
// -256..256 projection. Main thread, inside the frame, with frame_rendering_mutex held.
#pragma once

#include "world/paint.h"

void draw_paint_report(const paint_report &rep);  // draws what paint_decide decided
