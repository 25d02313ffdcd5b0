// kelpmoor.js: a Kelpmoor client for Node: one connection drives one turtle. Every command and
// query is a method returning a promise; calls made in the same tick go out in one write
// (pipelining) and their replies are matched in order. Text travels as Latin-1. While no reply
// is awaited the socket does not keep Node running, so a bot ends when it has nothing left to
// send, with or without close().
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

/** The base of every error this library throws or rejects with. */
export class KelpmoorError extends Error {
  constructor(message) {
    super(message);
    this.name = this.constructor.name;
  }
}
/** The connection closed or broke; every reply still awaited is lost. */
export class ConnectionClosedError extends KelpmoorError {}
/** No reply within the timeout; the connection is closed with it. */
export class ReplyTimeoutError extends KelpmoorError {}
/** A line from the server that is not a reply. */
export class ProtocolError extends KelpmoorError {}
/** An argument the command cannot take, thrown before anything is sent; the message names
 * what it can take. */
export class ArgumentError extends KelpmoorError {}
/** An argument that would split or break the command (";", a line end, too long). */
export class FramingError extends ArgumentError {}

/** Why a connection may be closed before its first reply. */
export const NOT_TAKEN_IN = ' before its first reply: the arena may be full (KELPMOOR_MAX_CLIENTS) '
  + 'or in private mode (only its own machine is let in)';

/** The event bits of a reply, with one boolean getter per event (hit, bumpedTurtle, ...). */
export class Events {
  constructor(bits = 0) {
    this.bits = bits >>> 0;
  }
  /** @returns {string[]} the names of the events set, in bit order */
  names() {
    return Object.keys(EVENT).filter((k) => this.bits & EVENT[k]);
  }
  /** @returns {Events} these events and other's */
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

/** One reply line: "[payload ]OK|ERR @ tick events"; value is the typed payload of a query. */
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
  G: (p) => {
    const [battle, boundedArea, maze, privateMode] = floats(p).map((v) => v !== 0);
    return { battle, boundedArea, maze, private: privateMode };
  },
};

/**
 * Parses one reply line (without its line feed).
 * @param {string} line
 * @param {?function(string, boolean): *} parse turns the payload into the typed value
 * @returns {Reply}
 * @throws {ProtocolError} when the line is not a reply
 */
export function parseReply(line, parse = null) {
  const m = REPLY.exec(line);
  if (!m) throw new ProtocolError(`not a reply: ${JSON.stringify(line)}`);
  const payload = m[1] ?? '';
  const ok = m[2] === 'OK';
  const value = parse && payload ? parse(payload, ok) : null;
  return new Reply(ok, Number(m[3]), new Events(Number(m[4])), payload, value);
}

/**
 * A numeric argument as the server reads it.
 * @throws {ArgumentError} for what the server would refuse (not a finite number)
 */
export function number(v) {
  const f = typeof v === 'string' && v.trim() === '' ? NaN : Number(v);
  if (!Number.isFinite(f)) throw new ArgumentError(`not a finite number: ${v}`);
  return String(f);
}

/** @returns {Buffer} text in Latin-1, each character outside it as "?" */
export function latin1(text) {
  return Buffer.from(Array.from(text, (ch) => (ch.codePointAt(0) <= 0xff ? ch.codePointAt(0) : 0x3f)));
}

/**
 * Text for S and N: its bytes (Latin-1 for a string) as hex pairs.
 * @throws {FramingError} for a zero byte or more than limit bytes
 */
export function hexText(text, limit) {
  const bytes = typeof text === 'string' ? latin1(text) : Buffer.from(text);
  if (bytes.includes(0)) throw new FramingError('text with a zero byte');
  if (bytes.length > limit) throw new FramingError(`text of ${bytes.length} bytes, at most ${limit}`);
  return bytes.toString('hex');
}

const printable = (ch) => ch >= ' ' && ch <= '~';

/**
 * Text for U. The server drops every byte that is not printable ASCII from a command, so each
 * other character becomes "?".
 * @throws {FramingError} for ";" or a line end, which would end the command
 */
export function plainText(text) {
  for (const ch of [';', '\n', '\r']) {
    if (text.includes(ch)) {
      throw new FramingError(`team message with ${JSON.stringify(ch)}: any text without ';' or a line end`);
    }
  }
  return Array.from(text, (ch) => (printable(ch) ? ch : '?')).join('');
}

const NOT_IN_A_COMMAND = /[^ -:<-~]/; // anything but printable ASCII without ";"

/**
 * A whole command: one line, no separator inside, within the server's length.
 * @throws {FramingError} otherwise
 */
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

function rgb(r, g, b) {
  for (const v of [r, g, b]) {
    const f = Number(number(v));
    if (f < 0 || f > 1) throw new ArgumentError(`colour component ${v}: from 0 to 1`);
  }
  return `${number(r)} ${number(g)} ${number(b)}`;
}

/**
 * Every command and query once. On a Turtle each returns a promise of its Reply (a query: of
 * its typed value); on a Batch it queues the command. Arguments the server would misread throw
 * ArgumentError (FramingError for text) before anything is sent.
 */
class Commands {
  _query(letter, extra = '') { return this._do(`Q ${letter}${extra}`, QUERY_PARSERS[letter]); }

  /** Step forward by d (negative: backwards); ERR when something blocks it. */
  forward(d) { return this._do(`F ${number(d)}`); }
  /** Step back by d, the heading unchanged. */
  back(d) { return this._do(`B ${number(d)}`); }
  /** Turn counter-clockwise by a degrees. */
  left(a) { return this._do(`T L ${number(a)}`); }
  /** Turn clockwise by a degrees. */
  right(a) { return this._do(`T R ${number(a)}`); }
  /** Face 'E' (0 degrees), 'N' (90), 'W' (180) or 'S' (-90); 'east' ... also do. */
  head(compass) {
    const c = COMPASS[String(compass).toUpperCase()];
    if (!c) throw new ArgumentError(`not a compass heading: ${JSON.stringify(compass)} (E, N, W, S)`);
    return this._do(`T ${c}`);
  }
  /** Jump to (x, y), drawing a line when the pen is down; ERR in battle mode or with another thing within 20. */
  jump(x, y) { return this._do(`J ${number(x)} ${number(y)}`); }
  /** Jump by (dx, dy); as jump. */
  jumpBy(dx, dy) { return this._do(`G ${number(dx)} ${number(dy)}`); }
  /** Back to (0, 0), heading 0, pen up, red, width 1, no team, no coins. */
  reset() { return this._do('C'); }
  /** To (0, 0), heading 0; pen and colours stay. */
  home() { return this._do('C H'); }
  /** Clear everybody's painting (a field-wide command). */
  clearFloor() { return this._do('C F'); }
  /** Remove zombies and clear the floor (a field-wide command). */
  clearAll() { return this._do('C A'); }

  /** Put the pen down: moves paint from here on. */
  penDown() { return this._do('P D'); }
  /** Lift the pen. */
  penUp() { return this._do('P U'); }
  /** Pen colour, each component from 0 to 1. */
  color(r, g, b) { return this._do(`K ${rgb(r, g, b)}`); }
  /** Pen width in field units (pixels of the top view). */
  width(w) { return this._do(`W ${number(w)}`); }
  /** 'line', 'fill' (filled polygons of the last points), 'points' or 'brush'. */
  lineStyle(style) {
    const s = LINE_STYLES[style];
    if (!s) throw new ArgumentError(`not a line style: ${JSON.stringify(style)} (line, fill, points, brush)`);
    return this._do(`L ${s}`);
  }
  /** Print text on the floor at the turtle in the pen colour, at the next frame; at most 127 bytes of Latin-1. */
  printText(text) { return this._do(`S ${hexText(text, MAX_PRINT)}`); }
  /** Name the turtle (shown with key n and in the browser viewer); Latin-1, at most 128 bytes. */
  name(text) { return this._do(`N ${hexText(text, MAX_NAME)}`); }
  /** Floor colour, each component from 0 to 1; clears the floor (a field-wide command). */
  floorColor(r, g, b) { return this._do(`H ${rgb(r, g, b)}`); }

  /** Join team 1 to 4 (there is no way back to team 0). */
  joinTeam(team) {
    if (![1, 2, 3, 4].includes(team)) throw new ArgumentError(`team ${team}: 1, 2, 3 or 4`);
    return this._do(`I ${team}`);
  }
  /** Post a team message (printable ASCII; other characters become "?"). */
  post(message) { return this._do(`U ${plainText(message)}`); }
  /** Report the events of mask (a bit set of EVENT values) again. */
  enableEvents(mask) { return this._do(`Y + ${mask >>> 0}`); }
  /** Stop reporting the events of mask, dropping any of them pending. */
  disableEvents(mask) { return this._do(`Y - ${mask >>> 0}`); }
  /** How far the finder looks; 20 at start. */
  finderRange(d) { return this._do(`E ${number(d)}`); }
  /** Spawn a doughnut, a target for battle, at a random place. */
  doughnut() { return this._do('D'); }
  /** Spawn a robot (a field-wide command). */
  robot() { return this._do('R'); }
  /** Battle mode on or off for the whole field (a field-wide command). */
  battleMode(on = true) { return this._do(on ? '!' : '! U'); }
  /** Nothing: the reply carries the tick and the events. */
  noop() { return this._do('.'); }

  /** Fire one bullet along the heading (battle mode), costing a point. */
  fire() { return this._do('X'); }
  /** Pick up the nearest coin within 20 (OK also when there is none). */
  pickCoin() { return this._do('O'); }
  /** Drop a held coin where the turtle stands; ERR when it holds none. */
  dropCoin() { return this._do('O S'); }
  /** Scatter one coin from the bank at a random place (a field-wide command). */
  scatterCoin() { return this._do('O X'); }
  /** Borrow ten coins from the bank. */
  borrowCoins() { return this._do('O B'); }

  /** @returns {Promise<{x: number, y: number}>} the position */
  position() { return this._query('P'); }
  /** @returns {Promise<number>} the heading in degrees, counter-clockwise from east, not wrapped */
  heading() { return this._query('D'); }
  /** @returns {Promise<number>} the team, 0 (none) to 4 */
  team() { return this._query('M'); }
  /** @returns {Promise<{kind: number, team: number}>} what lies straight ahead within the finder range */
  finder() { return this._query('F'); }
  /**
   * The n-th nearest other thing, n from 1 to 5.
   * @returns {Promise<{found: boolean, direction: number, team: number}>}
   */
  radar(n = 1) {
    if (![1, 2, 3, 4, 5].includes(n)) throw new ArgumentError(`radar target ${n}: from 1 to 5`);
    return this._query('R', ` ${n}`);
  }
  /** @returns {Promise<{left: boolean, front: boolean, right: boolean}>} something near at +45, 0, -45 degrees */
  sonar() { return this._query('W'); }
  /** @returns {Promise<boolean>} whether the turtle is alive */
  alive() { return this._query('A'); }
  /** @returns {Promise<number>} points: 100 at start */
  score() { return this._query('S'); }
  /** @returns {Promise<number>} the field's tick counter */
  tick() { return this._query('T'); }
  /** @returns {Promise<number>} live turtles, robots and doughnuts */
  turtles() { return this._query('N'); }
  /** @returns {Promise<number>} coins within reach (20) */
  coinsNear() { return this._query('C'); }
  /** @returns {Promise<number>} coins the turtle holds */
  coinsHeld() { return this._query('O'); }
  /** @returns {Promise<{tick: number, text: string}>} the team's board */
  board() { return this._query('B'); }
  /** @returns {Promise<{battle: boolean, boundedArea: boolean, maze: boolean, private: boolean}>} the field's modes */
  modes() { return this._query('G'); }
}

/** Commands queued for Turtle.pipeline; each method returns nothing. */
export class Batch extends Commands {
  constructor() {
    super();
    this.items = [];
  }
  _do(text, parse = null) {
    this.items.push([checkCommand(text), parse]);
  }
  /** A raw command, checked to be one command. */
  send(text) { this._do(text); }
}

/** One connection and the turtle it drives; get one with connect(). */
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
    this.answered = false; // a reply came: the server took us in
    socket.setEncoding('latin1');
    socket.unref();
    socket.on('data', (chunk) => this._onData(chunk));
    socket.on('error', (e) => this._fail(new ConnectionClosedError(`connection lost: ${e.message}${this._hint()}`)));
    socket.on('close', () => {
      const cut = this.pending ? ' (one cut short)' : '';
      this._fail(new ConnectionClosedError(
        `the server closed the connection with ${this.waiting.length} replies awaited${cut}${this._hint()}`));
    });
  }

  _hint() { return this.answered ? '' : NOT_TAKEN_IN; }

  /** Close the connection; the turtle stays on the field as a zombie. */
  close() {
    this._fail(new ConnectionClosedError('connection closed by the client'));
  }

  /** @returns {Events} the events gathered since the last call, cleared */
  takeEvents() {
    const e = this.events;
    this.events = new Events(0);
    return e;
  }

  /** A raw command, checked to be one command; resolves to its Reply. */
  send(text) { return this._do(text); }

  /**
   * Runs build(batch), sends everything in one write and resolves to the Replies in order:
   * `await t.pipeline((b) => { b.forward(5); b.position(); })`.
   */
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

  /** Several [text, parse] items; resolves to their Replies in order. */
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
    this.socket.ref();
    this._arm();
  }

  _flush() {
    if (!this.closed && this.out !== '') this.socket.write(this.out, 'latin1');
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
      this.answered = true;
      w.resolve(w.value ? reply.value : reply);
    }
    clearTimeout(this.timer);
    this.timer = null;
    this._arm();
    if (this.waiting.length === 0) this.socket.unref();
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

/** @returns {number} KELPMOOR_PORT when set, else 2222 */
export function defaultPort() {
  const v = process.env.KELPMOOR_PORT;
  return v ? Number(v) : DEFAULT_PORT;
}

/** @returns {string} KELPMOOR_HOST when set, else 127.0.0.1 */
export function defaultHost() {
  return process.env.KELPMOOR_HOST || '127.0.0.1';
}

/**
 * Connects and gets a turtle.
 * @param {{host?: string, port?: number, timeout?: ?number}} options timeout in seconds for
 *   connecting and for each reply (null waits for ever)
 * @returns {Promise<Turtle>} rejects with ConnectionClosedError when nothing listens there,
 *   ReplyTimeoutError when connecting takes longer than timeout
 */
export function connect({ host = defaultHost(), port = defaultPort(), timeout = 10 } = {}) {
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
      reject(new ConnectionClosedError(
        `cannot connect to ${host}:${port}: ${e.message} (is Kelpmoor running there, on this port?)`));
    });
  });
}
