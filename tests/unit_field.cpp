// Field-wide state: flags and queries, modes and their progress lines, the command line, and
// the arithmetic and actions of the local controls.
#include "server/httpd.h"
#include "server/tcpserver.h"
#include "support.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

int turtles() {  // as the N query counts them
    int n = -1;
    return qf_n_turtle(&n), n;
}

// Clicks the menu entry with this title.
void pick(const std::string &title) {
    const auto e = std::find_if(field_menu.begin(), field_menu.end(),
                                [&](const menu_entry &m) { return m.title == title; });
    ASSERT_NE(e, field_menu.end()) << title;
    menu_action(e->value);
}

void press(const std::string &keys) {
    for (char k : keys) keyboardfunc(static_cast<unsigned char>(k), 0, 0);
}

// scan_command_line on the program name and the given words: its answer, what it logged and
// the length of the script list after it.
std::tuple<cmdline_action, std::string, int> scan(std::vector<std::string> words) {
    words.insert(words.begin(), "kelpmoor");
    std::vector<char *> argv;
    for (std::string &w : words) argv.push_back(w.data());
    CaptureStderr();
    const cmdline_action action = scan_command_line(static_cast<int>(argv.size()), argv.data());
    return {action, GetCapturedStderr(), n_jscript};
}

}  // namespace

TEST(WorldModel, WallTableStopsAtItsLimitAndTurtlesAndMovableObjectsAreCounted) {
    nwall = 0;
    for (int i = 0; i < NWALL; i++) setup_wall(i, 0, i, 1, 1, 0, 0);
    const wall last = walls[NWALL - 1];
    setup_wall(-5, -5, 5, 5, 0, 1, WALL_BACK_FACE);
    EXPECT_TRUE(nwall == NWALL && walls[NWALL - 1].startp == last.startp &&
                walls[NWALL - 1].status == 0u);

    place(0, -100, -100);
    place(1, 100, 100);
    make_zombie(1);
    ASSERT_EQ(set_object_at(-100, 100, ST_STONE), 0);
    ASSERT_EQ(set_object_at(100, -100, ST_DOUGHNUT), 0);
    int moving = -1;
    EXPECT_EQ((std::tuple{turtles(), qf_n_moving_obj(&moving), moving}), std::tuple(3, 0, 1));
    EXPECT_EQ(field_timer_period_ms(), TIMER_FAST_MS);
    ttl[0].status |= ST_ZOMBIE;  // zombies, stones and doughnuts never move: the slow pace
    EXPECT_EQ(field_timer_period_ms(), TIMER_SLOW_MS);
    ttl[0].status = ST_ALIVE;

    turtle_field_is_cleared = 1;
    field_clear_all_turtles();  // zombies go, the floor is erased, the rest stays
    EXPECT_TRUE(ttl[1].status == 0u && ttl[0].status == ST_ALIVE && turtle_field_is_cleared == 0);
    field_kill_all_turtles();
    EXPECT_TRUE(ntmax == 0 && turtles() == 0);
}

TEST(FieldModes, BattleAndMazeModesAndTheCaptureName) {
    // Flags already as a mode wants them stay so, only those that differ are switched: names
    // and bounds are on before battle mode, the score is off before it ends.
    disp_name = bounded_area_mode = 1;
    for (int on : {1, 0}) {
        turtle_field_is_cleared = 1;
        menuitem_need_to_change = 0;
        if (!on) disp_score = 0;
        CaptureStderr();
        field_toggle_battle_mode();
        EXPECT_EQ(GetCapturedStderr(),
                  on ? "entering battle mode...\n" : "entering turtle graphics mode...\n");
        EXPECT_EQ(std::tuple(battle_mode, bounded_area_mode, disp_name, disp_score,
                             menuitem_need_to_change, turtle_field_is_cleared),
                  std::tuple(on, on, on, on, 1, 0));
    }

    // Maze mode rebuilds the field (turtles killed as kill-all does it), battle mode stays on.
    srandom(7);
    place(3, 50, 50);
    CaptureStderr();
    field_toggle_maze_mode();
    EXPECT_EQ(GetCapturedStderr(), "entering battle mode...\nentering maze mode...\n");
    EXPECT_TRUE(maze_mode == 1 && battle_mode == 1);
    EXPECT_TRUE(nwall > 8 && (nwall - 8) % 2 == 0) << nwall;
    EXPECT_EQ(turtles(), 4);  // only the four doughnuts around the centre

    CaptureStderr();
    field_toggle_maze_mode();
    EXPECT_EQ(GetCapturedStderr(), "exited from maze mode...\n");
    EXPECT_TRUE(maze_mode == 0 && battle_mode == 1 && nwall == 8 && turtles() == 0);

    // The capture goes under $HOME only when it exists (the capture there: gl_capture.cpp).
    const std::string long_home = "/tmp/" + std::string(300, 'h');
    for (const char *home :
         {"/no/such/dir", static_cast<const char *>(nullptr), long_home.c_str()}) {
        EXPECT_EQ(capture_file_name(home, 7), "kelpmoor-capture-7.png");
    }
}

TEST(CommandLine, ScriptAndHelpOptionsArePrefixTestsAndTheListKeepsTenTokens) {
    EXPECT_EQ(scan({"-jsx", "a.js;b.js"}),
              std::tuple(CMDLINE_RUN, std::string("script: a.js\nscript: b.js\n"), 2));
    EXPECT_EQ(scan({"-js"}), std::tuple(CMDLINE_RUN, std::string(), 2));  // no value: ignored
    EXPECT_EQ(scan({"-js", "-help"}), std::tuple(CMDLINE_RUN, std::string("script: -help\n"), 1));
    EXPECT_EQ(std::get<0>(scan({"-help", "-js", "a.js"})), CMDLINE_HELP);

    std::string eleven;
    for (int i = 0; i < 11; i++) eleven += "s" + std::to_string(i) + (i % 2 ? ".js; " : ".js\"");
    CaptureStderr();
    set_jscript_src(eleven.c_str());
    GetCapturedStderr();
    EXPECT_TRUE(n_jscript == 10 && msg_jscript_srcp[9] == "s9.js") << n_jscript;
    set_jscript_src(" ;\"; ");  // separators only: the list stays
    EXPECT_EQ(n_jscript, 10);
}

TEST(Controls, KeysAndMenuEntriesActOnTheField) {
    srandom(3);
    turtle_field_is_cleared = 1;
    // Keys pressed in turn, and what they leave: zoom and rotation stay in their ranges.
    const std::pair<std::string, std::function<bool()>> presses[] = {
        {"+", [] { return view_fov_angle == 50.0; }},
        {";+", [] { return view_fov_angle == 40.0; }},
        {std::string(10, '+'), [] { return view_fov_angle == 15.0; }},
        {std::string(20, '='), [] { return view_fov_angle == 60.0; }},
        {std::string(73, '>'), [] { return view_rotation_angle == -177.5; }},
        {"<,", [] { return view_rotation_angle == 177.5; }},
        {"3hnS", [] { return bird_view_mode + disp_help + disp_name + disp_score == 4; }},
        {"b", [] { return bounded_area_mode == 1; }},
        {"\033c", [] { return disp_help == 0 && turtle_field_is_cleared == 0; }},
        {"B", [] { return bounded_area_mode == 0; }},  // on with b, off with B
        // Kill-all and the maze are on capital letters only.
        {"okm", [] { return ntmax == 1 && (ttl[0].status & ST_STONE); }},
        {"K", [] { return ntmax == 0; }},
    };
    for (const auto &[keys, effect] : presses) {
        press(keys);
        EXPECT_TRUE(effect()) << keys;
    }

    CaptureStderr();
    press("!@");
    pick("- - - - - - - - -");  // the separator does nothing
    pick("Toggle Graphics/Battle Mode");
    EXPECT_EQ(
        GetCapturedStderr(),
        "entering battle mode...\nentering public mode...\nentering turtle graphics mode...\n");
    EXPECT_EQ(private_mode.load(), 0);
    EXPECT_EQ(menuitem_need_to_change, 1);
    pick("About Kelpmoor");
    EXPECT_EQ(disp_help, 1);
}

// (The Q key: quit_while_busy.py, with clients and browsers connected.)
TEST(ControlsDeathTest, ExitEntryEndsWithStatusZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(pick("Exit"), testing::ExitedWithCode(0), "");
}
