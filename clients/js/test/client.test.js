// The JavaScript client against the arena on KELPMOOR_PORT (tests/clients/arena.py starts one),
// and against small fake servers for failures a real arena does not produce on demand.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import net from 'node:net';
import * as k from '../kelpmoor.js';

const port = Number(process.env.KELPMOOR_PORT || 2222);

// A connection whose turtle is alone at the centre. An earlier test's turtle becomes a zombie,
// which C A removes, only once the server has seen its connection close: clear until then.
async function fresh() {
  const t = await k.connect({ port, timeout: 20 });
  const deadline = Date.now() + 20000;
  while ((await t.clearAll()).ok && (await t.turtles()) !== 1 && Date.now() < deadline) {
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  await t.home();
  return t;
}

// A server for one connection that runs script(socket).
function fakeServer(script) {
  return new Promise((resolve) => {
    const server = net.createServer((s) => {
      server.close();
      script(s);
    });
    server.listen(0, '127.0.0.1', () => resolve(server.address().port));
  });
}

describe('against the arena', () => {
  test('every command and query', async () => {
    const t = await fresh();
    try {
      assert.deepEqual(await t.position(), { x: 0, y: 0 });
      const commands = [
        () => t.forward(10), () => t.back(5), () => t.left(90), () => t.right(45),
        () => t.head('n'), () => t.jump(-20, 30), () => t.jumpBy(5, 5), () => t.penDown(),
        () => t.color(0, 0.5, 1), () => t.width(2), () => t.lineStyle('brush'),
        () => t.printText('Hi ü'), () => t.name('spiral;bot'), () => t.lineStyle('line'),
        () => t.penUp(), () => t.joinTeam(2), () => t.post('hello board'),
        () => t.enableEvents(0xffff), () => t.disableEvents(k.EVENT.seenByRadar),
        () => t.finderRange(50), () => t.noop(), () => t.borrowCoins(), () => t.dropCoin(),
        () => t.pickCoin(), () => t.clearFloor(), () => t.reset(), () => t.home(),
        () => t.floorColor(0.1, 0.1, 0.2),
      ];
      for (const [i, command] of commands.entries()) {
        const r = await command();
        assert.ok(r instanceof k.Reply);
        assert.ok(r.ok, `command ${i}: ${JSON.stringify(r)}`);
        assert.equal(r.payload, '');
      }
      assert.equal(await t.heading(), 0);
      assert.equal(await t.team(), 0);
      assert.deepEqual(await t.finder(), { kind: k.NOTHING, team: 0 });
      const radar = await t.radar(5);
      assert.equal(radar.found, t.last.ok);
      assert.equal(typeof radar.direction, 'number');
      assert.deepEqual(Object.keys(await t.sonar()), ['left', 'front', 'right']);
      assert.equal(await t.alive(), true);
      assert.equal(await t.score(), 100);
      assert.ok((await t.tick()) > 0);
      assert.ok((await t.turtles()) >= 1);
      assert.equal(typeof (await t.coinsNear()), 'number');
      assert.equal(await t.coinsHeld(), 0);
      assert.equal(typeof (await t.board()).text, 'string');
      assert.ok((await t.printText('x'.repeat(127))).ok);
      assert.throws(() => t.printText('x'.repeat(128)), k.FramingError);
    } finally {
      t.close();
    }
  });

  test('team messages and events', async () => {
    const t = await fresh();
    const other = await k.connect({ port, timeout: 20 });
    try {
      await Promise.all([t.joinTeam(1), other.joinTeam(1)]);
      await t.post('meet at 0 0');
      assert.equal((await other.board()).text, 'meet at 0 0');
      assert.ok(other.last.events.teamMessage);
      assert.ok(other.takeEvents().teamMessage);
      assert.equal(other.takeEvents().bits, 0);
      await t.head('E');
      await other.jump(30, 0);
      const r = await t.forward(15);
      assert.equal(r.ok, false);
      assert.deepEqual(r.events.names(), ['bumpedTurtle']);
    } finally {
      t.close();
      other.close();
    }
  });

  test('pipelined replies come in order', async () => {
    const t = await fresh();
    try {
      const calls = [t.joinTeam(3), t.team(), t.send('Q Z')];
      for (let i = 0; i < 150; i++) calls.push(t.left(1), t.heading());
      const results = await Promise.all(calls);
      assert.equal(results[1], 3);
      assert.equal(results[2].ok, false);
      const headings = results.slice(4).filter((_, i) => i % 2 === 0);
      assert.deepEqual(headings, Array.from({ length: 150 }, (_, i) => i + 1));
      const replies = await t.pipeline((b) => { b.noop(); b.position(); });
      assert.deepEqual(replies[1].value, { x: 0, y: 0 });
    } finally {
      t.close();
    }
  });

  test('text that would break framing is refused before sending', async () => {
    const t = await fresh();
    try {
      for (const bad of [() => t.post('a;b'), () => t.post('a\nb'),
        () => t.send('F 1;F 2'), () => t.send('Q P\n'), () => t.send('U ' + 'x'.repeat(510)),
        () => t.name('a\0b')]) {
        assert.throws(bad, k.FramingError);
      }
      assert.throws(() => t.forward(Infinity), k.ArgumentError);
      assert.equal(await t.team(), 0);
    } finally {
      t.close();
    }
  });
  // Last: the robot it spawns wanders for the rest of the run.
  test('battle, coins and spawns', async () => {
    const t = await fresh();
    try {
      assert.ok((await t.battleMode(true)).ok);
      assert.ok((await t.fire()).ok);
      assert.equal(await t.score(), 99);
      assert.equal((await t.jump(0, 0)).ok, false);
      assert.ok((await t.battleMode(false)).ok);
      assert.ok((await t.scatterCoin()).ok);
      assert.ok((await t.doughnut()).ok);
      assert.ok((await t.robot()).ok);
    } finally {
      await t.battleMode(false).catch(() => {});
      t.close();
    }
  });
});

describe('against fake servers', () => {
  test('a server closing mid-reply rejects every awaited reply at once', async () => {
    const p = await fakeServer((s) => s.once('data', () => s.end('OK @ 1 0\n12.5 -3')));
    const t = await k.connect({ port: p, timeout: 30 });
    const start = Date.now();
    const [a, b, c] = await Promise.allSettled([t.noop(), t.position(), t.position()]);
    assert.equal(a.status, 'fulfilled');
    assert.ok(b.reason instanceof k.ConnectionClosedError);
    assert.match(b.reason.message, /2 replies awaited \(one cut short\)/);
    assert.ok(c.reason instanceof k.ConnectionClosedError);
    assert.ok(Date.now() - start < 5000);
    await assert.rejects(t.noop(), k.ConnectionClosedError);
  });

  test('a silent server times out', async () => {
    let peer;
    const p = await fakeServer((s) => { peer = s; });
    const t = await k.connect({ port: p, timeout: 0.3 });
    await assert.rejects(t.position(), k.ReplyTimeoutError);
    peer.destroy();
  });

  test('a line that is not a reply is a protocol error', async () => {
    const p = await fakeServer((s) => s.once('data', () => s.end('hello\n')));
    const t = await k.connect({ port: p, timeout: 5 });
    await assert.rejects(t.noop(), k.ProtocolError);
  });
});

test('reply lines', () => {
  const q = k.QUERY_PARSERS;
  let r = k.parseReply('12.000000 -40.500000 OK @ 1500 258', q.P);
  assert.deepEqual([r.ok, r.tick, r.value], [true, 1500, { x: 12, y: -40.5 }]);
  assert.deepEqual(r.events.names(), ['bumpedTurtle', 'teamMessage']);
  assert.deepEqual(k.parseReply('7 OK went @ home OK @ 9 0', q.B).value, { tick: 7, text: 'OK went @ home' });
  assert.deepEqual(k.parseReply('0  OK @ 9 0', q.B).value, { tick: 0, text: '' });
  assert.deepEqual(k.parseReply('-3.500000 0 ERR @ 2 0', q.R).value, { found: false, direction: -3.5, team: 0 });
  assert.equal(k.parseReply('ERR @ 2 0', q.R).value, null);
});
