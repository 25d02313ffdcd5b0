// viewer.js: Kelpmoor's browser viewer. Polls the server's JSON documents (turtle, wall, coin,
// camera) and draws the field with three.js; the page calls webGLStart() when it has loaded.
// A page opened at /NAME/ follows turtle NAME through /NAME/camera; every other page shows the
// overview. Mouse drag orbits the camera, the wheel zooms.
"use strict";

var kelpmoor = (function () {
    var FIELD = 512;             // field units, -256 .. 256 in x and y
    var WALL_HEIGHT = 15;
    var SKIN = 26;               // side of a turtle's skin box, field units
    var SHELL_TOP = SKIN * 46 / 64;  // where the shell's top is drawn on the skins
    var POLL_MS = { turtle: 100, camera: 100, coin: 200, wall: 1000 };
    var RETRY_MS = 1000;
    var TIMEOUT_MS = 3000;
    var SMOOTH_S = 0.06;         // time constant of the easing between polls, seconds
    var SNAP_DISTANCE = 60;      // a turtle that moved further than this jumped: no easing
    var TEAM_COLOURS = ["#e8e8e8", "#ff6060", "#60ff60", "#6090ff", "#ffe040"];

    var base = "/";              // where the documents are fetched: "/" or "/NAME/"
    var renderer, scene, camera;
    var textures = [];
    var skinMaterials = null, topMaterial = null, stoneMaterial, wallMaterial, doughnutMaterial, coinMaterial;
    var glowMaterials = [];
    var wallGroup, coinGroup;
    var turtles = [];            // per slot: { group, sprites, shown position and heading }
    var lastWalls = "", lastCoins = "";
    var camDoc = { x0: 0, y0: 0, z0: 450, x1: 0, y1: 0, z1: 0 };
    var camShown = null;
    var orbit = { yaw: 0, pitch: 0, zoom: 1 };
    var failures = {};           // document name -> error text while it fails
    var tick = 0, alive = 0;
    var lastFrame = 0;

    function basePath() {
        var first = window.location.pathname.split("/").filter(function (s) {
            return s.length > 0;
        })[0];
        return first === undefined ? "/" : "/" + first + "/";
    }

    function loadTexture(n) {
        var t = new THREE.TextureLoader().load(base + "img/" + n);
        t.anisotropy = 4;
        return t;
    }

    // The turtle's top as seen from above: the shell with its head along +x.
    function shellTopTexture() {
        var c = document.createElement("canvas");
        c.width = c.height = 64;
        var g = c.getContext("2d");
        g.fillStyle = "#f5e3b3";
        g.beginPath();
        g.arc(54, 32, 8, 0, 2 * Math.PI);
        g.fill();
        g.fillStyle = "#cc1a1a";
        g.beginPath();
        g.arc(57, 28, 2.5, 0, 2 * Math.PI);
        g.arc(57, 36, 2.5, 0, 2 * Math.PI);
        g.fill();
        g.fillStyle = "#73471f";
        g.beginPath();
        g.ellipse(30, 32, 22, 17, 0, 0, 2 * Math.PI);
        g.fill();
        g.fillStyle = "#33190a";
        [[22, 26], [22, 38], [34, 24], [34, 40], [42, 32], [16, 32], [29, 32]].forEach(function (p) {
            g.beginPath();
            g.arc(p[0], p[1], 3.2, 0, 2 * Math.PI);
            g.fill();
        });
        return new THREE.CanvasTexture(c);
    }

    function setupMaterials() {
        for (var i = 0; i < 8; i++) textures.push(loadTexture(i));
        function skin(n) {
            return new THREE.MeshLambertMaterial({
                map: textures[n], transparent: true, alphaTest: 0.5, side: THREE.FrontSide
            });
        }
        // Box faces in three.js order: +x (front), -x (rear), +y (left side), -y (right side).
        skinMaterials = { front: skin(1), rear: skin(3), left: skin(0), leftStep: skin(4),
                          right: skin(2) };
        topMaterial = new THREE.MeshLambertMaterial({
            map: shellTopTexture(), transparent: true, alphaTest: 0.5
        });
        textures[7].wrapS = textures[7].wrapT = THREE.RepeatWrapping;
        stoneMaterial = new THREE.MeshLambertMaterial({ map: textures[7] });
        wallMaterial = new THREE.MeshLambertMaterial({ map: textures[7] });
        doughnutMaterial = new THREE.MeshLambertMaterial({ color: 0xf07fae });
        coinMaterial = new THREE.MeshLambertMaterial({ color: 0xf5c22e, emissive: 0x403000 });
        glowMaterials = [5, 6].map(function (n) {
            return new THREE.SpriteMaterial({
                map: textures[n], blending: THREE.AdditiveBlending, depthWrite: false,
                transparent: true
            });
        });
    }

    function plane(w, h, material) {
        return new THREE.Mesh(new THREE.PlaneBufferGeometry(w, h), material);
    }

    // A turtle: four upright skins around a square, the shell's top over them.
    function makeTurtle() {
        var g = new THREE.Group();
        var h = SKIN / 2;
        var front = plane(SKIN, SKIN, skinMaterials.front);
        front.rotation.set(Math.PI / 2, Math.PI / 2, 0);
        front.position.set(h, 0, h);
        var rear = plane(SKIN, SKIN, skinMaterials.rear);
        rear.rotation.set(Math.PI / 2, -Math.PI / 2, 0);
        rear.position.set(-h, 0, h);
        var left = plane(SKIN, SKIN, skinMaterials.left);
        left.rotation.set(Math.PI / 2, Math.PI, 0);
        left.position.set(0, h, h);
        var right = plane(SKIN, SKIN, skinMaterials.right);
        right.rotation.set(Math.PI / 2, 0, 0);
        right.position.set(0, -h, h);
        var top = plane(SKIN, SKIN, topMaterial);
        top.position.set(0, 0, SHELL_TOP);
        [front, rear, left, right, top].forEach(function (m) { g.add(m); });
        g.userData = { left: left };
        return g;
    }

    function makeStone() {
        var m = new THREE.Mesh(new THREE.DodecahedronBufferGeometry(10, 1), stoneMaterial);
        m.scale.set(1, 1, 0.7);
        m.position.z = 5;
        var g = new THREE.Group();
        g.add(m);
        return g;
    }

    function makeDoughnut() {
        var m = new THREE.Mesh(new THREE.TorusBufferGeometry(7, 3.5, 10, 20), doughnutMaterial);
        m.position.z = 3.5;
        var g = new THREE.Group();
        g.add(m);
        return g;
    }

    function glow(kind, size) {
        var s = new THREE.Sprite(glowMaterials[kind]);
        s.scale.set(size, size, 1);
        s.visible = false;
        scene.add(s);
        return s;
    }

    function slot(t) {
        if (!turtles[t]) {
            turtles[t] = { type: 0, group: null, x: 0, y: 0, head: 0, tx: 0, ty: 0, thead: 0,
                           bullet: glow(0, 10), flash: glow(1, 40), burst: glow(1, 60),
                           hit: glow(1, 36), step: 0 };
        }
        return turtles[t];
    }

    function angleDiff(a, b) {
        var d = (b - a) % 360;
        if (d > 180) d -= 360;
        if (d < -180) d += 360;
        return d;
    }

    function applyTurtles(list) {
        var n = 0;
        // Slots past the end of the list (after a kill-all) are empty.
        for (var t = 0; t < Math.max(list.length, turtles.length, 30); t++) {
            var d = list[t] || { tid: t, alive: false, type: 0, x: 0, y: 0, head: 0,
                                 firing: false, bttf: 0, got_hit: false };
            var s = slot(t);
            if (list.length > 0) tick = list[0].time;
            var type = d.alive ? d.type : 0;
            if (type !== s.type) {
                if (s.group) scene.remove(s.group);
                s.group = type === 1 ? makeTurtle() : type === 2 ? makeDoughnut()
                        : type === 3 ? makeStone() : null;
                if (s.group) {
                    scene.add(s.group);
                    s.x = d.x; s.y = d.y; s.head = d.head;
                }
                s.type = type;
            }
            if (Math.hypot(d.x - s.x, d.y - s.y) > SNAP_DISTANCE) {
                s.x = d.x; s.y = d.y;
            }
            if (Math.hypot(d.x - s.tx, d.y - s.ty) > 0.01) s.step++;
            s.tx = d.x; s.ty = d.y; s.thead = d.head;
            s.dying = d.alive && d.ttl > 0 ? d.ttl : 0;
            s.bullet.visible = d.alive && d.firing;
            s.bullet.position.set(d.bx, d.by, 8);
            s.flash.visible = d.bttf > 0;
            s.flash.position.set(d.bx, d.by, 8);
            s.hit.visible = d.alive && d.got_hit;
            if (!s.group) s.burst.visible = false;
            if (type === 1) n++;
            showScore(d);
        }
        alive = n;
    }

    // The score line of slot t: a span of its own, since "score29" also holds "result".
    function scoreLine(t) {
        var el = document.getElementById("score" + t);
        if (!el) return null;
        if (!el.kelpmoorLine) {
            el.kelpmoorLine = document.createElement("span");
            el.insertBefore(el.kelpmoorLine, el.firstChild);
        }
        return el.kelpmoorLine;
    }

    function showScore(d) {
        var line = scoreLine(d.tid);
        if (!line) return;
        var text = "";
        if (d.alive && d.type === 1) {
            var name = d.name !== "" ? d.name : "turtle " + d.tid;
            text = name + ": " + d.score + " points, " + d.ncoin +
                   (d.ncoin === 1 ? " coin" : " coins");
            line.style.color = TEAM_COLOURS[d.team] || TEAM_COLOURS[0];
        }
        if (line.textContent !== text) line.textContent = text;
    }

    function applyWalls(list, text) {
        if (text === lastWalls) return;
        lastWalls = text;
        scene.remove(wallGroup);
        wallGroup = new THREE.Group();
        list.forEach(function (w) {
            var dx = w.x2 - w.x1, dy = w.y2 - w.y1, len = Math.hypot(dx, dy);
            if (len < 1e-6) return;
            // The granite repeats every 30 units: scale the box's texture coordinates.
            var box = new THREE.BoxBufferGeometry(len + 2, 3, WALL_HEIGHT);
            var uv = box.attributes.uv;
            for (var i = 0; i < uv.count; i++) {
                uv.setXY(i, uv.getX(i) * (len + 2) / 30, uv.getY(i) * WALL_HEIGHT / 30);
            }
            var m = new THREE.Mesh(box, wallMaterial);
            // The face stands on the wall line; the wall's body lies behind it.
            m.position.set((w.x1 + w.x2) / 2 - w.nx * 0.5, (w.y1 + w.y2) / 2 - w.ny * 0.5,
                           WALL_HEIGHT / 2);
            m.rotation.z = Math.atan2(dy, dx);
            wallGroup.add(m);
        });
        scene.add(wallGroup);
    }

    function applyCoins(list, text) {
        if (text === lastCoins) return;
        lastCoins = text;
        scene.remove(coinGroup);
        coinGroup = new THREE.Group();
        var geometry = new THREE.CylinderBufferGeometry(6, 6, 1.5, 20);
        list.forEach(function (c) {
            var m = new THREE.Mesh(geometry, coinMaterial);
            m.rotation.x = Math.PI / 2;  // the cylinder's axis is +y; coins lie flat
            m.position.set(c.x, c.y, 0.75 + 1.6 * c.ord);
            coinGroup.add(m);
        });
        scene.add(coinGroup);
    }

    function setResult() {
        var el = document.getElementById("result");
        if (!el) return;
        var names = Object.keys(failures);
        var text = names.length > 0
            ? "no answer from Kelpmoor (" + names.join(", ") + "): " + failures[names[0]] +
              "; retrying"
            : "tick " + tick + ", " + alive + (alive === 1 ? " turtle" : " turtles") + " alive";
        if (el.textContent !== text) el.textContent = text;
    }

    // Fetches one document for ever: every `every` ms while it answers, every RETRY_MS while it
    // does not.
    function poll(name, every, apply) {
        var started = Date.now();
        var abort = typeof AbortController === "function" ? new AbortController() : null;
        var timer = setTimeout(function () { if (abort) abort.abort(); }, TIMEOUT_MS);
        fetch(base + name, { cache: "no-store", signal: abort ? abort.signal : undefined })
            .then(function (r) {
                if (!r.ok) throw new Error("HTTP " + r.status);
                return r.text();
            })
            .then(function (text) {
                apply(JSON.parse(text), text);
                delete failures[name];
                return every;
            })
            .catch(function (e) {
                failures[name] = e && e.name === "AbortError" ? "timed out" : String(e.message || e);
                return RETRY_MS;
            })
            .then(function (wait) {
                clearTimeout(timer);
                setResult();
                setTimeout(function () { poll(name, every, apply); },
                           Math.max(0, wait - (Date.now() - started)));
            });
    }

    function ease(dt) { return 1 - Math.exp(-dt / SMOOTH_S); }

    function placeCamera(k) {
        if (!camShown) camShown = Object.assign({}, camDoc);
        ["x0", "y0", "z0", "x1", "y1", "z1"].forEach(function (key) {
            camShown[key] += (camDoc[key] - camShown[key]) * k;
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

    function animate(now) {
        requestAnimationFrame(animate);
        var dt = lastFrame ? Math.min(0.5, (now - lastFrame) / 1000) : 0;
        lastFrame = now;
        var k = ease(dt);
        turtles.forEach(function (s) {
            if (!s || !s.group) return;
            s.x += (s.tx - s.x) * k;
            s.y += (s.ty - s.y) * k;
            s.head += angleDiff(s.head, s.thead) * k;
            s.group.position.set(s.x, s.y, 0);
            s.group.rotation.z = s.head * Math.PI / 180;
            if (s.type === 1) {
                // Walking: the left side alternates between its two skins as the turtle moves.
                s.group.userData.left.material =
                    (s.step >> 1) % 2 ? skinMaterials.leftStep : skinMaterials.left;
                var shrink = s.dying ? Math.max(0.05, s.dying / 50) : 1;
                s.group.scale.set(shrink, shrink, shrink);
                s.burst.visible = s.dying > 0;
                if (s.dying) {
                    var size = 20 + 2 * (50 - s.dying);
                    s.burst.scale.set(size, size, 1);
                    s.burst.position.set(s.x, s.y, 10);
                }
                s.hit.position.set(s.x, s.y, 14);
            }
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
        base = basePath();
        setupPage();
        renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
        renderer.setPixelRatio(window.devicePixelRatio || 1);
        renderer.setClearColor(0x002040);
        document.body.insertBefore(renderer.domElement, document.body.firstChild);
        scene = new THREE.Scene();
        // Field of view: the overview camera at height 450 sees the whole field and its walls.
        camera = new THREE.PerspectiveCamera(64, 1, 1, 5000);
        scene.add(new THREE.AmbientLight(0x808080));
        var sun = new THREE.DirectionalLight(0xffffff, 0.7);
        sun.position.set(-0.4, 0.5, 1);
        scene.add(sun);
        setupMaterials();
        var floor = plane(FIELD, FIELD, new THREE.MeshLambertMaterial({ color: 0x1d3a52 }));
        scene.add(floor);
        var grid = new THREE.GridHelper(FIELD, 16, 0x2f5878, 0x2f5878);
        grid.rotation.x = Math.PI / 2;
        grid.position.z = 0.1;
        scene.add(grid);
        wallGroup = new THREE.Group();
        coinGroup = new THREE.Group();
        resize();
        window.addEventListener("resize", resize);
        setupMouse(renderer.domElement);
        poll("turtle", POLL_MS.turtle, function (list) { applyTurtles(list); });
        poll("camera", POLL_MS.camera, function (c) { camDoc = c; });
        poll("wall", POLL_MS.wall, applyWalls);
        poll("coin", POLL_MS.coin, applyCoins);
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
