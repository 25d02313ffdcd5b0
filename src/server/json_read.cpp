// json_read.cpp: the JSON reader, a recursive descent over the text with a depth bound.
#include "server/json_read.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool one_of(const char *set, char c) { return c != '\0' && std::strchr(set, c) != nullptr; }

struct reader {
    std::string_view s;
    std::size_t at = 0;

    void skip_space() {
        while (at < s.size() && one_of(" \t\r\n", s[at])) at++;
    }
    bool eat(char c) {
        skip_space();
        if (at < s.size() && s[at] == c) {
            at++;
            return true;
        }
        return false;
    }
    bool word(std::string_view w) {
        if (s.substr(at, w.size()) != w) return false;
        at += w.size();
        return true;
    }

    static int hex_digit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool string(std::string &out) {
        if (!eat('"')) return false;
        while (at < s.size()) {
            const char c = s[at++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at >= s.size()) return false;
            const char e = s[at++];
            constexpr const char *ESCAPED = "\"\\/bfnrt", *MEANT = "\"\\/\b\f\n\r\t";
            if (one_of(ESCAPED, e)) {
                out += MEANT[std::strchr(ESCAPED, e) - ESCAPED];
                continue;
            }
            if (e != 'u' || at + 4 > s.size()) return false;
            int code = 0;
            for (int i = 0; i < 4; i++) {
                const int d = hex_digit(s[at++]);
                if (d < 0) return false;
                code = code * 16 + d;
            }
            if (code > 0xff) return false;  // the writer escapes single bytes only
            out += static_cast<char>(code);
        }
        return false;
    }

    bool number(double &out) {
        const std::size_t start = at;
        if (at < s.size() && s[at] == '-') at++;
        while (at < s.size() && one_of("0123456789.eE+-", s[at])) at++;
        const std::string digits(s.substr(start, at - start));
        if (digits.empty() || digits == "-") return false;
        char *end = nullptr;
        out = std::strtod(digits.c_str(), &end);
        return end == digits.c_str() + digits.size() && std::isfinite(out);
    }

    bool value(json_value &v, int depth) {
        if (depth > JSON_MAX_DEPTH) return false;
        skip_space();
        if (at >= s.size()) return false;
        const char c = s[at];
        if (c == '{') {
            v.type = json_value::kind::object;
            at++;
            if (eat('}')) return true;
            do {
                v.keys.emplace_back();
                v.items.emplace_back();
                if (!string(v.keys.back()) || !eat(':') || !value(v.items.back(), depth + 1)) {
                    return false;
                }
            } while (eat(','));
            return eat('}');
        }
        if (c == '[') {
            v.type = json_value::kind::array;
            at++;
            if (eat(']')) return true;
            do {
                v.items.emplace_back();
                if (!value(v.items.back(), depth + 1)) return false;
            } while (eat(','));
            return eat(']');
        }
        if (c == '"') {
            v.type = json_value::kind::string;
            return string(v.text);
        }
        if (word("null")) return true;
        if (word("true") || word("false")) {
            v.type = json_value::kind::boolean;
            v.flag = s[at - 2] == 'u';  // tr(u)e, fal(s)e
            return true;
        }
        v.type = json_value::kind::number;
        return number(v.number);
    }
};

}  // namespace

const json_value *json_value::get(std::string_view key) const {
    if (type != kind::object) return nullptr;
    for (std::size_t i = 0; i < keys.size(); i++) {
        if (keys[i] == key) return &items[i];
    }
    return nullptr;
}

std::optional<json_value> json_parse(std::string_view text) {
    reader r{text};
    json_value v;
    if (!r.value(v, 0)) return std::nullopt;
    r.skip_space();
    if (r.at != text.size()) return std::nullopt;
    return v;
}
