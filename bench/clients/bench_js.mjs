// One round of the JavaScript client against a running Kelpmoor, for compare.py: "Q P"
// sequentially or 64 per pipeline. Prints replies per second.
//     node bench_js.mjs PORT seq|pipe SECONDS
import { connect } from '../../clients/js/kelpmoor.js';

const [port, mode, seconds] = process.argv.slice(2);
const t = await connect({ port: Number(port) });
await t.clearAll(); // earlier rounds' turtles are zombies now: free their slots
let replies = 0;
const start = performance.now();
const end = start + Number(seconds) * 1000;
let now = start;
while (now < end) {
  if (mode === 'pipe') {
    const calls = [];
    for (let i = 0; i < 64; i++) calls.push(t.position());
    replies += (await Promise.all(calls)).length;
  } else {
    await t.position();
    replies++;
  }
  now = performance.now();
}
console.log((replies / ((now - start) / 1000)).toFixed(0));
t.close();
