// bot_without_close.mjs: a bot that never calls close(). Node must end by itself once its last
// reply has come (the test fails on its timeout otherwise).
import * as k from '../../clients/js/kelpmoor.js';

const t = await k.connect({ timeout: 60 });
const r = await t.forward(1);
console.log(`forward: ${r.ok ? 'OK' : 'ERR'}; no close()`);
