// gl_battle.cpp: a frame during a fight shows the bullet and the fireball where the world has
// them; coin traffic changes the scenery's key, so the kept copy of the floor is never stale.
#include <GL/freeglut.h>

#include "draw/scenery.h"
#include "support.h"
#include "world/battle.h"
#include "world/coins.h"

namespace {

// The back buffer's pixel at field point (x, y) of the top view.
std::array<int, 3> at(const std::vector<unsigned char> &rgb, double x, double y) {
    const std::size_t i = (std::size_t(y + 256.0) * WINDOW_SIZE + std::size_t(x + 256.0)) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

bool yellow(std::array<int, 3> p) { return p[0] > 200 && p[1] > 150 && p[2] < p[1] - 40; }
bool fiery(std::array<int, 3> p) { return p[0] > 150 && p[1] < 0.6 * p[0] && p[2] < 0.4 * p[0]; }

}  // namespace

TEST(BattlePicture, AFrameShowsTheBulletAndTheFireballAtTheirPlaces) {
    open_test_window();
    field_set_battle_mode();
    place(0, -120, -40, 0);
    place(1, 100, 100, 0, 0, 2);
    ASSERT_EQ(turtle_fire(0), 0);
    for (int i = 0; i < 30; i++) display_frame();
    const position bullet = ttl[0].bullet;  // the next frame draws it here, then moves it
    start_to_kill(1);
    display_frame();
    glFinish();
    std::vector<unsigned char> rgb(std::size_t(WINDOW_SIZE) * WINDOW_SIZE * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, WINDOW_SIZE, WINDOW_SIZE, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());

    EXPECT_TRUE(yellow(at(rgb, bullet.x, bullet.y)) && !yellow(at(rgb, bullet.x + 12, bullet.y)));
    EXPECT_TRUE(fiery(at(rgb, 100, 100)) && fiery(at(rgb, 111, 100)) && fiery(at(rgb, 100, 89)));
    EXPECT_FALSE(fiery(at(rgb, 120, 100)) || fiery(at(rgb, -120, -40)) || yellow(at(rgb, 0, 150)));
}

TEST(BattlePicture, CoinTrafficChangesTheSceneryKey) {
    static scenery_key before, after;
    place(0, 0, 0);
    const std::pair<const char *, std::function<void()>> changes[] = {
        {"scattered", [] { field_scatter_coin(1); }},
        {"dropped", [] { turtle_borrow_coin(0), turtle_drop_coin(0); }},
        {"picked", [] { turtle_pick_coin(0); }},
        {"all killed", [] { field_kill_all_turtles(); }},
    };
    for (const auto &[what, change] : changes) {
        read_scenery_key(before, 0);
        change();
        read_scenery_key(after, 0);
        EXPECT_FALSE(before == after) << what;
    }
}
