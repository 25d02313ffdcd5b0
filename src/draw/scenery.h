// scenery.h: copies of the window kept off-screen: the floor, walls and coins of a frame while
// none of them changes, so that a frame in which only turtles move puts them back instead of
// drawing them again; and the paint layer's copies to and from the back buffer.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "draw/gl_objects.h"
#include "world/world.h"

// Everything the floor, wall and coin drawing reads. Two frames with equal keys draw the same
// scenery pixels and depths.
struct scenery_key {
    struct wall_view {
        position s, e, n;
        uint32_t status;
        bool operator==(const wall_view &) const = default;
    };
    struct coin_view {
        position pos;
        int order;
        uint32_t status;
        bool operator==(const coin_view &) const = default;
    };
    uint64_t paint_generation = 0;  // changes whenever the paint layer is repainted
    int bird_view_mode = 0, battle_mode = 0;
    double view_fov_angle = 0.0, view_rotation_angle = 0.0;
    int nwall = 0, ncoin = 0;
    std::array<wall_view, NWALL> walls{};
    std::array<coin_view, NCOIN> coins{};

    bool operator==(const scenery_key &o) const;
};

// The key of the world as it stands; paint_generation is the caller's count of repaints.
void read_scenery_key(scenery_key &key, uint64_t paint_generation);

// The back buffer's colour and depth after the scenery was drawn, kept for later frames.
// Both return false (and change nothing visible) when the GL cannot do it; the caller then
// draws the scenery itself.
bool scenery_cache_store();
bool scenery_cache_restore();

// Frames whose scenery came from the copy since start-up.
long scenery_restore_count();

// A window-sized texture in the layout the copies below need (pixels: 4 bytes each, blue,
// green, red, alpha; or nullptr).
gl_texture make_window_copy_texture(const unsigned char *pixels);

// The paint layer: the texture that holds everything painted on the floor, and its initial
// pixels. Created by the window at start-up (window.cpp).
extern gl_texture bg_textures;
extern std::vector<unsigned char> bg_tex_buffer;

// The paint layer (bg_textures, made by make_window_copy_texture) from the back buffer
// and back into it, by blits. A layer taken this way holds its picture upside down. Both
// return false when the GL cannot; the caller then reads or draws the layer the plain way.
bool paint_layer_take();
bool paint_layer_put_back();

// A frame drawn while the window cannot be seen goes to an off-screen buffer of the window's
// size and formats instead, which the copies above then use in the window's place. False when
// the GL cannot make one: the frame then draws into the window's back buffer as usual.
bool hidden_frame_begin();
void hidden_frame_end();  // the window is the frame's target again
