// viewer.js: Kelpmoor's browser viewer, drawn with three.js; the page calls webGLStart() when it
// has loaded. It follows the field through the event stream /live/stream and the floor images
// /live/floor.png and /live/floor/since/V; where the stream cannot be opened it polls the JSON
// documents (turtle, wall, coin, camera) instead and keeps trying the stream.
// A page opened at /NAME/ follows turtle NAME from its own eyes; every other page shows the
// overview. A page opened at /replay/NAME plays the recording NAME instead, and a recording
// dropped onto any page plays the same way (web/replay.js, loaded when needed). Mouse drag
// orbits the camera, the wheel zooms.
"use strict";

var kelpmoor = (function () {
    var FIELD = 512;             // field units, -256 .. 256 in x and y
    var WALL_HEIGHT = 15;
    var BODY_HEIGHT = 5;         // the turtle model's centre above the floor
    var BATTLE_HEIGHT = 3;       // bullets, flashes and fireballs
    var LABEL_HEIGHT = 16;
    var FLASH_FRAMES = 25;
    var FIREBALL_TTL = 35;       // the fireball shows while ttl is above this
    var POLL_MS = { turtle: 100, camera: 100, coin: 200, wall: 1000, floor: 500 };
    var RETRY_MS = 1000;
    var STREAM_RETRY_MS = 5000;  // while polling: how often the stream is tried again
    var TIMEOUT_MS = 3000;
    var SMOOTH_S = 0.06;         // easing between polls, seconds (the stream is shown as it comes)
    var SNAP_DISTANCE = 60;      // a turtle that moved further than this jumped: no easing
    // The window's team colours (body diffuse; its ambient is 0.6 of it under a 0.2 ambient).
    var TEAM_COLOURS = [[0.2, 1.0, 0.1], [0.7, 0.3, 1.0], [0.5, 0.9, 0.9], [0.1, 0.1, 1.0],
                        [0.8, 0.9, 0.0]];
    var LABEL_FONT = "12px Helvetica, Arial, sans-serif";
    var LABEL_COLOUR = "rgb(179,179,179)";
    var LABEL_PX = 16;           // label canvas height; the baseline 4 px above its bottom

    var base = "/";              // where the documents are fetched: "/" or "/NAME/"
    var follow = null;           // the followed turtle's name or "$n", from the page's path
    var renderer, scene, camera;
    var shared = {};             // geometries and materials every object reuses
    var wallGroup = null, wallKey = "";
    var coinMeshes = [], coinGroup;
    var slots = {};              // id -> what is drawn of that turtle slot
    var floor = { canvas: null, g: null, texture: null, mesh: null, plain: null, have: null,
                  want: null, busy: false, absent: false };
    var modes = { battle: 0 }, labels = { name: 0, score: 0 };
    var camDoc = { x0: 0, y0: 0, z0: 450, x1: 0, y1: 0, z1: 0 };
    var camShown = null;
    var orbit = { yaw: 0, pitch: 0, zoom: 1 };
    var failures = {};           // source name -> error text while it fails
    var tick = 0;
    var streaming = false, stream = null, polling = 0;  // polling: the round of poll loops
    var lastFrame = 0;
    var replaying = null;        // the player of web/replay.js while a recording plays
    var notice = null;           // what the page says instead of the tick while replaying
    // replay.js lies beside this script, wherever the page's script tags put it.
    var replayScript = (document.currentScript && document.currentScript.src || "/js/viewer.js")
        .replace(/viewer\.js(\?.*)?$/, "replay.js");

    function firstSegment() {
        return window.location.pathname.split("/").filter(function (s) {
            return s.length > 0;
        })[0];
    }

    function decoded(segment) {
        try {
            return decodeURIComponent(segment);
        } catch (e) {
            return unescape(segment);
        }
    }

    function teamColour(team) {
        return TEAM_COLOURS[((team % 5) + 5) % 5];
    }

    function setupShared() {
        var granite = new THREE.TextureLoader().load(base + "img/7");
        granite.wrapS = granite.wrapT = THREE.RepeatWrapping;
        granite.anisotropy = 4;
        function lambert(rgb, extra) {
            return new THREE.MeshLambertMaterial(Object.assign({
                color: new THREE.Color(rgb[0], rgb[1], rgb[2])
            }, extra || {}));
        }
        shared = {
            shell: new THREE.SphereBufferGeometry(10, 12, 12),
            head: new THREE.SphereBufferGeometry(2.5, 8, 8),
            leg: new THREE.SphereBufferGeometry(2, 8, 8),
            tail: new THREE.ConeBufferGeometry(1, 6, 8, 4),
            stone: new THREE.DodecahedronBufferGeometry(10, 1),
            doughnut: new THREE.TorusBufferGeometry(7, 3.5, 10, 20),
            coin: new THREE.CylinderBufferGeometry(8, 8, 1, 20),
            bullet: new THREE.SphereBufferGeometry(5, 16, 16),
            ball: new THREE.SphereBufferGeometry(15, 16, 16),
            team: TEAM_COLOURS.map(function (c) { return lambert(c); }),
            stoneMaterial: new THREE.MeshLambertMaterial({ map: granite }),
            wallSide: new THREE.MeshLambertMaterial({ map: granite, color: 0x808050 }),
            wallCap: lambert([0.5, 0.5, 0.3]),
            doughnutMaterial: new THREE.MeshLambertMaterial({ color: 0xf07fae }),
            coinMaterial: new THREE.MeshLambertMaterial({ color: 0xf5c22e, emissive: 0x403000 }),
            bulletMaterial: lambert([1, 0.9, 0.5]),
            fireball: lambert([1, 0.2, 0], { transparent: true, opacity: 0.8, depthWrite: false }),
            // One per remaining flash frame: the flash fades from 1 to 1/25.
            flash: []
        };
        for (var f = 1; f <= FLASH_FRAMES; f++) {
            shared.flash[f] = lambert([1, 0.9, 0.5], {
                transparent: true, opacity: f / FLASH_FRAMES, depthWrite: false
            });
        }
    }

    function mesh(geometry, material, x, y, z) {
        var m = new THREE.Mesh(geometry, material);
        m.position.set(x || 0, y || 0, z || 0);
        return m;
    }

    // The window's turtle: shell, head, four legs and tail, in its team's colour.
    function makeTurtle(team) {
        var g = new THREE.Group();
        var body = new THREE.Group();
        body.position.z = BODY_HEIGHT;
        var material = shared.team[((team % 5) + 5) % 5];
        var shell = mesh(shared.shell, material);
        shell.scale.set(1, 0.7, 0.5);
        var head = mesh(shared.head, material, 11.5, 0, 0);
        var legs = [0, 1, 2, 3].map(function (k) {
            return mesh(shared.leg, material, 0, k < 2 ? 8 : -8, -2);
        });
        var tail = mesh(shared.tail, material, -11, 0, 0);
        tail.rotation.z = Math.PI / 2;  // the cone's apex (+y) points backwards
        [shell, head, tail].concat(legs).forEach(function (m) { body.add(m); });
        g.add(body);
        var carried = mesh(shared.coin, shared.coinMaterial, 0, 0, 2.5);
        carried.rotation.x = Math.PI / 2;
        g.add(carried);
        g.userData = { head: head, legs: legs, carried: carried, material: material };
        return g;
    }

    function makeObject(kind) {
        var g = new THREE.Group();
        var m = kind === "stone" ? mesh(shared.stone, shared.stoneMaterial, 0, 0, 5)
                                 : mesh(shared.doughnut, shared.doughnutMaterial, 0, 0, 3.5);
        if (kind === "stone") m.scale.set(1, 1, 0.7);
        g.add(m);
        return g;
    }

    // A text label of fixed pixel size, on a canvas of its own that is redrawn when it changes.
    function makeLabel() {
        var canvas = document.createElement("canvas");
        canvas.height = LABEL_PX;
        var texture = new THREE.CanvasTexture(canvas);
        texture.minFilter = texture.magFilter = THREE.LinearFilter;
        texture.generateMipmaps = false;
        var material = new THREE.SpriteMaterial({
            map: texture, transparent: true, depthWrite: false, sizeAttenuation: false
        });
        var sprite = new THREE.Sprite(material);
        sprite.center.set(0, 4 / LABEL_PX);
        sprite.visible = false;
        scene.add(sprite);
        return { sprite: sprite, canvas: canvas, texture: texture, text: null };
    }

    function setLabel(label, text) {
        if (label.text === text) return;
        label.text = text;
        var g = label.canvas.getContext("2d");
        g.font = LABEL_FONT;
        var width = Math.max(1, Math.min(2048, Math.ceil(g.measureText(text).width) + 2));
        if (label.canvas.width !== width) label.canvas.width = width;
        g = label.canvas.getContext("2d");
        g.clearRect(0, 0, label.canvas.width, LABEL_PX);
        g.font = LABEL_FONT;
        g.fillStyle = LABEL_COLOUR;
        g.fillText(text, 0, LABEL_PX - 4);
        label.texture.needsUpdate = true;
    }

    function dropLabel(label) {
        scene.remove(label.sprite);
        label.texture.dispose();
        label.sprite.material.dispose();
    }

    function slot(id) {
        if (!slots[id]) {
            var s = { id: id, kind: null, team: null, group: null, d: null, x: 0, y: 0, head: 0,
                      bullet: mesh(shared.bullet, shared.bulletMaterial),
                      flash: mesh(shared.ball, shared.flash[FLASH_FRAMES]),
                      fireball: mesh(shared.ball, shared.fireball),
                      score: null, name: null, flashAt: null };
            [s.bullet, s.flash, s.fireball].forEach(function (m) {
                m.visible = false;
                scene.add(m);
            });
            slots[id] = s;
        }
        return slots[id];
    }

    function dropSlot(id) {
        var s = slots[id];
        if (!s) return;
        [s.group, s.bullet, s.flash, s.fireball].forEach(function (m) { if (m) scene.remove(m); });
        if (s.score) dropLabel(s.score);
        if (s.name) dropLabel(s.name);
        delete slots[id];
        showScore(id, null);
    }

    // One turtle's state, in the stream's form (a partial entry updates the fields it holds).
    function applyTurtle(entry) {
        var s = slot(entry.id);
        var d = s.d = Object.assign(s.d || {}, entry);
        var kind = d.kind === "stone" || d.kind === "doughnut" ? d.kind : "turtle";
        if (kind !== s.kind || (kind === "turtle" && d.team !== s.team)) {
            if (s.group) scene.remove(s.group);
            if (kind !== "turtle" && s.score) {
                dropLabel(s.score);
                dropLabel(s.name);
                s.score = s.name = null;
            }
            s.group = kind === "turtle" ? makeTurtle(d.team) : makeObject(kind);
            scene.add(s.group);
            if (s.kind === null) {
                s.x = d.x; s.y = d.y; s.head = d.heading;
            }
            s.kind = kind;
            s.team = d.team;
        }
        if (Math.hypot(d.x - s.x, d.y - s.y) > SNAP_DISTANCE || streaming) {
            s.x = d.x; s.y = d.y; s.head = d.heading;
        }
        if (d.bullet) s.flashAt = d.bullet;
        if (d.flash) s.flashAt = d.flash;
        s.bullet.visible = !!d.bullet;
        if (d.bullet) s.bullet.position.set(d.bullet[0], d.bullet[1], BATTLE_HEIGHT);
        var bttf = Math.min(FLASH_FRAMES, d.bttf | 0);
        s.flash.visible = bttf > 0 && s.flashAt !== null;
        if (s.flash.visible) {
            s.flash.material = shared.flash[bttf];
            s.flash.position.set(s.flashAt[0], s.flashAt[1], BATTLE_HEIGHT);
        }
        s.fireball.visible = kind === "turtle" && d.ttl > FIREBALL_TTL;
        s.fireball.position.set(d.x, d.y, BATTLE_HEIGHT);
        if (kind === "turtle") {
            s.group.userData.carried.visible = d.ncoin > 0;
            if (!s.score) s.score = makeLabel();
            if (!s.name) s.name = makeLabel();
            setLabel(s.score, String(d.score));
            setLabel(s.name, d.name || "");
        }
        showScore(entry.id, kind === "turtle" ? d : null);
    }

    function showScore(id, d) {
        var el = document.getElementById("score" + id);
        if (!el) return;
        // A span of its own, since "score29" also holds "result".
        if (!el.kelpmoorLine) {
            el.kelpmoorLine = document.createElement("span");
            el.insertBefore(el.kelpmoorLine, el.firstChild);
        }
        var text = "";
        if (d) {
            var name = d.name ? d.name : "turtle " + id;
            text = name + ": " + d.score + " points, " + d.ncoin +
                   (d.ncoin === 1 ? " coin" : " coins");
            var c = teamColour(d.team);
            el.kelpmoorLine.style.color = "rgb(" + c.map(function (v) {
                return Math.round(Math.min(1, v + 0.25) * 255);  // readable on the dark page
            }).join(",") + ")";
        }
        if (el.kelpmoorLine.textContent !== text) el.kelpmoorLine.textContent = text;
    }

    // Walls as [x0, y0, x1, y1]; each face stands on its line, its body behind, on the side
    // away from the normal (90 degrees counter-clockwise from start to end).
    function applyWalls(list) {
        var key = JSON.stringify(list);
        if (key === wallKey) return;
        wallKey = key;
        if (wallGroup) {
            scene.remove(wallGroup);
            wallGroup.children.forEach(function (m) { m.geometry.dispose(); });
        }
        wallGroup = new THREE.Group();
        var sides = [shared.wallSide, shared.wallSide, shared.wallSide, shared.wallSide,
                     shared.wallCap, shared.wallSide];
        list.forEach(function (w) {
            var dx = w[2] - w[0], dy = w[3] - w[1], len = Math.hypot(dx, dy);
            if (len < 1e-6) return;
            var nx = -dy / len, ny = dx / len;
            // The granite repeats every 32 units: scale the box's texture coordinates.
            var box = new THREE.BoxBufferGeometry(len + 2, 3, WALL_HEIGHT);
            var uv = box.attributes.uv;
            for (var i = 0; i < uv.count; i++) {
                uv.setXY(i, uv.getX(i) * (len + 2) / 32, uv.getY(i) * WALL_HEIGHT / 32);
            }
            var m = mesh(box, sides, (w[0] + w[2]) / 2 - nx * 0.5, (w[1] + w[3]) / 2 - ny * 0.5,
                         WALL_HEIGHT / 2);
            m.rotation.z = Math.atan2(dy, dx);
            wallGroup.add(m);
        });
        scene.add(wallGroup);
        showWalls();
    }

    function showWalls() {
        // The window draws walls in battle mode only; the polled documents do not say the mode.
        if (wallGroup) wallGroup.visible = !streaming || modes.battle === 1;
    }

    // Coins as [x, y, ...] in stacking order, each a little above the one before.
    function applyCoins(list) {
        while (coinMeshes.length < list.length) {
            var m = mesh(shared.coin, shared.coinMaterial);
            m.rotation.x = Math.PI / 2;  // the cylinder's axis is +y; coins lie flat
            coinGroup.add(m);
            coinMeshes.push(m);
        }
        coinMeshes.forEach(function (m, i) {
            m.visible = i < list.length;
            if (m.visible) m.position.set(list[i][0], list[i][1], 1 + 1.5 * i / (list.length + 1));
        });
    }

    // ---- The floor: a canvas the floor images are drawn into, laid on the floor quad ----

    function setupFloor() {
        floor.plain = new THREE.Group();
        floor.plain.add(mesh(new THREE.PlaneBufferGeometry(FIELD, FIELD),
                             new THREE.MeshBasicMaterial({ color: 0x1d3a52 })));
        var grid = new THREE.GridHelper(FIELD, 16, 0x2f5878, 0x2f5878);
        grid.rotation.x = Math.PI / 2;
        grid.position.z = 0.1;
        floor.plain.add(grid);
        scene.add(floor.plain);
        floor.canvas = document.createElement("canvas");
        floor.canvas.width = floor.canvas.height = FIELD;
        floor.g = floor.canvas.getContext("2d");
        floor.texture = new THREE.CanvasTexture(floor.canvas);
        floor.texture.magFilter = THREE.NearestFilter;
        floor.texture.minFilter = THREE.LinearFilter;
        floor.texture.generateMipmaps = false;
        floor.mesh = mesh(new THREE.PlaneBufferGeometry(FIELD, FIELD),
                          new THREE.MeshBasicMaterial({ map: floor.texture }));
        floor.mesh.visible = false;
        scene.add(floor.mesh);
    }

    function showFloor() {
        floor.texture.needsUpdate = true;
        floor.mesh.visible = true;
        floor.plain.visible = false;
    }

    function decodeImage(blob) {
        if (typeof createImageBitmap === "function") return createImageBitmap(blob);
        return new Promise(function (resolve, reject) {
            var img = new Image(), url = URL.createObjectURL(blob);
            img.onload = function () { URL.revokeObjectURL(url); resolve(img); };
            img.onerror = function () { URL.revokeObjectURL(url); reject(new Error("bad image")); };
            img.src = url;
        });
    }

    // Fetches the floor until the version shown is the one wanted: the whole picture first,
    // then what changed since the version shown. Polling, the version wanted is unknown: it
    // asks every POLL_MS.floor.
    function pumpFloor() {
        if (floor.busy || floor.absent || replaying) return;
        if (streaming && floor.want === floor.have) return;
        floor.busy = true;
        var path = floor.have === null ? "/live/floor.png" : "/live/floor/since/" + floor.have;
        fetchTimed(path).then(function (r) {
            var version = parseInt(r.headers.get("X-Floor-Version"), 10);
            if (!/^image\/png/.test(r.headers.get("Content-Type") || "") || !isFinite(version)) {
                floor.absent = true;  // a server without the floor images: keep the grid
                return null;
            }
            var rect = (r.headers.get("X-Floor-Rect") || "0 0").split(" ").map(Number);
            return r.blob().then(function (blob) {
                return blob.size > 0 ? decodeImage(blob) : null;
            }).then(function (img) {
                if (img && img.width > 0 && !replaying) {
                    floor.g.drawImage(img, rect[0] | 0, rect[1] | 0);
                    if (img.close) img.close();
                    showFloor();
                }
                floor.have = version;
                if (!streaming) floor.want = version;
            });
        }).then(function () {
            delete failures.floor;
            return streaming ? 0 : POLL_MS.floor;
        }, function (e) {
            failures.floor = failureText(e);
            return RETRY_MS;
        }).then(function (wait) {
            floor.busy = false;
            setResult();
            setTimeout(pumpFloor, wait);
        });
    }

    // ---- Sources: the stream, or polling the documents ----

    function failureText(e) {
        return e && e.name === "AbortError" ? "timed out" : String((e && e.message) || e);
    }

    function fetchTimed(path) {
        var abort = typeof AbortController === "function" ? new AbortController() : null;
        var timer = setTimeout(function () { if (abort) abort.abort(); }, TIMEOUT_MS);
        return fetch(path, { cache: "no-store", signal: abort ? abort.signal : undefined })
            .then(function (r) {
                if (!r.ok) throw new Error("HTTP " + r.status);
                return r;
            })
            .finally(function () { clearTimeout(timer); });
    }

    function followedSlot() {
        if (follow === null) return null;
        var m = /^[$~](\d+)$/.exec(follow);
        var ids = Object.keys(slots).map(Number).sort(function (a, b) { return a - b; });
        for (var i = 0; i < ids.length; i++) {
            var s = slots[ids[i]];
            if (m ? ids[i] === Number(m[1])
                  : String(s.d.name).toLowerCase() === follow.toLowerCase()) return s;
        }
        return null;
    }

    function applyEvent(e) {
        if (typeof e.tick === "number") tick = e.tick;
        if (e.full) {
            Object.keys(slots).forEach(function (id) { dropSlot(id); });
            floor.have = null;  // perhaps another run of the program: its versions are new
        }
        if (e.modes) modes = e.modes;
        if (e.labels) labels = e.labels;
        if (e.gone) e.gone.forEach(dropSlot);
        if (e.turtles) e.turtles.forEach(applyTurtle);
        if (e.walls) applyWalls(e.walls);
        if (e.coins) {
            applyCoins(e.coins.slice().sort(function (p, q) { return p[2] - q[2]; }));
        }
        if (e.floor && !replaying) {  // a recording brings its floor's pixels itself
            if (floor.have === null && e.floor.color) {
                var c = e.floor.color;
                floor.g.fillStyle = "rgb(" + c.map(function (v) {
                    return Math.round(v * 255);
                }).join(",") + ")";
                floor.g.fillRect(0, 0, FIELD, FIELD);
                showFloor();
            }
            floor.want = e.floor.version;
            pumpFloor();
        }
        showWalls();
    }

    function openStream() {
        if (replaying) return;
        if (typeof EventSource !== "function") return startPolling();
        var es = stream = new EventSource("/live/stream");
        var heard = false;
        es.onmessage = function (m) {
            if (es !== stream) return;
            if (!heard) {
                heard = true;
                streaming = true;
                polling = 0;
                failures = {};
            }
            try {
                applyEvent(JSON.parse(m.data));
            } catch (err) {
                // A later event only holds changes: start again from a whole one.
                es.close();
                failures.stream = "bad event: " + failureText(err);
                setResult();
                setTimeout(openStream, RETRY_MS);
                return;
            }
            delete failures.stream;
            setResult();
        };
        es.onerror = function () {
            if (es !== stream) return;
            if (heard && es.readyState !== EventSource.CLOSED) {
                failures.stream = "connection lost";  // the browser reconnects by itself
            } else {
                es.close();
                stream = null;
                streaming = false;
                startPolling();
                setTimeout(openStream, STREAM_RETRY_MS);
            }
            setResult();
        };
    }

    function turtleFromDocument(d) {
        return { id: d.tid, name: d.name, x: d.x, y: d.y, heading: d.head, score: d.score,
                 team: d.team, ncoin: d.ncoin, ttl: d.ttl, bttf: d.bttf,
                 kind: d.type === 2 ? "doughnut" : d.type === 3 ? "stone" : "turtle",
                 bullet: d.firing ? [d.bx, d.by, 0] : null, flash: [d.bx, d.by] };
    }

    // Fetches one document while polling: every `every` ms while it answers, every RETRY_MS
    // while it does not.
    function poll(round, name, every, apply) {
        if (polling !== round) return;
        var started = Date.now();
        fetchTimed(base + name)
            .then(function (r) { return r.json(); })
            .then(function (doc) {
                if (polling !== round) return 0;
                apply(doc);
                delete failures[name];
                return every;
            })
            .catch(function (e) {
                if (polling === round) failures[name] = failureText(e);
                return RETRY_MS;
            })
            .then(function (wait) {
                setResult();
                setTimeout(function () { poll(round, name, every, apply); },
                           Math.max(0, wait - (Date.now() - started)));
            });
    }

    var pollRounds = 0;

    function startPolling() {
        if (polling || replaying) return;
        var round = polling = ++pollRounds;
        labels = { name: 0, score: 0 };
        poll(round, "turtle", POLL_MS.turtle, function (list) {
            list.forEach(function (d) {
                if (d.alive) applyTurtle(turtleFromDocument(d));
                else dropSlot(d.tid);
                if (d.alive) tick = d.time;
            });
        });
        poll(round, "camera", POLL_MS.camera, function (c) { camDoc = c; });
        poll(round, "wall", POLL_MS.wall, function (list) {
            applyWalls(list.map(function (w) { return [w.x1, w.y1, w.x2, w.y2]; }));
        });
        poll(round, "coin", POLL_MS.coin, function (list) {
            applyCoins(list.slice().sort(function (a, b) { return a.ord - b.ord; })
                .map(function (c) { return [c.x, c.y]; }));
        });
        pumpFloor();
    }

    function setResult() {
        var el = document.getElementById("result");
        if (!el) return;
        var names = Object.keys(failures);
        var alive = Object.keys(slots).filter(function (id) {
            return slots[id].kind === "turtle";
        }).length;
        var text = notice !== null ? notice : names.length > 0
            ? "no answer from Kelpmoor (" + names.join(", ") + "): " + failures[names[0]] +
              "; retrying"
            : "tick " + tick + ", " + alive + (alive === 1 ? " turtle" : " turtles") + " alive";
        if (el.textContent !== text) el.textContent = text;
    }

    // ---- Replay: a recording instead of the live field ----

    function loadReplayScript() {
        if (window.kelpmoorReplay) return Promise.resolve();
        return new Promise(function (resolve, reject) {
            var el = document.createElement("script");
            el.src = replayScript;
            el.onload = function () { resolve(); };
            el.onerror = function () { reject(new Error("cannot load " + replayScript)); };
            document.head.appendChild(el);
        });
    }

    function say(text) {
        notice = text;
        setResult();
    }

    // Leaves the live field for good and plays the recording that bytes (a promise of an
    // ArrayBuffer) brings.
    function startReplay(bytes, name) {
        if (replaying && replaying.stop) replaying.stop();
        replaying = { state: function () { return null; } };
        if (stream) stream.close();
        stream = null;
        streaming = true;  // recorded events are exact, as the stream's are
        polling = 0;
        failures = {};
        say("loading " + name);
        Promise.all([bytes, loadReplayScript()]).then(function (got) {
            notice = null;
            replaying = kelpmoorReplay.play(got[0], {
                applyEvent: function (e) {
                    applyEvent(e);
                    setResult();
                },
                // A whole state after a seek: the slots it shares with the one shown are
                // updated in place, since building them anew costs a seek most of its time.
                showState: function (e) {
                    var keep = {};
                    e.turtles.forEach(function (t) { keep[t.id] = true; });
                    Object.keys(slots).forEach(function (id) { if (!keep[id]) dropSlot(id); });
                    applyEvent(Object.assign({}, e, { full: false }));
                    setResult();
                },
                drawFloor: function (image, x, y, w, h) {
                    floor.g.putImageData(image, 0, 0, x, y, w, h);
                    showFloor();
                },
                notice: say
            }, name);
            setResult();
        }).catch(function (e) {
            say(name + ": " + failureText(e));
        });
    }

    function replayFromServer(name) {
        startReplay(fetch("/live/recordings/" + encodeURIComponent(name), { cache: "no-store" })
            .then(function (r) {
                if (!r.ok) throw new Error("HTTP " + r.status);
                return r.arrayBuffer();
            }), name);
    }

    function setupDrop() {
        window.addEventListener("dragover", function (e) { e.preventDefault(); });
        window.addEventListener("drop", function (e) {
            e.preventDefault();
            var file = e.dataTransfer && e.dataTransfer.files[0];
            if (file) startReplay(file.arrayBuffer(), file.name);
        });
    }

    // ---- Drawing ----

    function angleDiff(a, b) {
        var d = (b - a) % 360;
        if (d > 180) d -= 360;
        if (d < -180) d += 360;
        return d;
    }

    // In stream mode the camera of a followed turtle is its eye: at height 10, 100 units ahead.
    function cameraTarget() {
        if (!streaming) return camDoc;
        var s = followedSlot();
        if (!s) return { x0: 0, y0: 0, z0: 450, x1: 0, y1: 0, z1: 0 };
        var h = (s.head % 360) * Math.PI / 180;
        return { x0: s.x, y0: s.y, z0: 10, x1: s.x + 100 * Math.cos(h),
                 y1: s.y + 100 * Math.sin(h), z1: 10 };
    }

    function placeCamera(k) {
        var want = cameraTarget();
        if (!camShown) camShown = Object.assign({}, want);
        ["x0", "y0", "z0", "x1", "y1", "z1"].forEach(function (key) {
            camShown[key] += (want[key] - camShown[key]) * (streaming ? 1 : k);
        });
        var target = new THREE.Vector3(camShown.x1, camShown.y1, camShown.z1);
        var off = new THREE.Vector3(camShown.x0 - camShown.x1, camShown.y0 - camShown.y1,
                                    camShown.z0 - camShown.z1);
        var r = Math.max(1, off.length()) * orbit.zoom;
        var horizontal = Math.hypot(off.x, off.y);
        // Looking straight down: keep +y at the top of the screen.
        var yaw = (horizontal < 1e-6 ? -Math.PI / 2 : Math.atan2(off.y, off.x)) + orbit.yaw;
        var polar = Math.atan2(horizontal, off.z) + orbit.pitch;
        polar = Math.min(Math.PI / 2, Math.max(0.02, polar));
        camera.position.set(target.x + r * Math.sin(polar) * Math.cos(yaw),
                            target.y + r * Math.sin(polar) * Math.sin(yaw),
                            target.z + r * Math.cos(polar));
        camera.up.set(0, 0, 1);
        camera.lookAt(target);
    }

    function placeLabel(label, on, x, y, perPixel) {
        label.sprite.visible = on && label.text !== "";
        if (!label.sprite.visible) return;
        label.sprite.position.set(x, y, LABEL_HEIGHT);
        label.sprite.scale.set(label.canvas.width * perPixel, LABEL_PX * perPixel, 1);
    }

    function animate(now) {
        requestAnimationFrame(animate);
        var dt = lastFrame ? Math.min(0.5, (now - lastFrame) / 1000) : 0;
        lastFrame = now;
        var k = 1 - Math.exp(-dt / SMOOTH_S);
        // A label's size on the screen is fixed: field units per pixel at unit depth.
        var perPixel = 2 * Math.tan(camera.fov * Math.PI / 360) /
                       Math.max(1, renderer.domElement.clientHeight);
        var me = followedSlot();  // seen from its own eyes: its body and labels are not shown
        Object.keys(slots).forEach(function (id) {
            var s = slots[id];
            if (!s.group) return;
            s.group.visible = s !== me;
            s.x += (s.d.x - s.x) * k;
            s.y += (s.d.y - s.y) * k;
            s.head += angleDiff(s.head, s.d.heading) * k;
            s.group.position.set(s.x, s.y, 0);
            s.group.rotation.z = s.head * Math.PI / 180;
            if (s.kind !== "turtle") return;
            // The window's walk: legs swing and the head bobs with the tick, each slot in its
            // own phase.
            var phase = 0.3 * s.id, d1 = Math.sin(tick / 7 + phase), d2 = Math.sin(tick / 28 + phase);
            var u = s.group.userData;
            u.head.position.z = d2;
            u.legs[0].position.x = d1 - 5;
            u.legs[1].position.x = 5 - d1;
            u.legs[2].position.x = -5 - d1;
            u.legs[3].position.x = d1 + 5;
            placeLabel(s.score, labels.score === 1 && s !== me, s.x - 12, s.y + 10, perPixel);
            placeLabel(s.name, labels.name === 1 && s !== me, s.x - 12, s.y - 22, perPixel);
        });
        placeCamera(k);
        renderer.render(scene, camera);
    }

    function resize() {
        renderer.setSize(window.innerWidth, window.innerHeight);
        camera.aspect = window.innerWidth / Math.max(1, window.innerHeight);
        camera.updateProjectionMatrix();
    }

    function setupMouse(canvas) {
        var dragging = false, lx = 0, ly = 0;
        canvas.addEventListener("mousedown", function (e) {
            dragging = true; lx = e.clientX; ly = e.clientY;
        });
        window.addEventListener("mouseup", function () { dragging = false; });
        window.addEventListener("mousemove", function (e) {
            if (!dragging) return;
            orbit.yaw -= (e.clientX - lx) * 0.005;
            orbit.pitch = Math.max(-Math.PI / 2, Math.min(Math.PI / 2,
                                                          orbit.pitch + (e.clientY - ly) * 0.005));
            lx = e.clientX; ly = e.clientY;
        });
        canvas.addEventListener("wheel", function (e) {
            e.preventDefault();
            orbit.zoom = Math.max(0.1, Math.min(5, orbit.zoom * Math.exp(e.deltaY * 0.001)));
        }, { passive: false });
    }

    function setupPage() {
        var style = document.createElement("style");
        style.textContent =
            "canvas { position: fixed; left: 0; top: 0; z-index: 0; } " +
            "div[id^=score], #result { position: relative; z-index: 1; color: #e8e8e8; " +
            "font: 13px sans-serif; text-shadow: 1px 1px 2px #000; margin-left: 6px; } " +
            "#result { color: #90ffff; }";
        document.head.appendChild(style);
    }

    function start() {
        var first = firstSegment();
        var recording = /^\/replay\/([^\/]+)\/?$/.exec(window.location.pathname);
        if (recording) first = undefined;
        base = first === undefined ? "/" : "/" + first + "/";
        follow = first === undefined ? null : decoded(first);
        setupPage();
        renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
        renderer.setPixelRatio(window.devicePixelRatio || 1);
        renderer.setClearColor(0x002040);
        document.body.insertBefore(renderer.domElement, document.body.firstChild);
        scene = new THREE.Scene();
        // Field of view: the overview camera at height 450 sees the whole field and its walls.
        camera = new THREE.PerspectiveCamera(64, 1, 1, 5000);
        // The window's light: straight down, and the renderer's ambient on the materials'
        // ambient (0.2 of 0.6 of the body colour).
        scene.add(new THREE.AmbientLight(0xffffff, 0.12));
        var sun = new THREE.DirectionalLight(0xffffff, 1);
        sun.position.set(0, 0, 1);
        scene.add(sun);
        setupShared();
        setupFloor();
        coinGroup = new THREE.Group();
        scene.add(coinGroup);
        resize();
        window.addEventListener("resize", resize);
        setupMouse(renderer.domElement);
        setupDrop();
        window.kelpmoorViewer = {  // what the browser tests read
            state: function () {
                return { source: replaying ? "replay" : streaming ? "stream" :
                                 polling ? "poll" : "none",
                         floor: floor.have, floorWanted: floor.want, tick: tick,
                         labels: labels, modes: modes,
                         memory: renderer.info.memory,
                         replay: replaying ? replaying.state() : null };
            },
            seekTick: function (t) { if (replaying && replaying.seekTick) replaying.seekTick(t); }
        };
        if (recording) replayFromServer(decoded(recording[1]));
        else openStream();
        requestAnimationFrame(animate);
    }

    return { start: start };
})();

function webGLStart() {
    if (typeof THREE === "undefined") {
        var el = document.getElementById("result");
        if (el) el.textContent = "three.js did not load: the viewer cannot draw";
        return;
    }
    kelpmoor.start();
}
