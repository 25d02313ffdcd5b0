// Field-wide state: flags and queries, modes and their progress lines, the command line, and
// the arithmetic and actions of the local controls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "geofunc.h"
#include "httpd.h"
#include "kelpmoor.h"
#include "support.h"
#include "tcpserver.h"
#include "turtle.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

int place_client_turtle(int cl, double x, double y) {
    const int tid = generate_turtle(cl, 0);
    EXPECT_GE(tid, 0);
    init_turtle(tid, cl, x, y, 0.0);
    return tid;
}

}  // namespace

TEST(WorldModel, WallTableStopsAtItsLimit) {
    reset_world();
    nwall = 0;
    for (int i = 0; i < NWALL; i++) setup_wall(i, 0, i, 1, 1, 0, 0);
    const wall last = walls[NWALL - 1];
    setup_wall(-5, -5, 5, 5, 0, 1, WALL_BACK_FACE);
    EXPECT_EQ(nwall, NWALL);
    EXPECT_EQ(walls[NWALL - 1].startp.x, last.startp.x);
    EXPECT_EQ(walls[NWALL - 1].status, 0u);
}

TEST(WorldModel, FlagSettersReportWhenNothingChanges) {
    reset_world();
    EXPECT_EQ(field_set_disp_score(1), 0);
    EXPECT_EQ(field_set_disp_score(1), 1);
    EXPECT_EQ(disp_score, 1);
    EXPECT_EQ(field_set_disp_score(0), 0);
    EXPECT_EQ(disp_score, 0);
    EXPECT_EQ(field_set_boundary_mode(0), 1);
    EXPECT_EQ(field_set_boundary_mode(1), 0);
    EXPECT_EQ(bounded_area_mode, 1);
    EXPECT_EQ(field_set_disp_name(0), 1);

    disp_help = 7;  // anything non-zero toggles to 0
    field_toggle_disp_help();
    EXPECT_EQ(disp_help, 0);

    turtle_field_is_cleared = 1;
    EXPECT_EQ(field_set_color(0.25, 0.5, 1.0), 0);
    EXPECT_EQ(turtle_field_is_cleared, 0);
}

TEST(WorldModel, CountsOfTurtlesAndMovableObjects) {
    reset_world();
    place_client_turtle(0, -100, -100);
    const int zombie = place_client_turtle(1, 100, 100);
    make_zombie(zombie);
    ASSERT_EQ(set_object_at(-100, 100, ST_STONE), 0);
    ASSERT_EQ(set_object_at(100, -100, ST_DOUGHNUT), 0);
    int n = -1, moving = -1;
    qf_n_turtle(&n);
    qf_n_moving_obj(&moving);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(moving, 1);

    turtle_field_is_cleared = 1;
    field_clear_all_turtles();  // zombies go, the floor is erased, the rest stays
    EXPECT_EQ(ttl[zombie].status, 0u);
    EXPECT_EQ(ttl[0].status, ST_ALIVE);
    EXPECT_EQ(turtle_field_is_cleared, 0);

    field_kill_all_turtles();
    EXPECT_EQ(ntmax, 0);
    qf_n_turtle(&n);
    EXPECT_EQ(n, 0);
}

TEST(FieldModes, BattleModeSwitchesLabelsBoundsAndFloor) {
    reset_world();
    turtle_field_is_cleared = 1;
    CaptureStderr();
    field_toggle_battle_mode();
    EXPECT_EQ(GetCapturedStderr(), "entering battle mode...\n");
    EXPECT_EQ(battle_mode, 1);
    EXPECT_EQ(bounded_area_mode, 1);
    EXPECT_EQ(disp_name, 1);
    EXPECT_EQ(disp_score, 1);
    EXPECT_EQ(menuitem_need_to_change, 1);
    EXPECT_EQ(turtle_field_is_cleared, 0);

    turtle_field_is_cleared = 1;
    CaptureStderr();
    field_toggle_battle_mode();
    EXPECT_EQ(GetCapturedStderr(), "entering turtle graphics mode...\n");
    EXPECT_EQ(battle_mode + bounded_area_mode + disp_name + disp_score, 0);
    EXPECT_EQ(turtle_field_is_cleared, 0);
}

TEST(FieldModes, MazeModeRebuildsTheFieldAndLeavesBattleOn) {
    reset_world();
    srandom(7);
    const int tid = place_client_turtle(3, 50, 50);
    client_tab[3].socket = 99;  // a client slot that drives the turtle
    client_tab[3].tid = tid;
    client_tab[3].to_be_disconnected = 0;

    CaptureStderr();
    field_toggle_maze_mode();
    EXPECT_EQ(GetCapturedStderr(), "entering battle mode...\nentering maze mode...\n");
    EXPECT_EQ(maze_mode, 1);
    EXPECT_EQ(battle_mode, 1);
    EXPECT_EQ(client_tab[3].to_be_disconnected.load(), 1);
    EXPECT_GT(nwall, 8);
    EXPECT_EQ((nwall - 8) % 2, 0);
    int n = 0;
    qf_n_turtle(&n);
    EXPECT_EQ(n, 4);  // the four doughnuts around the centre

    CaptureStderr();
    field_toggle_maze_mode();
    EXPECT_EQ(GetCapturedStderr(), "exited from maze mode...\n");
    EXPECT_EQ(maze_mode, 0);
    EXPECT_EQ(battle_mode, 1);
    EXPECT_EQ(nwall, 8);
    qf_n_turtle(&n);
    EXPECT_EQ(n, 0);
    client_tab[3].socket = -1;
}

TEST(FieldModes, CaptureNameUsesHomeOnlyWhenItExists) {
    EXPECT_EQ(capture_file_name("/tmp", 42), "/tmp/kelpmoor-capture-42.png");
    EXPECT_EQ(capture_file_name("/no/such/dir", 7), "kelpmoor-capture-7.png");
    EXPECT_EQ(capture_file_name(nullptr, 7), "kelpmoor-capture-7.png");
    const std::string long_home = "/tmp/" + std::string(300, 'h');
    EXPECT_EQ(capture_file_name(long_home.c_str(), 1), "kelpmoor-capture-1.png");

    reset_world();
    elapsed_time = 1234;
    setenv("HOME", "/tmp", 1);
    EXPECT_EQ(field_capture_screen(), 1);
    EXPECT_EQ(capture_request, "/tmp/kelpmoor-capture-1234.png");
}

TEST(CommandLine, ScriptAndHelpOptionsArePrefixTests) {
    char prog[] = "kelpmoor", js[] = "-jsx", list[] = "a.js;b.js", h[] = "-help";
    char *with_scripts[] = {prog, js, list};
    CaptureStderr();
    EXPECT_EQ(scan_command_line(3, with_scripts), CMDLINE_RUN);
    EXPECT_EQ(GetCapturedStderr(), "script: a.js\nscript: b.js\n");
    EXPECT_EQ(n_jscript, 2);

    char js2[] = "-js";
    char *lone_js[] = {prog, js2};
    EXPECT_EQ(scan_command_line(2, lone_js), CMDLINE_RUN);
    EXPECT_EQ(n_jscript, 2);  // a trailing -js without a value is ignored

    char *js_then_h[] = {prog, js2, h};
    CaptureStderr();
    EXPECT_EQ(scan_command_line(3, js_then_h), CMDLINE_RUN);  // -help is the script list
    EXPECT_EQ(GetCapturedStderr(), "script: -help\n");

    char *help[] = {prog, h, js2, list};
    EXPECT_EQ(scan_command_line(4, help), CMDLINE_HELP);
}

TEST(CommandLine, ScriptListKeepsAtMostTenTokens) {
    std::string eleven;
    for (int i = 0; i < 11; i++) eleven += "s" + std::to_string(i) + (i % 2 ? ".js; " : ".js\"");
    CaptureStderr();
    set_jscript_src(eleven.c_str());
    GetCapturedStderr();
    EXPECT_EQ(n_jscript, 10);
    EXPECT_EQ(msg_jscript_srcp[9], "s9.js");
    set_jscript_src(" ;\"; ");  // separators only: the list stays
    EXPECT_EQ(n_jscript, 10);
}

TEST(Controls, ZoomAndRotationStayInTheirRanges) {
    reset_world();
    keyboardfunc('+', 0, 0);
    EXPECT_DOUBLE_EQ(view_fov_angle, 50.0);
    keyboardfunc(';', 0, 0);
    keyboardfunc('+', 0, 0);
    EXPECT_DOUBLE_EQ(view_fov_angle, 40.0);
    for (int i = 0; i < 10; i++) keyboardfunc('+', 0, 0);
    EXPECT_DOUBLE_EQ(view_fov_angle, 15.0);
    for (int i = 0; i < 20; i++) keyboardfunc('=', 0, 0);
    EXPECT_DOUBLE_EQ(view_fov_angle, 60.0);

    for (int i = 0; i < 73; i++) keyboardfunc('>', 0, 0);
    EXPECT_DOUBLE_EQ(view_rotation_angle, -177.5);
    keyboardfunc('<', 0, 0);
    keyboardfunc(',', 0, 0);
    EXPECT_DOUBLE_EQ(view_rotation_angle, 177.5);
    EXPECT_DOUBLE_EQ(view_rotate(-179.0, -2.5), 178.5);
}

TEST(Controls, KeysAndMenuEntriesActOnTheField) {
    reset_world();
    for (unsigned char key : {'3', 'h', 'n', 'S', 'b'}) keyboardfunc(key, 0, 0);
    EXPECT_EQ(bird_view_mode + disp_help + disp_name + disp_score + bounded_area_mode, 5);
    keyboardfunc(27, 0, 0);
    EXPECT_EQ(disp_help, 0);
    turtle_field_is_cleared = 1;
    keyboardfunc('c', 0, 0);
    EXPECT_EQ(turtle_field_is_cleared, 0);

    srandom(3);
    keyboardfunc('o', 0, 0);
    ASSERT_EQ(ntmax, 1);
    EXPECT_NE(ttl[0].status & ST_STONE, 0u);
    keyboardfunc('k', 0, 0);  // kill-all and the maze are on capital letters only
    keyboardfunc('m', 0, 0);
    EXPECT_EQ(ntmax, 1);
    keyboardfunc('K', 0, 0);
    EXPECT_EQ(ntmax, 0);

    CaptureStderr();
    keyboardfunc('!', 0, 0);
    keyboardfunc('@', 0, 0);
    menu_action(0);  // the separator does nothing
    menu_action(3);
    EXPECT_EQ(GetCapturedStderr(),
              "entering battle mode...\nentering public mode...\nentering turtle graphics mode...\n");
    EXPECT_EQ(private_mode.load() + accept_only_localhost.load(), 0);
    EXPECT_EQ(menuitem_need_to_change, 1);
    menu_action(7);
    EXPECT_EQ(disp_help, 1);

    const char *titles[] = {"Clear Field", "Erase Zombie", "Toggle Graphics/Battle Mode",
                            "Toggle Private/Public Mode", "Capture Screen", "- - - - - - - - -",
                            "About Kelpmoor", "Kill All Turtles", "Exit"};
    const int values[] = {1, 2, 3, 4, 5, 0, 7, 8, 9};
    for (std::size_t i = 0; i < field_menu.size(); i++) {
        EXPECT_STREQ(field_menu[i].title, titles[i]);
        EXPECT_EQ(field_menu[i].value, values[i]);
    }
}

TEST(ControlsDeathTest, QuitKeyAndExitEntryEndWithStatusZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(keyboardfunc('Q', 0, 0), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(menu_action(9), testing::ExitedWithCode(0), "");
}
