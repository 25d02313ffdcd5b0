// gl_battle.cpp: a screen capture during a fight shows the bullet and the fireball where the
// world has them; coin traffic changes the scenery's key.
#include <png.h>
#include <unistd.h>

#include <filesystem>

#include "draw/scenery.h"
#include "world/battle.h"
#include "world/coins.h"
#include "support.h"

namespace {

// The capture's RGB pixel at field point (x, y) of the top view; its rows run top first.
struct capture {
    std::vector<unsigned char> rgb;
    std::array<int, 3> at(double x, double y) const {
        const int col = static_cast<int>(x + 256.0), row = WINDOW_SIZE - 1 - int(y + 256.0);
        const std::size_t i = (static_cast<std::size_t>(row) * WINDOW_SIZE + col) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

capture read_capture(const std::string &path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    capture c;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return c;
    image.format = PNG_FORMAT_RGB;
    c.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, c.rgb.data(), 0, nullptr)) c.rgb.clear();
    return c;
}

bool yellow(std::array<int, 3> p) { return p[0] > 200 && p[1] > 150 && p[2] < p[1] - 40; }
bool fiery(std::array<int, 3> p) { return p[0] > 150 && p[1] < 0.6 * p[0] && p[2] < 0.4 * p[0]; }

}  // namespace

TEST(BattlePicture, ACaptureShowsTheBulletAndTheFireballAtTheirPlaces) {
    open_test_window();
    field_set_battle_mode();
    place(0, -120, -40, 0);
    place(1, 100, 100, 0, 0, 2);
    ASSERT_EQ(turtle_fire(0), 0);
    for (int i = 0; i < 30; i++) display_frame();
    const position bullet = ttl[0].bullet;  // where the next frame draws it, then moves it
    ASSERT_TRUE(ttl[0].status & ST_BULLET);
    start_to_kill(1);

    const std::string path = "/tmp/kelpmoor-battle-" + std::to_string(getpid()) + ".png";
    capture_request = path;
    display();
    const capture c = read_capture(path);
    std::filesystem::remove(path);
    ASSERT_EQ(c.rgb.size(), std::size_t(WINDOW_SIZE) * WINDOW_SIZE * 3);

    EXPECT_TRUE(yellow(c.at(bullet.x, bullet.y)));
    EXPECT_FALSE(yellow(c.at(bullet.x + 12, bullet.y)));  // the body's radius is 5
    EXPECT_TRUE(fiery(c.at(100, 100)) && fiery(c.at(111, 100)) && fiery(c.at(100, 89)));
    EXPECT_FALSE(fiery(c.at(120, 100)));  // the ball's radius is 15
    EXPECT_FALSE(fiery(c.at(-120, -40)) || yellow(c.at(0, 150)));
}

// The floor, walls and coins are kept as a copy while their key stays; every coin operation
// that changes the floor changes the key.
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
