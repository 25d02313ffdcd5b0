#!/usr/bin/env node
// Battle bot: hunts the nearest other thing with the radar, turns towards it (three degrees
// a frame is all battle mode allows), closes in, and fires when the finder sees a turtle,
// a robot or a doughnut straight ahead. Shots are counted by the point each one costs.
//
//     node examples/battle_bot.js [--seconds 60] [--team N] [--battle] [--robots N]
// --battle switches battle mode on (and off at the end); --robots spawns targets first.
import { parseArgs } from 'node:util';
import { connect, ConnectionClosedError, TURTLE, DOUGHNUT } from '../clients/js/kelpmoor.js';

const { values: opt } = parseArgs({
  options: {
    seconds: { type: 'string', default: '60' },
    team: { type: 'string', default: '0' },
    battle: { type: 'boolean', default: false },
    robots: { type: 'string', default: '0' },
    name: { type: 'string', default: 'battle bot' },
    host: { type: 'string', default: '127.0.0.1' },
    port: { type: 'string' },
  },
});

const AIM = 8; // degrees: close enough to fire on the radar's word alone
const t = await connect({ host: opt.host, port: opt.port ? Number(opt.port) : undefined });
await t.name(opt.name);
if (Number(opt.team) > 0) await t.joinTeam(Number(opt.team));
if (opt.battle) await t.battleMode(true);
for (let i = 0; i < Number(opt.robots); i++) await t.robot();
await t.finderRange(300);

const end = Date.now() + Number(opt.seconds) * 1000;
let shots = 0, hits = 0, frames = 0;
try {
  await hunt();
} catch (e) {
  if (!(e instanceof ConnectionClosedError)) throw e;
  // A turtle that dies in battle loses its connection.
  console.log(`shots ${shots} hit_by_others ${hits} frames ${frames} score 0 (destroyed)`);
  process.exit(0);
}

async function hunt() {
  while (Date.now() < end && (await t.alive())) {
    // Queries are answered at once; one motion per frame.
    const [finder, radar, sonar, score] =
      await Promise.all([t.finder(), t.radar(1), t.sonar(), t.score()]);
    const team = Number(opt.team);
    const ally = team > 0 && radar.team === team;
    const inSight = (finder.kind === TURTLE || finder.kind === DOUGHNUT) &&
      !(team > 0 && finder.team === team);
    if (inSight || (radar.found && !ally && Math.abs(radar.direction) < AIM)) {
      await t.fire();
      if ((await t.score()) === score - 1) shots++; // the shot left: it cost a point
    }
    if (t.events.hit) hits++;
    t.takeEvents();
    if (sonar.front) {
      await t.left(3);
    } else if (radar.found && Math.abs(radar.direction) > AIM) {
      await (radar.direction > 0 ? t.left(3) : t.right(3));
    } else {
      await t.forward(2);
    }
    frames++;
  }
}
const score = (await t.alive()) ? await t.score() : 0;
if (opt.battle) await t.battleMode(false);
console.log(`shots ${shots} hit_by_others ${hits} frames ${frames} score ${score}`);
t.close();
