// turtle.h: everything one turtle can do or be asked: lifecycle and spawning, motion and wall
// collision, sensors and queries, pen, names, team messages and events.
// Called on the command server thread with frame_rendering_mutex held, or on the main thread
// inside a frame or a key action (which also hold it). No GL.
#pragma once

#include <cmath>
#include <cstdint>

#include "world/world.h"

inline constexpr double CONTACT_DISTANCE = 20.0;  // between centres of two live slots
inline constexpr int MAX_DOUGHNUTS = 10;          // per turtle

// ---- Lifecycle and spawning ----
void init_turtle(int tid, int cid, double x, double y, double dir);  // tid outside 0..29: nothing
int generate_turtle(int cl, unsigned int type);  // new slot, or -1 (table full / no free place)
int turtle_generate_doughnut(int tid);           // 0, or -1 after 10 or when the spawn fails
// Grey object with heading 0 and finder range 20 in the lowest free slot; cid -1, no 0x200.
int set_object_at(double x, double y, unsigned int type);  // 0, or -1 (full / within 20)
void make_zombie(int tid);
// A new client's turtle: generate_turtle(cl, 0), but when every slot is in use, the zombie
// whose client left first gives up its slot for it. -1 when no slot can be had.
int generate_client_turtle(int cl);
bool turtle_is_dying(int tid);                        // live, its dying countdown running
int turtle_reset(int tid, int cid);                   // 1 refused (battle, zombie, dying), else 0
int turtle_home(int tid);                             // 1 refused (battle, zombie, dying), else 0
double dist_to_nn_from(int tid, double x, double y);  // to the nearest live slot but tid;
                                                      // 1.844674352395373e19 when none
double dist_to_nn(int tid);
double dist_to_wall_from(double px, double py);  // NO_HIT_DISTANCE without walls

// ---- Motion and wall collision ----
// Non-finite arguments, and moves whose result would not be finite, are refused with -1.
int turtle_step_forward(int tid, double stepsize);  // 0 moved, -1 refused or blocked
int turtle_turn(int tid, double angle);             // degrees, positive = left; 0, or -1 (also when
                                                    // the heading would pass 1e15 degrees)
int turtle_head(int tid, int direction);            // 1 E, 2 N, 3 W, 4 S; 1 refused, else 0
int turtle_jump(int tid, double x, double y);       // 0 or -1
int turtle_rjump(int tid, double dx, double dy);    // 0 or -1
// Obstacle kind 0 none, 1 turtle, 2 doughnut, 3 stone: the slot the body would touch first;
// *target written when one lies near the path. *dist_possible: how far it may go, <= 0 in contact.
int check_how_far_it_can_go(int tid, double dist_to_go, double *dist_possible, int *target);
// Least net distance (net_dist_to_lineseg) from (x, y) along angle degrees to the walls that
// a body going at most reach could touch; NO_HIT_DISTANCE when none.
double wall_distance_along(double x, double y, double angle, double reach = HUGE_VAL);
int is_colliding_to_wall(int tid, double dist_to_go);       // 1 or 0
double distance_to_front_wall(int tid, double dist_to_go);  // only the sign of dist_to_go counts
int is_hitting_wall(double px, double py);                  // outside the bounds or within 5

// ---- Sensors and queries ----
int qt_position(int tid, double *x, double *y);                 // 0 live; -1 and (0, 0) otherwise
int qt_direction(int tid, double *dir);                         // 0 live; -1 and 0 otherwise
int qt_alive(int tid, int *s);                                  // always 0
int qt_score(int tid, int *s);                                  // always 0
int qt_my_team(int tid);                                        // the team, 0..4
double dist_t2t(int t1, int t2);                                // NO_HIT_DISTANCE unless both live
int turtle_finder_range(int tid, double range);                 // 1 for a zombie, else 0
int qt_finder(int tid, int *yn, int *team);                     // always 0; *yn 0..4
int qt_sonar(int tid, int *left, int *front, int *right);       // always 0
int qt_angular_rader(int tid, int nb, double *dir, int *team);  // 0 found, -1 otherwise
void distance_to_walls_3dir(int tid, double *dleft, double *dfront, double *dright);

// ---- Pen, appearance, names, messages and events ----
int turtle_set_team(int tid, int team);                       // 0; -1 zombie
int turtle_set_color(int tid, double r, double g, double b);  // 0; -1 zombie
int turtle_line_width(int tid, double w);
int turtle_pen_down(int tid);
int turtle_pen_up(int tid);
int turtle_set_fill_poly(int tid);
int turtle_unset_fill_poly(int tid);
int turtle_set_point_mode(int tid);
int turtle_unset_point_mode(int tid);
int turtle_set_brush(int tid);
int turtle_unset_brush(int tid);
int turtle_name(int tid, const char *s);                  // 0; 1 zombie
int turtle_print_string(int tid, const char *str);        // 0; -1 zombie or longer than 127
int turtle_broadcast_message(int tid, const char *msg);   // 0; -1 board locked
int qt_team_msg(int tid, unsigned int *time, char *msg);  // msg: 129 zeroed bytes; 0
int turtle_enable_event(int tid, unsigned int eventcode);
int turtle_disable_event(int tid, unsigned int eventcode);
unsigned int turtle_get_and_reset_eventcode(int tid);  // event & eventmask, then event = 0
