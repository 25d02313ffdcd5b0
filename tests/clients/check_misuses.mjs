// check_misuses.mjs: the table of misuses (tests/clients/misuses.txt) against the JavaScript
// library: each throws (or rejects with) its kind of error with its message.
import fs from 'node:fs';
import net from 'node:net';
import * as k from '../../clients/js/kelpmoor.js';

const here = new URL('.', import.meta.url);
const rows = fs.readFileSync(new URL('misuses.txt', here), 'utf8').split('\n')
  .filter((l) => l.trim() && !l.startsWith('#')).map((l) => l.split('|').map((f) => f.trim()));

const camel = (name) => name.replace(/_(.)/g, (_, c) => c.toUpperCase());
const NUMBERS = { inf: Infinity, nan: NaN };
function args(text) {
  return [...text.matchAll(/"((?:[^"\\]|\\.)*)"|(\S+)/g)].map(([, quoted, bare]) => (
    bare !== undefined ? (bare in NUMBERS ? NUMBERS[bare] : Number(bare))
      : quoted.replace(/\{(\d+)\*(.)\}/g, (_, n, c) => c.repeat(Number(n))).replace(/\\n/g, '\n')));
}
// This library's classes all end in Error (ConnectionClosedError).
const jsKind = (kind) => (kind.endsWith('Error') ? kind : `${kind}Error`);

const server = net.createServer((s) => s.destroy());
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
let failures = 0;
for (const [where, method, argText, kind, part] of rows) {
  let problem = 'nothing thrown';
  try {
    const target = where === 'batch' ? new k.Batch()
      : await k.connect({ port: server.address().port, timeout: 10 });
    await target[camel(method)](...args(argText));
  } catch (e) {
    if (!(e instanceof k.KelpmoorError) || e.constructor.name !== jsKind(kind)) {
      problem = `${e.constructor.name} thrown`;
    } else problem = e.message.includes(part) ? null : `message ${JSON.stringify(e.message)}`;
  }
  if (problem) failures++;
  console.log(`${problem ? 'FAILED' : 'ok'}: ${camel(method)}(${argText}) -> ${kind}${problem ? `: ${problem}` : ''}`);
}
server.close();
process.exitCode = failures ? 1 : 0;
