// unit_http.cpp: the web viewer server's pure parts: the request reader, the URI router, the
// documents' formats and escaping, and the viewer page with its script list.
#include "server/httpd.h"
#include "support.h"

namespace {

http_request parsed(const std::string &bytes) {
    http_request r;
    r.uri = "<untouched>";
    parse_request(bytes.data(), bytes.size(), r);
    return r;
}

std::string body_of(const char *uri) {
    const content_ptr c = generate_content(uri);
    return std::string(reinterpret_cast<const char *>(c->data), static_cast<size_t>(c->length));
}
int mime_of(const char *uri) { return generate_content(uri)->mimetype; }

}  // namespace

// The URI between the first two spaces without its slash; only an exact "Connection: close"
// ends the connection. (Methods, and requests refused whole: net_httpd.cpp.)
TEST(HttpRequest, UriAndConnection) {
    const std::pair<std::string, std::string> uris[] = {
        {"GET /abc/turtle HTTP/1.1\r\n", "abc/turtle"},
        {"GET / HTTP/1.1\r\n", ""},
        {"GET /turtle?x=1 HTTP/1.1\n", "turtle?x=1"},
        {"GET /wall\r\n", "wall"},       // no second space: up to the line's end
        {"GET //x HTTP/1.1\r\n", "/x"},  // only one slash is dropped
        {"GETX\r\n", ""},                // no space: the empty URI
        {"GET /" + std::string(1500, 'a') + " HTTP/1.1\r\n",
         std::string(1000, 'a')},                             // 1001 with the slash
        {std::string("GET /wa\0ll HTTP/1.1\r\n", 22), "wa"},  // a NUL ends the line
        {"GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n", "a"},  // only the first request
    };
    for (const auto &[bytes, uri] : uris) EXPECT_EQ(parsed(bytes).uri, uri) << bytes;

    const std::pair<const char *, int> keeps[] = {
        {"Connection: close\r\n\r\n", -1},
        {"Connection: Close\r\n\r\n", 1},
        {"connection: close\r\n\r\n", 1},
        {"\r\n", 1},
        {"Connection: close\r\nConnection: keep\r\n", 1},  // the last one wins
        {"Connection: keep\r\nConnection: close\r\n", -1},
    };
    for (auto [header, keep] : keeps) {
        EXPECT_EQ(parsed(std::string("GET / HTTP/1.1\r\n") + header).keep, keep) << header;
    }
    EXPECT_EQ(parsed("GET / HTTP/1.1\nConnection: close\n").keep, -1);  // LF alone ends lines
}

TEST(HttpContent, RoutesByTheLastSegmentsInAnyCase) {
    for (const char *uri : {"", "anything/else", "turtle?x=1", "img", "/", "////", "abc"}) {
        EXPECT_EQ(mime_of(uri), MIME_HTML) << uri;
        EXPECT_EQ(body_of(uri), generate_html()) << uri;
    }
    ntmax = 2;
    turtle_view v[2]{};
    const std::string turtles = json_for_turtles(v, 2, elapsed_time.load());
    for (const char *uri : {"turtle", "TURTLE", "x/turtle", "img/turtle", "a//b/turtle/"}) {
        EXPECT_EQ(mime_of(uri), MIME_JSON) << uri;
        EXPECT_EQ(body_of(uri).substr(0, 30), turtles.substr(0, 30)) << uri;
    }
    EXPECT_EQ(body_of("Wall").front(), '[');
    EXPECT_EQ(body_of("a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q/r/s/t/u/v/w/x/y/z/A/B/C/D/E/F/G/coin"),
              "[]");  // more segments than the router ever had slots for

    // Images: the number after "img", read as far as it is a number; 7 for any number but 0..6.
    // (img/0 to img/7 themselves, each its own file: net_httpd.cpp.)
    const std::pair<const char *, int> images[] = {
        {"x/y/img/6", 6}, {"img/ 5", 5}, {"img/2abc", 2}, {"img/abc", 0},
        {"IMG/1", 1},     {"img/9", 7},  {"img/-1", 7},   {"img/99999999999999999999", 7}};
    for (auto [uri, k] : images) {
        EXPECT_EQ(mime_of(uri), MIME_PNG) << uri;
        EXPECT_EQ(generate_content(uri)->data, generate_png(k)->data) << uri;
    }

    // The built-in scripts live at exactly their paths.
    EXPECT_EQ(mime_of("js/viewer.js"), MIME_JAVASCRIPT);
    EXPECT_NE(body_of("js/viewer.js").find("function webGLStart"), std::string::npos);
    EXPECT_EQ(mime_of("js/three.min.js"), MIME_JAVASCRIPT);
    EXPECT_NE(body_of("js/replay.js").find("var kelpmoorReplay"), std::string::npos);
    EXPECT_EQ(mime_of("x/js/viewer.js"), MIME_HTML);
    EXPECT_EQ(mime_of("JS/viewer.js"), MIME_HTML);
    EXPECT_STREQ(mime_type_name(MIME_JAVASCRIPT), "text/javascript");
}

TEST(HttpContent, CameraFollowsTheTurtleTheFirstSegmentNames) {
    const std::string overview =
        "{\"x0\":0.000000,\"y0\":0.000000,\"z0\":450.000000,\"x1\":0.000000,\"y1\":0.000000,"
        "\"z1\":0.000000}";
    place(0, 1, 2, 0);
    place(3, 10, -5.5, 450);  // heading 450 is 90 after the remainder
    std::snprintf(ttl[3].name, sizeof ttl[3].name, "T1");
    std::snprintf(ttl[0].name, sizeof ttl[0].name, "camera");
    const std::string t3 =
        "{\"x0\":10.000000,\"y0\":-5.500000,\"z0\":10.000000,\"x1\":10.000000,"
        "\"y1\":94.500000,\"z1\":10.000000}";
    EXPECT_EQ(body_of("t1/camera"), t3);
    EXPECT_EQ(body_of("$3/camera"), t3);
    EXPECT_EQ(body_of("~3/x/y/camera"), t3);
    EXPECT_EQ(body_of("~2/camera"), overview);  // slot 2 is not in use
    EXPECT_EQ(body_of("$99999999999999999999999/camera"), overview);
    EXPECT_EQ(body_of("$t1/camera"), overview);  // "$" and no number: a name, and none has it
    EXPECT_EQ(body_of("camera"),
              "{\"x0\":1.000000,\"y0\":2.000000,\"z0\":10.000000,"
              "\"x1\":101.000000,\"y1\":2.000000,\"z1\":10.000000}")
        << "the turtle named camera";
    ttl[0].name[0] = '\0';
    EXPECT_EQ(body_of("camera"), overview);
}

// The turtle document lists every slot up to ntmax, free ones too, with each one's kind and
// events; the coin document only coins on the field. (A player's whole object and the wall
// document: docs/http.md, checked by clients_http_reference.)
TEST(HttpContent, DocumentsOfTurtlesAndCoins) {
    place(0, 10, -5.5, 90);
    place(2, 0, 0, -725, ST_STONE);
    ttl[2].event = EV_HIT | EV_BUMP_WALL | EV_RADAR | EV_TEAM_MSG;
    ttl[2].status |= ST_BULLET;
    place(3, 0, 0, 0, ST_STONE | ST_DOUGHNUT);
    elapsed_time = 1234;
    const std::string doc = body_of("turtle");
    EXPECT_NE(doc.find("\"head\":-5.000000"), std::string::npos);  // fmod keeps the sign
    EXPECT_NE(doc.find("\"tid\":2,\"time\":1234,\"type\":3"), std::string::npos);
    EXPECT_NE(doc.find("\"alive\":true,\"firing\":true,\"got_hit\":true,\"collide\":true,"
                       "\"detected\":true,\"got_msg\":true}"),
              std::string::npos);
    EXPECT_NE(doc.find("\"tid\":3,\"time\":1234,\"type\":2"), std::string::npos);
    EXPECT_EQ(std::count(doc.begin(), doc.end(), '{'), 4);
    EXPECT_EQ(doc.back(), ']');
    EXPECT_EQ(ttl[2].event, EV_HIT | EV_BUMP_WALL | EV_RADAR | EV_TEAM_MSG)
        << "reading the events must not clear them";
    field_kill_all_turtles();
    EXPECT_EQ(body_of("turtle"), "[]");
    coins[0] = coin{0, {12, -40}, 0, nullptr, COIN_ON_FIELD};
    coins[1] = coin{1, {99, 99}, -1, nullptr, 0};
    coins[2] = coin{2, {30.5, 8}, 1, nullptr, COIN_ON_FIELD};
    ncoin = 3;
    EXPECT_EQ(body_of("coin"),
              "[{\"x\":12.000000,\"y\":-40.000000,\"ord\":0},"
              "{\"x\":30.500000,\"y\":8.000000,\"ord\":1}]");
}

TEST(HttpContent, NamesAreEscapedSoTheDocumentStaysJson) {
    std::string out;
    append_json_escaped(out, "plain name ~!");
    EXPECT_EQ(out, "plain name ~!");
    out.clear();
    append_json_escaped(out, std::string("q\"b\\s/\x01\x1f\x7f\xe9", 10));
    EXPECT_EQ(out, "q\\\"b\\\\s/\\u0001\\u001f\\u007f\\u00e9");

    // The largest table: 30 slots with 128-character names of bytes that all need escaping.
    std::array<turtle_view, NTURTLE> views{};
    for (auto &v : views) {
        std::fill(v.name, v.name + 128, '\xff');
        v.name[128] = '\0';
    }
    const std::string doc = json_for_turtles(views.data(), NTURTLE, 7);
    EXPECT_EQ(std::count(doc.begin(), doc.end(), '}'), NTURTLE);
    std::string name = "\"name\":\"";
    for (int i = 0; i < 128; i++) name += "\\u00ff";
    EXPECT_NE(doc.find(name + "\",\"team\""), std::string::npos);
    EXPECT_EQ(doc.substr(doc.size() - 17), "\"got_msg\":false}]");
}

// The page holds the two built-in script tags, at most ten, and only those that fit: the first
// that does not ends the list, and the page's tail is left out when it no longer fits.
TEST(HttpContent, PageHoldsTheScriptTagsThatFit) {
    const auto tags = [](const std::string &p) {
        size_t n = 0;
        for (size_t at = 0; (at = p.find("<script", at)) != std::string::npos; at++) n++;
        return n;
    };
    const auto whole = [](const std::string &p) { return p.ends_with("</body></html>\n"); };
    std::string page = generate_html();
    EXPECT_EQ(tags(page), 2u);
    EXPECT_LT(page.find(VIEWER_JS_PATH), page.find(THREE_JS_PATH));
    EXPECT_TRUE(whole(page));
    set_jscript_src("a.js;b.js");
    EXPECT_EQ(tags(generate_html()), 2u);
    EXPECT_NE(generate_html().find("src=\"b.js\""), std::string::npos);
    set_jscript_src("1 2 3 4 5 6 7 8 9 10 11");
    EXPECT_EQ(tags(generate_html()), 10u);
    EXPECT_TRUE(whole(generate_html()));

    // Two long URLs fit, the tail after them does not.
    const std::string u1000(1000, 'u');
    set_jscript_src((u1000 + ";" + u1000).c_str());
    page = generate_html();
    EXPECT_EQ(tags(page), 2u);
    EXPECT_FALSE(whole(page));
    EXPECT_LE(page.size(), static_cast<size_t>(HTML_PAGE_CHARS));
    // The second of three does not fit, though the third would.
    n_jscript = 3;
    msg_jscript_srcp[0] = std::string(1500, 'a');
    msg_jscript_srcp[1] = std::string(1500, 'b');
    msg_jscript_srcp[2] = "c.js";
    page = generate_html();
    EXPECT_EQ(tags(page), 1u);
    EXPECT_TRUE(whole(page));
    n_jscript = 0;
}
