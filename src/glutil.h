// glutil.h: textures and icons, overlays and bitmap text, circles, PNG writing, PPM reading.
// Main thread only, with the window's GL context current (from the frame or a test window).
#pragma once

// ---- Bitmap text ----
// Raster position (x0, y0, z0) through the current matrices, then each character in the
// toolkit's bitmap font (GLUT_BITMAP_HELVETICA_12, _18 or GLUT_BITMAP_9_BY_15). The colour
// is the lit colour of the raster position: callers set the material emission first.
void drawString(double x0, double y0, double z0, void *fontname, const char *str);

// ---- Textures and icons ----
// One brush-tip dab of side size (at least 0.01) centred at (x, y), tinted (r, g, b) and
// alpha-blended into the back buffer under the flat painting projection.
void paint_Ten(double x, double y, double size, double r, double g, double b);
