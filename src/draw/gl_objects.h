// gl_objects.h: GL textures, framebuffers and renderbuffers held by values that delete them,
// and the one way textures are made. Main thread, with the window's GL context current.
#pragma once

#include <utility>

enum class gl_kind { texture, framebuffer, renderbuffer };

unsigned int gl_generate(gl_kind kind);           // a new name of that kind
void gl_delete(gl_kind kind, unsigned int name);  // nothing for name 0

// One GL name, deleted with its owner; moving hands it on. 0 while empty.
template <gl_kind K>
class gl_object {
public:
    gl_object() = default;
    static gl_object generate() { return gl_object(gl_generate(K)); }
    ~gl_object() { gl_delete(K, name_); }
    gl_object(gl_object &&o) noexcept : name_(std::exchange(o.name_, 0)) {}
    gl_object &operator=(gl_object &&o) noexcept {
        if (this != &o) {
            gl_delete(K, name_);
            name_ = std::exchange(o.name_, 0);
        }
        return *this;
    }
    gl_object(const gl_object &) = delete;
    gl_object &operator=(const gl_object &) = delete;

    unsigned int get() const { return name_; }

private:
    explicit gl_object(unsigned int name) : name_(name) {}
    unsigned int name_ = 0;
};

using gl_texture = gl_object<gl_kind::texture>;
using gl_framebuffer = gl_object<gl_kind::framebuffer>;
using gl_renderbuffer = gl_object<gl_kind::renderbuffer>;

// A 2-D texture of width x height texels with nearest filtering, from unsigned bytes in the
// given format, rows packed without padding (pixels nullptr: contents undefined). Clamped to
// its edges when clamp is set, repeating otherwise. Leaves no 2-D texture bound and the
// pixel store as it was.
gl_texture make_texture(int internal_format, int width, int height, unsigned int format,
                        const void *pixels, bool clamp = false);
