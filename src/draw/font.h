// font.h: bitmap text in the toolkit's fonts, drawn from glyph atlases. Main thread only, with
// the window's GL context current.
#pragma once

// Raster position (x0, y0, z0) through the current matrices, then each character in the
// toolkit's bitmap font (GLUT_BITMAP_HELVETICA_12, _18 or GLUT_BITMAP_9_BY_15). The colour
// is the lit colour of the raster position: callers set the material emission first.
void drawString(double x0, double y0, double z0, void *fontname, const char *str);
// Between begin and end, drawString takes the raster position and colour at once but leaves
// the pixels of opaque text to endStringBatch, which draws them all together with the depth
// test in force then. For text that nothing translucent drawn in between may cover.
void beginStringBatch();
void endStringBatch();
