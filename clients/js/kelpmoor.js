// kelpmoor.js: a Kelpmoor client for Node: one connection drives one turtle. Every command and
// query is a method returning a promise; calls made in the same tick go out in one write
// (pipelining) and their replies are matched in order.
import net from 'node:net';

export const DEFAULT_PORT = 2222;
export const MAX_COMMAND = 511; // characters; a longer command is answered ERR and ignored
export const MAX_PRINT = 127; // bytes of a text printed on the floor
export const MAX_NAME = 128; // bytes of a name kept by the server

export const EVENT = Object.freeze({
  hit: 1,
  bumpedTurtle: 2,
  bumpedDoughnut: 4,
  bumpedStone: 8,
  bumpedWall: 16,
  coinNearby: 32,
  seenByFinder: 64,
  seenByRadar: 128,
  teamMessage: 256,
});

// Finder kinds.
export const NOTHING = 0, TURTLE = 1, DOUGHNUT = 2, STONE = 3, WALL = 4;

export class KelpmoorError extends Error {
  constructor(message) {
    super(message);
    this.name = this.constructor.name;
  }
}
export class ConnectionClosedError extends KelpmoorError {} // replies awaited are lost
export class ReplyTimeoutError extends KelpmoorError {} // the connection is closed with it
export class ProtocolError extends KelpmoorError {} // a line that is not a reply
export class FramingError extends KelpmoorError {} // refused before anything was sent

// The event bits of a reply, with one boolean getter per event.
export class Events {
  constructor(bits = 0) {
    this.bits = bits >>> 0;
  }
  names() {
    return Object.keys(EVENT).filter((k) => this.bits & EVENT[k]);
  }
  or(other) {
    return new Events(this.bits | (other instanceof Events ? other.bits : other));
  }
  toString() {
    return `Events(${this.bits}: ${this.names().join(', ') || 'none'})`;
  }
}
for (const [name, bit] of Object.entries(EVENT)) {
  Object.defineProperty(Events.prototype, name, {
    get() {
      return (this.bits & bit) !== 0;
    },
  });
}

// One reply line: "[payload ]OK|ERR @ tick events". value is the typed payload of a query.
export class Reply {
  constructor(ok, tick, events, payload, value = null) {
    Object.assign(this, { ok, tick, events, payload, value });
  }
}

const REPLY = /^(?:(.*) )?(OK|ERR) @ (\d+) (\d+)$/;

const floats = (p) => p.split(' ').filter(Boolean).map(Number);
const int0 = (p) => parseInt(p, 10);

// Payload parsers by query letter: (payload, ok) => value.
export const QUERY_PARSERS = {
  P: (p) => { const [x, y] = floats(p); return { x, y }; },
  D: (p) => Number(p),
  M: int0,
  F: (p) => { const [kind, team] = floats(p); return { kind, team }; },
  R: (p, ok) => { const [direction, team] = floats(p); return { found: ok, direction, team }; },
  W: (p) => { const [left, front, right] = floats(p).map((v) => v !== 0); return { left, front, right }; },
  A: (p) => int0(p) !== 0,
  S: int0,
  T: int0,
  N: int0,
  C: int0,
  O: int0,
  B: (p) => { const sp = p.indexOf(' '); return { tick: int0(p), text: sp < 0 ? '' : p.slice(sp + 1) }; },
};

export function parseReply(line, parse = null) {
  const m = REPLY.exec(line);
  if (!m) throw new ProtocolError(`not a reply: ${JSON.stringify(line)}`);
  const payload = m[1] ?? '';
  const ok = m[2] === 'OK';
  const value = parse && payload ? parse(payload, ok) : null;
  return new Reply(ok, Number(m[3]), new Events(Number(m[4])), payload, value);
}

// A numeric argument as the server reads it; refuses what it would refuse.
export function number(v) {
  const f = Number(v);
  if (!Number.isFinite(f)) throw new RangeError(`not a finite number: ${v}`);
  return String(f);
}

// Text for S and N: its UTF-8 bytes as hex pairs.
export function hexText(text, limit) {
  const bytes = typeof text === 'string' ? Buffer.from(text, 'utf8') : Buffer.from(text);
  if (bytes.includes(0)) throw new FramingError('text with a zero byte');
  if (bytes.length > limit) throw new FramingError(`text of ${bytes.length} bytes, at most ${limit}`);
  return bytes.toString('hex');
}

const printable = (ch) => ch >= ' ' && ch <= '~';

// Text for U: printable ASCII without ";" (the server would cut the command there).
export function plainText(text) {
  for (const ch of text) {
    if (ch === ';' || !printable(ch)) {
      throw new FramingError(`team message with ${JSON.stringify(ch)}: only printable ASCII without ';'`);
    }
  }
  return text;
}

const NOT_IN_A_COMMAND = /[^ -:<-~]/; // anything but printable ASCII without ";"

// A whole command: one line, no separator inside, within the server's length.
export function checkCommand(text) {
  const bad = NOT_IN_A_COMMAND.exec(text);
  if (bad) {
    throw new FramingError(`command with ${JSON.stringify(bad[0])}: one command per call, printable ASCII`);
  }
  if (text.trim() === '') throw new FramingError('empty command');
  if (text.length > MAX_COMMAND) throw new FramingError(`command of ${text.length} characters, at most ${MAX_COMMAND}`);
  return text;
}

const COMPASS = { E: 'E', N: 'N', W: 'W', S: 'S', EAST: 'E', NORTH: 'N', WEST: 'W', SOUTH: 'S' };
const LINE_STYLES = { line: '-', fill: 'S', points: 'P', brush: 'B' };

// Every command and query once; the subclass decides what _do does with the text.
class Commands {
  _query(letter, extra = '') { return this._do(`Q ${letter}${extra}`, QUERY_PARSERS[letter]); }

  forward(d) { return this._do(`F ${number(d)}`); }
  back(d) { return this._do(`B ${number(d)}`); }
  left(a) { return this._do(`T L ${number(a)}`); }
  right(a) { return this._do(`T R ${number(a)}`); }
  head(compass) {
    const c = COMPASS[String(compass).toUpperCase()];
    if (!c) throw new RangeError(`not a compass heading: ${compass}`);
    return this._do(`T ${c}`);
  }
  jump(x, y) { return this._do(`J ${number(x)} ${number(y)}`); }
  jumpBy(dx, dy) { return this._do(`G ${number(dx)} ${number(dy)}`); }
  reset() { return this._do('C'); }
  home() { return this._do('C H'); }
  clearFloor() { return this._do('C F'); }
  clearAll() { return this._do('C A'); } // zombies and the floor

  penDown() { return this._do('P D'); }
  penUp() { return this._do('P U'); }
  color(r, g, b) { return this._do(`K ${number(r)} ${number(g)} ${number(b)}`); }
  width(w) { return this._do(`W ${number(w)}`); }
  lineStyle(style) {
    const s = LINE_STYLES[style];
    if (!s) throw new RangeError(`not a line style: ${style}`);
    return this._do(`L ${s}`);
  }
  printText(text) { return this._do(`S ${hexText(text, MAX_PRINT)}`); }
  name(text) { return this._do(`N ${hexText(text, MAX_NAME)}`); }
  floorColor(r, g, b) { return this._do(`H ${number(r)} ${number(g)} ${number(b)}`); }

  joinTeam(team) { return this._do(`I ${Math.trunc(team)}`); }
  post(message) { return this._do(`U ${plainText(message)}`); }
  enableEvents(mask) { return this._do(`Y + ${mask >>> 0}`); }
  disableEvents(mask) { return this._do(`Y - ${mask >>> 0}`); }
  finderRange(d) { return this._do(`E ${number(d)}`); }
  doughnut() { return this._do('D'); }
  robot() { return this._do('R'); }
  battleMode(on = true) { return this._do(on ? '!' : '! U'); }
  noop() { return this._do('.'); }

  fire() { return this._do('X'); }
  pickCoin() { return this._do('O'); }
  dropCoin() { return this._do('O S'); }
  scatterCoin() { return this._do('O X'); }
  borrowCoins() { return this._do('O B'); }

  position() { return this._query('P'); } // {x, y}
  heading() { return this._query('D'); } // degrees, not wrapped
  team() { return this._query('M'); }
  finder() { return this._query('F'); } // {kind, team}
  radar(n = 1) { return this._query('R', ` ${Math.trunc(n)}`); } // {found, direction, team}
  sonar() { return this._query('W'); } // {left, front, right}
  alive() { return this._query('A'); }
  score() { return this._query('S'); }
  tick() { return this._query('T'); }
  turtles() { return this._query('N'); }
  coinsNear() { return this._query('C'); }
  coinsHeld() { return this._query('O'); }
  board() { return this._query('B'); } // {tick, text}
}

// Commands queued for Turtle.pipeline.
export class Batch extends Commands {
  constructor() {
    super();
    this.items = [];
  }
  _do(text, parse = null) {
    this.items.push([checkCommand(text), parse]);
  }
  send(text) { this._do(text); }
}

export class Turtle extends Commands {
  constructor(socket, timeout) {
    super();
    this.socket = socket;
    this.timeoutMs = timeout == null ? 0 : timeout * 1000;
    this.waiting = []; // {parse, resolve, reject} in the order the commands were written
    this.pending = '';
    this.closed = null; // the error every later call gets
    this.timer = null;
    this.out = ''; // commands not yet written
    this.last = null; // the latest Reply
    this.events = new Events(0); // events of every reply since takeEvents()
    socket.setEncoding('latin1');
    socket.on('data', (chunk) => this._onData(chunk));
    socket.on('error', (e) => this._fail(new ConnectionClosedError(`connection lost: ${e.message}`)));
    socket.on('close', () => {
      const cut = this.pending ? ' (one cut short)' : '';
      this._fail(new ConnectionClosedError(
        `the server closed the connection with ${this.waiting.length} replies awaited${cut}`));
    });
  }

  close() {
    this._fail(new ConnectionClosedError('connection closed by the client'));
  }

  takeEvents() {
    const e = this.events;
    this.events = new Events(0);
    return e;
  }

  // A raw command; resolves to its Reply.
  send(text) { return this._do(text); }

  // Runs build(batch), sends everything in one write, resolves to the Replies in order.
  pipeline(build) {
    const b = new Batch();
    build(b);
    return this.exchange(b.items);
  }

  // One command: resolves to the typed value of a query, or to the Reply of a command.
  _do(text, parse = null) {
    checkCommand(text);
    if (this.closed) return Promise.reject(this.closed);
    const p = new Promise((resolve, reject) => {
      this.waiting.push({ parse, resolve, reject, value: parse !== null });
    });
    this._write(text + '\n');
    return p;
  }

  // Several commands; resolves to their Replies in order.
  exchange(items) {
    if (this.closed) return Promise.reject(this.closed);
    const promises = items.map(([, parse]) => new Promise((resolve, reject) => {
      this.waiting.push({ parse, resolve, reject, value: false });
    }));
    this._write(items.map(([text]) => text + '\n').join(''));
    return Promise.all(promises);
  }

  _write(text) {
    // Everything asked for in this turn of the event loop leaves in one write.
    if (this.out === '') queueMicrotask(() => this._flush());
    this.out += text;
    this._arm();
  }

  _flush() {
    if (!this.closed && this.out !== '') this.socket.write(this.out);
    this.out = '';
  }

  _arm() {
    if (this.timer || !this.timeoutMs || this.waiting.length === 0) return;
    this.timer = setTimeout(() => {
      this.timer = null;
      this._fail(new ReplyTimeoutError(
        `no reply within ${this.timeoutMs / 1000} s (${this.waiting.length} awaited); connection closed`));
    }, this.timeoutMs);
  }

  _onData(chunk) {
    this.pending += chunk;
    let lf;
    while ((lf = this.pending.indexOf('\n')) >= 0) {
      const line = this.pending.slice(0, lf);
      this.pending = this.pending.slice(lf + 1);
      const w = this.waiting.shift();
      if (!w) {
        this._fail(new ProtocolError(`a reply nobody asked for: ${JSON.stringify(line)}`));
        return;
      }
      let reply;
      try {
        reply = parseReply(line, w.parse);
      } catch (e) {
        w.reject(e);
        this._fail(e);
        return;
      }
      if (reply.events.bits) this.events = this.events.or(reply.events);
      this.last = reply;
      w.resolve(w.value ? reply.value : reply);
    }
    clearTimeout(this.timer);
    this.timer = null;
    this._arm();
  }

  _fail(error) {
    if (this.closed) return;
    this.closed = error;
    clearTimeout(this.timer);
    this.timer = null;
    for (const w of this.waiting.splice(0)) w.reject(error);
    this.socket.destroy();
  }
}

// KELPMOOR_PORT when set, else 2222.
export function defaultPort() {
  const v = process.env.KELPMOOR_PORT;
  return v ? Number(v) : DEFAULT_PORT;
}

// Connects and gets a turtle. timeout in seconds for connecting and for each reply
// (null waits for ever).
export function connect({ host = '127.0.0.1', port = defaultPort(), timeout = 10 } = {}) {
  return new Promise((resolve, reject) => {
    const socket = net.connect({ host, port, noDelay: true });
    const timer = timeout == null ? null : setTimeout(() => {
      socket.destroy();
      reject(new ReplyTimeoutError(`no connection to ${host}:${port} within ${timeout} s`));
    }, timeout * 1000);
    socket.once('connect', () => {
      clearTimeout(timer);
      socket.removeAllListeners('error');
      resolve(new Turtle(socket, timeout));
    });
    socket.once('error', (e) => {
      clearTimeout(timer);
      reject(new ConnectionClosedError(`cannot connect to ${host}:${port}: ${e.message}`));
    });
  });
}
