// The JavaScript client against a running Kelpmoor, for compare.py: "Q P" sequentially or 64
// per pipeline, in rounds asked for on standard input ("seq|pipe SECONDS" a line); prints each
// round's replies per second.
//     node bench_js.mjs PORT
import readline from 'node:readline';
import { connect } from '../../clients/js/kelpmoor.js';

const t = await connect({ port: Number(process.argv[2]) });
for await (const line of readline.createInterface({ input: process.stdin })) {
  const [mode, seconds] = line.split(' ');
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
}
t.close();
