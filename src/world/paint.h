// paint.h (world): what turtles leave on the floor: pen trails, points, filled polygons, printed
// text and calligraphic brush strokes, burnt into the paint layer once per frame.
//
// This is the GL-free side: it decides what a turtle paints, updates its painting state and
// computes every shape and brush dab (paint_state.cpp, paint_brush.cpp). draw/paint.h draws the
// results into the back buffer.
// Threads: main thread, inside the frame, with frame_rendering_mutex held.
#pragma once

#include <array>

#include "world/world.h"

// ---- Brush constants ----------------------------------------------------------------------
inline constexpr double BRUSH_SPACING_DIVISOR = 20.0;  // dabs at most (|size| + 0.01) / 20 apart
inline constexpr double BRUSH_SIZE_OFFSET = 0.01;      // field units, added to |size|
inline constexpr int BRUSH_MAX_INTERVALS = 512;        // per piece, so at most 513 dabs
inline constexpr double BRUSH_SHORT_SEGMENT = 1.1;     // field units; shorter pieces are one dab
inline constexpr double BRUSH_STRAIGHT_COS = 0.99;     // above: control point on the chord
inline constexpr double BRUSH_SHARP_COS3 = 0.3;        // below: a three-point curve goes straight
inline constexpr double BRUSH_SHARP_COS4 = 0.1;        // below: a four-point curve falls back
inline constexpr double BRUSH_SHARP_COS_LAST = 0.5;    // below: a closing stroke is split
inline constexpr double BRUSH_CONTROL_FACTOR = 0.25;   // control point distance / segment length
inline constexpr double BRUSH_LONG_RATIO = 4.0;        // length / width above which it is waisted
inline constexpr int BRUSH_STEPS_BEFORE_PAINT = 3;     // running strokes start at nstroke 4

// ---- Dab sink -----------------------------------------------------------------------------
// Receives every dab of a brush stroke: centre (x, y) and side size in field units, colour
// (r, g, b). The program passes paint_Ten; tests pass a recorder. Dabs whose position or size
// is not finite never reach the sink.
using dab_sink = void (*)(double x, double y, double size, double r, double g, double b);

// ---- Plain pen shapes (GL-free) ------------------------------------------------------------
enum class pen_kind { none, line, point, fill };

struct pen_vertex {
    double x, y;     // field units
    double r, g, b;  // emission colour of the vertex, 0..1
};

// The newest line, point or filled polygon of one turtle, in the order GL draws it.
struct pen_shape {
    pen_kind kind = pen_kind::none;
    double size = 1.0;  // line width or point size in pixels (width[1])
    int nvertex = 0;    // 0 when there is nothing to draw (fill with nstroke <= 1)
    std::array<pen_vertex, 6> vertex{};
};

// Shape chosen by the mode bits of ttl[tid] (fill before point before line) from its history
// and nstroke. Does not change the turtle. tid outside 0..29: kind none.
pen_shape paint_pen_shape(int tid);

// ---- Brush input (GL-free) ---------------------------------------------------------------
struct brush_point {
    position p;   // field units
    double size;  // dab side, field units
};

// The pen history a brush stroke is laid along, copied from the turtle when it was decided.
struct brush_history {
    std::array<position, NHISTORY> pos{};
    std::array<color, NHISTORY> col{};
    std::array<double, NHISTORY> width{};
    int nstroke = 0;
};
brush_history brush_history_of(const turtle &t);

// ---- The painter's decision (GL-free) -----------------------------------------------------
enum class brush_work { none, step, close };  // running brush step, or the closing stroke

// What one turtle must draw in this frame, decided and recorded by paint_decide.
struct paint_report {
    int tid = -1;
    bool alive = false;  // the slot was in use; nothing at all is drawn otherwise
    pen_shape pen;       // line, point or fill; kind none when not due
    brush_work brush = brush_work::none;
    brush_history stroke;  // what the brush work is drawn from
    bool text = false;     // msg below is to be printed
    char msg[129] = {};    // copy of the message, which the turtle no longer holds
    color msg_col{};       // col[0] when the message was taken
    position msg_pos{};    // pos[0] when the message was taken

    // Something of it reaches the paint layer in this frame.
    bool paints() const { return pen.kind != pen_kind::none || brush != brush_work::none || text; }
};

// One turtle's painting step without drawing: advances nstroke, sets the painted bit, clears
// the pen-just-lifted bit after a closing brush stroke and empties msg. tid outside 0..29 or a
// free slot: nothing changes.
paint_report paint_decide(int tid);

// ---- Brush geometry (GL-free, paint_brush.cpp) ---------------------------------------------
// Sizes and positions in field units, angles in degrees, colours 0..1. Each piece stamps at
// most 513 dabs into the sink; a zero-length segment makes a curve piece straight.
int strokeStyle(double length, double width, double angle, int last_stroke);  // style 0..7
double thickness(double dratio, int style);       // profile factor at dratio 0..1; 1 for style 0
double vshift(double dratio, int style);          // upward shift in base sizes; 0 but for style 6
int brush_intervals(double length, double size);  // 1..512 intervals for a piece
// Straight piece a -> b; one dab at a when shorter than 1.1; last_stroke tapers it.
void brushLine(brush_point a, brush_point b, color c, int last_stroke, dab_sink sink);
// Curve p0 -> p1 arriving towards p2 (p2's size unused).
void drawCurve3(brush_point p0, brush_point p1, brush_point p2, color c, dab_sink sink);
// Curve p1 -> p2 with the tangents p2 - p0 at p1 and p3 - p1 at p2 (p0's and p3's sizes
// unused).
void drawCurve4(brush_point p0, brush_point p1, brush_point p2, brush_point p3, color c,
                dab_sink sink);
// Curve p1 -> p2 leaving p1 in the direction p0 -> p1.
void drawCurve3asLastStroke(brush_point p0, brush_point p1, brush_point p2, color c, dab_sink sink);
// Closing stroke over three points, its end shaped by the last direction.
void brushLine2(brush_point p0, brush_point p1, brush_point p2, color c, dab_sink sink);
// Closing stroke over four points: the piece p0 -> p1, then the rest by the last direction.
void brushLine3(brush_point p0, brush_point p1, brush_point p2, brush_point p3, color c,
                dab_sink sink);
// The brush work for a history: a running step (last_stroke 0, painted only from nstroke 4)
// or the closing stroke (last_stroke 1).
void paint_by_brush(const brush_history &h, int last_stroke, dab_sink sink);
