#!/usr/bin/env node
// Wall follower: walks to the nearest wall, then follows the walls round the field with the
// wall on its right, steering by the sonar alone. Works with or without bounded-area mode
// (key b): the sonar sees walls either way, and the turtle never touches them.
//
//     node examples/wall_follower.js [--seconds 30] [--host H] [--port P]
import { parseArgs } from 'node:util';
import { connect } from '../clients/js/kelpmoor.js';

const { values: opt } = parseArgs({
  options: {
    seconds: { type: 'string', default: '30' },
    host: { type: 'string', default: '127.0.0.1' },
    port: { type: 'string' },
  },
});

const STEP = 4; // field units per frame
const EDGE = 256; // the boundary walls stand at +-256

const t = await connect({ host: opt.host, port: opt.port ? Number(opt.port) : undefined });
await t.name('wall follower');
const end = Date.now() + Number(opt.seconds) * 1000;

// Towards the nearest wall, until the sonar sees it ahead.
const { x, y } = await t.position();
const toWall = [[EDGE - x, 'E'], [EDGE + x, 'W'], [EDGE - y, 'N'], [EDGE + y, 'S']]
  .sort((a, b) => a[0] - b[0])[0][1];
await t.head(toWall);
while (Date.now() < end && !(await t.sonar()).front) {
  if (!(await t.forward(STEP)).ok) await t.left(30); // someone in the way
}
await t.left(90); // wall on the right

let steps = 0, nearWall = 0, turns = 0, travelled = 0;
while (Date.now() < end) {
  const s = await t.sonar();
  if (s.front) {
    await t.left(45); // a corner or an obstacle: turn away from the wall
    turns++;
  } else if (!s.right) {
    // The wall fell behind on the right: bend back towards it.
    const [r] = await t.pipeline((b) => { b.right(10); b.forward(STEP); });
    if (r.ok) travelled += STEP;
  } else {
    nearWall++;
    if ((await t.forward(STEP)).ok) travelled += STEP;
  }
  steps++;
}
const p = await t.position();
console.log(`steps ${steps} along_wall ${nearWall} turns ${turns} travelled ${travelled} ` +
  `end ${p.x.toFixed(1)} ${p.y.toFixed(1)}`);
t.close();
