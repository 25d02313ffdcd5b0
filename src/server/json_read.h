// json_read.h: a small reader for the JSON the program itself writes (stream events, markers),
// used to read recordings back. Strict and bounded: anything else is refused, never trusted.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int JSON_MAX_DEPTH = 32;  // deeper nesting is refused

struct json_value {
    enum class kind { null, boolean, number, string, array, object };
    kind type = kind::null;
    bool flag = false;
    double number = 0;
    std::string text;               // a string, \u00XX as that byte
    std::vector<json_value> items;  // an array's, or an object's values in order
    std::vector<std::string> keys;  // an object's keys, one for each of items

    const json_value *get(std::string_view key) const;  // an object's field; null if none
    bool is(kind k) const { return type == k; }
};

// The whole text as one value (white space around it allowed); nullopt when it is not JSON,
// nests deeper than JSON_MAX_DEPTH or has a \u escape above 0xff.
std::optional<json_value> json_parse(std::string_view text);
