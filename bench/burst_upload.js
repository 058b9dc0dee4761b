// Fires N uploads at once, one fresh TCP connection each (Connection: close, no Expect), and prints
// one line per round: wall_ms ok failed. Usage:
//   node burst_upload.js METHOD URL_TEMPLATE [N=500] [ROUNDS=5] [BODY_BYTES=1024]
// URL_TEMPLATE contains {name}, replaced by a fresh name per request, so every request creates a file.
// The connections come from 127.0.0.1, 127.0.0.2, … with at most 100 from each: the server admits 128
// connections at once from one address (more are answered 503 at once), as many phones would be.
const http = require('http');
const [method, template, n = 500, rounds = 5, size = 1024] = process.argv.slice(2).map((v, i) => (i > 1 ? +v : v));
const body = Buffer.alloc(size, 97);
const one = (round, i) => new Promise((done) => {
  const url = new URL(template.replace('{name}', `b${round}_${i}_${Date.now()}`));
  const request = http.request({
    host: url.hostname, port: url.port, path: url.pathname + url.search, method, agent: false,
    localAddress: `127.0.0.${1 + (i % Math.ceil(n / 100))}`,
    headers: { 'Content-Length': size, Connection: 'close', 'Content-Type': 'application/octet-stream' },
  }, (response) => response.on('end', () => done(response.statusCode >= 200 && response.statusCode < 300)).resume());
  request.setTimeout(60000, () => request.destroy(new Error('timeout')));
  request.on('error', () => done(false));
  request.end(body);
});
(async () => {
  for (let round = 0; round < rounds; round++) {
    const start = process.hrtime.bigint();
    const results = await Promise.all(Array.from({ length: n }, (_, i) => one(round, i)));
    const ms = Number(process.hrtime.bigint() - start) / 1e6;
    const ok = results.filter(Boolean).length;
    console.log(`${ms.toFixed(1)} ${ok} ${n - ok}`);
    await new Promise((resolve) => setTimeout(resolve, 300));
  }
})();
