// replay.js: plays a Kelpmoor recording (docs/recording.md) in the browser viewer, which loads
// it for a page at /replay/NAME or when a recording is dropped onto the page. It reads the
// file's records, shows any instant by inflating the key frame at or before it and the frames
// after it, and hands the viewer events in the stream's form and the floor's pixels. Adds the
// controls: play and pause, speed, a timeline with the recording's markers.
"use strict";

var kelpmoorReplay = (function () {
    var MAGIC = [0x4b, 0x45, 0x4c, 0x50, 0x52, 0x45, 0x43, 0x0a];  // "KELPREC\n"
    var VERSION = 1;
    var HEADER_BYTES = 24;
    var HEAD_BYTES = 17;               // type, tick, ms, stored, size
    var CRC_BYTES = 4;
    var MAX_BYTES = 64 * 1024 * 1024;  // longest payload, stored or inflated
    var SIDE = 512;                    // the floor's pixels across and down
    var FLOOR_BYTES = SIDE * SIDE * 3;
    var SPEEDS = [0.25, 0.5, 1, 2, 4, 8, 16, 32];
    var CACHED_SEGMENTS = 6;           // inflated key frames kept for seeking back
    // A final empty stored block: after a sync flush, where a segment's stream stops, it ends
    // the stream, so that the inflater finishes instead of waiting for more.
    var FINAL_BLOCK = [0x01, 0x00, 0x00, 0xff, 0xff];
    // The marks' colours; of markers at one tick, the first kind in this order colours the mark.
    var MARKER_COLOURS = { "kill-all": "#ff40ff", kill: "#ff5050", explosion: "#ffa030",
                           clear: "#e0e0e0", mode: "#60c0ff" };
    var MARKER_KINDS = Object.keys(MARKER_COLOURS);

    var CRC_TABLE = (function () {
        var t = new Int32Array(256);
        for (var n = 0; n < 256; n++) {
            var c = n;
            for (var k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
            t[n] = c;
        }
        return t;
    })();

    function crc32(bytes, start, end) {
        var c = -1;
        for (var i = start; i < end; i++) c = CRC_TABLE[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
        return (c ^ -1) >>> 0;
    }

    function parseJson(bytes, what) {
        try {
            return JSON.parse(new TextDecoder().decode(bytes));
        } catch (e) {
            throw new Error("damaged recording: " + what + " is not JSON");
        }
    }

    // ---- Reading the file: the heads and CRCs of every whole record ----

    // The recording's index: frames (K and F) in order, grouped into segments that each begin
    // at a key frame, and the markers. Throws when the bytes are not a recording; a torn or
    // damaged tail only ends the index (torn says why).
    function scan(buffer) {
        var u8 = new Uint8Array(buffer), dv = new DataView(buffer);
        for (var i = 0; i < MAGIC.length; i++) {
            if (u8[i] !== MAGIC[i]) throw new Error("not a Kelpmoor recording");
        }
        if (u8.length < HEADER_BYTES) throw new Error("not a Kelpmoor recording: cut short");
        var version = dv.getUint32(8, true);
        if (version !== VERSION) {
            throw new Error("a recording of format version " + version + "; this viewer reads " +
                            "version " + VERSION);
        }
        var r = { started: dv.getUint32(16, true) + dv.getInt32(20, true) * 4294967296,
                  bytes: u8, frames: [], segments: [], markers: [], ended: null, torn: null };
        var markers = [];
        var at = HEADER_BYTES;
        while (at < u8.length) {
            if (at + HEAD_BYTES + CRC_BYTES > u8.length) { r.torn = "cut short"; break; }
            var type = String.fromCharCode(u8[at]);
            var tick = dv.getUint32(at + 1, true), ms = dv.getUint32(at + 5, true);
            var stored = dv.getUint32(at + 9, true), size = dv.getUint32(at + 13, true);
            var end = at + HEAD_BYTES + stored;
            if ("KFME".indexOf(type) < 0) { r.torn = "unknown record type"; break; }
            if (stored > MAX_BYTES || size > MAX_BYTES) { r.torn = "record too long"; break; }
            if (end + CRC_BYTES > u8.length) { r.torn = "cut short"; break; }
            if (crc32(u8, at, end) !== dv.getUint32(end, true)) { r.torn = "bad CRC"; break; }
            if (type === "F" && r.segments.length === 0) { r.torn = "no key frame"; break; }
            var payload = u8.subarray(at + HEAD_BYTES, end);
            if (type === "K" || type === "F") {
                if (type === "K") r.segments.push({ first: r.frames.length, frames: [] });
                var seg = r.segments.length - 1;
                var f = { type: type, tick: tick, ms: ms, payload: payload, size: size,
                          seg: seg, index: r.segments[seg].frames.length };
                r.segments[seg].frames.push(f);
                r.frames.push(f);
            } else if (type === "M") {
                try {
                    var m = JSON.parse(new TextDecoder().decode(payload));
                    markers.push({ tick: tick, ms: ms, kind: String(m.kind),
                                   text: String(m.text) });
                } catch (e) {
                    // A marker that is not JSON only loses its mark on the timeline.
                }
            } else {
                r.ended = tick;
            }
            at = end + CRC_BYTES;
        }
        if (r.frames.length === 0) {
            throw new Error("a recording without a whole frame" + (r.torn ? " (" + r.torn + ")"
                                                                         : ""));
        }
        var last = r.frames[r.frames.length - 1];
        r.markers = markers.filter(function (m) { return m.tick <= last.tick; });
        return r;
    }

    // ---- Inflating a segment ----

    // A segment's payloads, in order, are one deflate stream; the contents of its records come
    // out one after another.
    function inflate(frames) {
        var stored = FINAL_BLOCK.length, expected = 0;
        frames.forEach(function (f) { stored += f.payload.length; expected += f.size; });
        var input = new Uint8Array(stored), at = 0;
        frames.forEach(function (f) { input.set(f.payload, at); at += f.payload.length; });
        input.set(FINAL_BLOCK, at);
        var ds = new DecompressionStream("deflate-raw");
        var writer = ds.writable.getWriter(), reader = ds.readable.getReader();
        writer.write(input).catch(function () {});
        writer.close().catch(function () {});
        var out = new Uint8Array(expected), got = 0;
        function more() {
            return reader.read().then(function (chunk) {
                if (chunk.done) {
                    if (got !== expected) throw new Error("inflated sizes differ");
                    return out;
                }
                if (got + chunk.value.length > expected) throw new Error("inflated sizes differ");
                out.set(chunk.value, got);
                got += chunk.value.length;
                return more();
            });
        }
        return more().catch(function (e) {
            reader.cancel().catch(function () {});
            throw new Error("damaged recording at tick " + frames[0].tick + ": " +
                            (e && e.message || e));
        });
    }

    // One frame's content: its event and where its floor patches begin.
    function splitContent(content, what) {
        if (content.length < 4) throw new Error("damaged recording: " + what + " too short");
        var n = content[0] | content[1] << 8 | content[2] << 16 | content[3] << 24;
        if (n < 0 || 4 + n > content.length) {
            throw new Error("damaged recording: " + what + " too short");
        }
        return { event: parseJson(content.subarray(4, 4 + n), what), rest: 4 + n,
                 content: content };
    }

    // A segment inflated: its key frame's event and floor (RGBA, for the canvas), and each
    // frame after it.
    function decodeSegment(segment) {
        return inflate(segment.frames).then(function (all) {
            var at = 0;
            var parts = segment.frames.map(function (f) {
                var part = splitContent(all.subarray(at, at + f.size), "the frame at tick " +
                                        f.tick);
                at += f.size;
                return part;
            });
            var key = parts[0];
            if (key.content.length - key.rest !== FLOOR_BYTES) {
                throw new Error("damaged recording: the key frame at tick " +
                                segment.frames[0].tick + " holds no whole floor");
            }
            var rgba = new Uint8ClampedArray(SIDE * SIDE * 4);
            for (var p = 0, q = key.rest; p < rgba.length; p += 4, q += 3) {
                rgba[p] = key.content[q];
                rgba[p + 1] = key.content[q + 1];
                rgba[p + 2] = key.content[q + 2];
                rgba[p + 3] = 255;
            }
            return { keyJson: JSON.stringify(key.event), floor: rgba, parts: parts };
        });
    }

    // XORs a frame's patches into the floor; returns the rectangle they covered (or dirty).
    function applyPatches(rgba, part, dirty) {
        var c = part.content, at = part.rest;
        while (at < c.length) {
            if (at + 8 > c.length) throw new Error("damaged recording: a torn floor patch");
            var x = c[at] | c[at + 1] << 8, y = c[at + 2] | c[at + 3] << 8;
            var w = c[at + 4] | c[at + 5] << 8, h = c[at + 6] | c[at + 7] << 8;
            at += 8;
            if (x + w > SIDE || y + h > SIDE || at + w * h * 3 > c.length) {
                throw new Error("damaged recording: a floor patch outside the floor");
            }
            for (var row = y; row < y + h; row++) {
                for (var o = (row * SIDE + x) * 4, e = o + w * 4; o < e; o += 4, at += 3) {
                    rgba[o] ^= c[at];
                    rgba[o + 1] ^= c[at + 1];
                    rgba[o + 2] ^= c[at + 2];
                }
            }
            if (w > 0 && h > 0) {
                dirty = dirty ? { x0: Math.min(dirty.x0, x), y0: Math.min(dirty.y0, y),
                                  x1: Math.max(dirty.x1, x + w), y1: Math.max(dirty.y1, y + h) }
                              : { x0: x, y0: y, x1: x + w, y1: y + h };
            }
        }
        return dirty;
    }

    // The whole state after a delta event, kept as a full event (turtles by id).
    function merge(state, e) {
        Object.keys(e).forEach(function (key) {
            if (key === "turtles") {
                e.turtles.forEach(function (t) {
                    var old = state.turtles.filter(function (s) { return s.id === t.id; })[0];
                    if (old) Object.assign(old, t);
                    else state.turtles.push(Object.assign({}, t));
                });
            } else if (key === "gone") {
                state.turtles = state.turtles.filter(function (s) {
                    return e.gone.indexOf(s.id) < 0;
                });
            } else if (key !== "full") {
                state[key] = e[key];
            }
        });
    }

    // ---- The player ----

    function player(rec, view, name) {
        var cache = [];           // [{ seg, data }], the most recently used last
        var pending = null;       // the segment being inflated
        var shown = null;         // the frame index shown
        var wanted = 0;           // the frame index to show
        var floor = new ImageData(SIDE, SIDE);
        var clock = 0, playing = false, speed = 1, lastNow = null, failed = null;
        var stopped = false;
        var lastMs = rec.frames[rec.frames.length - 1].ms;
        var ui = controls(rec, name);

        function cached(seg) {
            for (var i = 0; i < cache.length; i++) {
                if (cache[i].seg === seg) {
                    var hit = cache.splice(i, 1)[0];
                    cache.push(hit);
                    return hit.data;
                }
            }
            return null;
        }

        // Inflates a segment in the background; show() runs again when it is ready.
        function load(seg) {
            if (pending !== null || cached(seg) || failed) return;
            pending = seg;
            decodeSegment(rec.segments[seg]).then(function (data) {
                cache.push({ seg: seg, data: data });
                if (cache.length > CACHED_SEGMENTS) cache.shift();
                pending = null;
                show();
            }, fail);
        }

        function fail(e) {
            failed = String(e && e.message || e);
            pending = null;
            playing = false;
            view.notice(failed);
            ui.update();
        }

        function upload(dirty) {
            if (dirty) view.drawFloor(floor, dirty.x0, dirty.y0, dirty.x1 - dirty.x0,
                                      dirty.y1 - dirty.y0);
        }

        // Shows the frame wanted: the frames after the one shown when it is ahead in the same
        // segment, else its key frame and the frames after it up to it.
        function show() {
            if (failed || stopped) return;
            var f = rec.frames[wanted], data = cached(f.seg);
            if (!data) return load(f.seg);
            try {
                var parts = data.parts, dirty = null, i;
                if (shown !== null && rec.frames[shown].seg === f.seg && shown <= wanted) {
                    for (i = rec.frames[shown].index + 1; i <= f.index; i++) {
                        view.applyEvent(parts[i].event);
                        dirty = applyPatches(floor.data, parts[i], dirty);
                    }
                } else {
                    var state = JSON.parse(data.keyJson);
                    floor.data.set(data.floor);
                    for (i = 1; i <= f.index; i++) {
                        merge(state, parts[i].event);
                        applyPatches(floor.data, parts[i], null);
                    }
                    view.showState(state);
                    dirty = { x0: 0, y0: 0, x1: SIDE, y1: SIDE };
                }
                upload(dirty);
                shown = wanted;
            } catch (e) {
                return fail(e);
            }
            if (playing && f.seg + 1 < rec.segments.length) load(f.seg + 1);
            ui.update();
        }

        // The last frame at or before a time (ms) or a tick.
        function frameAt(key, value) {
            var lo = 0, hi = rec.frames.length - 1;
            while (lo < hi) {
                var mid = (lo + hi + 1) >> 1;
                if (rec.frames[mid][key] <= value) lo = mid;
                else hi = mid - 1;
            }
            return lo;
        }

        function seekMs(ms) {
            clock = Math.max(0, Math.min(lastMs, ms));
            wanted = frameAt("ms", clock);
            if (wanted !== shown) show();
            ui.update();
        }

        function step(now) {
            if (stopped) return;
            requestAnimationFrame(step);
            var dt = lastNow === null ? 0 : Math.min(250, now - lastNow);
            lastNow = now;
            if (!playing) return;
            // Waiting for a segment holds the clock, so that no instant is skipped.
            if (pending !== null && wanted !== shown) return;
            clock += dt * speed;
            if (clock >= lastMs) {
                clock = lastMs;
                playing = false;
            }
            var want = frameAt("ms", clock);
            if (want !== wanted) {
                wanted = want;
                show();
            }
            ui.update();
        }

        ui.bind({
            toggle: function () {
                if (!playing && clock >= lastMs) seekMs(0);
                playing = !playing && !failed;
                ui.update();
            },
            speed: function (s) { speed = s; },
            seek: seekMs,
            status: function () {
                return { playing: playing, speed: speed, clock: clock, lastMs: lastMs,
                         tick: shown === null ? null : rec.frames[shown].tick,
                         ms: shown === null ? null : rec.frames[shown].ms, failed: failed };
            }
        });

        var first = /[?&#]t=(\d+)/.exec(window.location.search + window.location.hash);
        if (first) seekMs(rec.frames[frameAt("tick", Number(first[1]))].ms);
        else seekMs(0);
        playing = !first && !failed;
        requestAnimationFrame(step);
        return {
            state: function () {
                return { tick: shown === null ? null : rec.frames[shown].tick,
                         wantedTick: rec.frames[wanted].tick, playing: playing, speed: speed,
                         frames: rec.frames.length, markers: rec.markers.length,
                         torn: rec.torn, failed: failed };
            },
            seekTick: function (tick) { seekMs(rec.frames[frameAt("tick", tick)].ms); },
            stop: function () { stopped = true; }
        };
    }

    // ---- The controls: a bar along the bottom of the page ----

    function element(tag, parent, style, text) {
        var el = document.createElement(tag);
        if (style) el.style.cssText = style;
        if (text !== undefined) el.textContent = text;
        if (parent) parent.appendChild(el);
        return el;
    }

    function clockText(ms) {
        var s = Math.floor(ms / 1000);
        return Math.floor(s / 60) + ":" + ("0" + s % 60).slice(-2);
    }

    function controls(rec, name) {
        var old = document.getElementById("replay");
        if (old) old.parentNode.removeChild(old);
        var lastMs = rec.frames[rec.frames.length - 1].ms;
        var bar = element("div", document.body,
                          "position: fixed; left: 0; right: 0; bottom: 0; z-index: 2; " +
                          "display: flex; align-items: center; gap: 10px; padding: 2px 14px; " +
                          "background: rgba(0, 16, 32, 0.85); color: #e8e8e8; " +
                          "font: 13px sans-serif;");
        bar.id = "replay";
        var button = element("button", bar, "width: 70px; font: inherit;", "pause");
        var speed = element("select", bar, "font: inherit;");
        SPEEDS.forEach(function (s) {
            var o = element("option", speed, "", s + "x");
            o.value = String(s);
            if (s === 1) o.selected = true;
        });
        var track = element("div", bar, "position: relative; flex: 1; height: 30px;");
        var range = element("input", track, "position: absolute; left: 0; right: 0; top: 12px; " +
                            "width: 100%; margin: 0;");
        // The marks' strip is inset by half the range's thumb, so that a mark sits where the
        // thumb's centre would at its instant.
        var marks = element("div", track, "position: absolute; left: 8px; right: 8px; top: 2px; " +
                            "height: 10px;");
        range.type = "range";
        range.min = 0;
        range.max = lastMs;
        range.step = 1;
        range.value = 0;
        // One mark per tick: a kill and its explosion come together.
        var byTick = [];
        rec.markers.forEach(function (m) {
            var last = byTick[byTick.length - 1];
            if (last && last[0].tick === m.tick) last.push(m);
            else byTick.push([m]);
        });
        byTick.forEach(function (group) {
            var m = group[0], rank = function (k) {
                var i = MARKER_KINDS.indexOf(k.kind);
                return i < 0 ? MARKER_KINDS.length : i;
            };
            var colour = MARKER_COLOURS[group.slice().sort(function (a, b) {
                return rank(a) - rank(b);
            })[0].kind] || "#ffffff";
            var mark = element("div", marks,
                               "position: absolute; top: 0; width: 4px; height: 10px; " +
                               "margin-left: -2px; border-radius: 2px; cursor: pointer; " +
                               "background: " + colour + "; left: " +
                               (lastMs > 0 ? 100 * Math.min(m.ms, lastMs) / lastMs : 0) + "%;");
            mark.title = "tick " + m.tick + ": " + group.map(function (k) {
                return k.kind + " " + k.text;
            }).join(", ");
            mark.className = "replay-marker";
            mark.onclick = function () { handlers.seek(m.ms); };
        });
        var time = element("span", bar, "min-width: 190px; font-variant-numeric: tabular-nums;");
        var title = element("span", bar, "color: #90ffff; max-width: 320px; overflow: hidden; " +
                            "text-overflow: ellipsis; white-space: nowrap;", name);
        if (rec.torn) {
            title.textContent += " (stops early: " + rec.torn + ")";
            title.style.color = "#ffc060";
        }
        title.title = title.textContent + ", recorded " + new Date(rec.started).toLocaleString();
        var handlers = null, dragging = false;
        button.onclick = function () { handlers.toggle(); };
        speed.onchange = function () { handlers.speed(Number(speed.value)); };
        range.oninput = function () {
            dragging = true;
            handlers.seek(Number(range.value));
        };
        range.onchange = function () { dragging = false; };
        window.addEventListener("keydown", function (e) {
            if (e.key === " " && e.target === document.body) {
                e.preventDefault();
                handlers.toggle();
            }
        });
        return {
            bind: function (h) { handlers = h; },
            update: function () {
                if (!handlers) return;
                var s = handlers.status();
                var label = s.failed ? "failed" : s.playing ? "pause" : "play";
                if (button.textContent !== label) button.textContent = label;
                button.disabled = !!s.failed;
                if (!dragging) range.value = s.clock;
                var text = clockText(s.clock) + " / " + clockText(s.lastMs) +
                           (s.tick === null ? "" : ", tick " + s.tick);
                if (time.textContent !== text) time.textContent = text;
            }
        };
    }

    // Plays the recording in buffer (an ArrayBuffer) through view, the viewer's side:
    // applyEvent(event) as from the stream, showState(event) for the whole state at an instant
    // (a full event), drawFloor(imageData, x, y, w, h), notice(text).
    // Throws when the bytes are not a recording.
    function play(buffer, view, name) {
        if (typeof DecompressionStream !== "function") {
            throw new Error("this browser cannot inflate recordings (no DecompressionStream)");
        }
        return player(scan(buffer), view, name);
    }

    return { play: play, scan: scan };
})();
