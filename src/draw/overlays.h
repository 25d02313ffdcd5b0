// overlays.h: the help and communication-error screens floating above the field, and the
// 12-sided circles and ovals. Main thread only, inside the frame, with the window's GL context
// current.
#pragma once

// ---- Overlays (3-D scene, heights 30 .. 35) ----
void drawHelp();     // key list on a translucent stone panel
void drawWarming();  // the communication-error text

// ---- Circles: 12-sided, from shared sine and cosine tables built by the first call ----
void fillOval(double x0, double y0, double z0, double rx, double ry);  // drawn at z = 0
void drawOval(double x0, double y0, double z0, double r1, double r2);  // outline at z0
void fillCircle(double x0, double y0, double z0, double radius);       // drawn at z = 0
void drawCircle(double x0, double y0, double z0, double radius);       // outline at z0
