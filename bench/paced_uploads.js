// Keeps COUNT uploads running at RATE bytes per second each, for SECONDS, as phones on a slow Wi-Fi
// would, then prints "ok failed". Usage:
//   node paced_uploads.js PORT [COUNT=64] [RATE=1000000] [SECONDS=20]
const net = require('net');
const [port, count = 64, rate = 1000000, seconds = 20] = process.argv.slice(2).map(Number);
const tick = 50; // ms between writes
const chunk = Buffer.alloc(Math.round((rate * tick) / 1000), 120);
const total = chunk.length * Math.round((seconds * 1000) / tick);
const one = (i) => new Promise((done) => {
  const socket = net.connect(port, '127.0.0.1', () => {
    socket.write(`POST /v1/upload?filename=paced-${i}-${Date.now()}.bin&device=bench HTTP/1.1\r\n` +
                 `Host: 127.0.0.1\r\nContent-Length: ${total}\r\nConnection: close\r\n\r\n`);
    let sent = 0;
    const timer = setInterval(() => {
      socket.write(chunk);
      sent += chunk.length;
      if (sent >= total) clearInterval(timer);
    }, tick);
  });
  let answer = '';
  socket.on('data', (data) => { answer += data; });
  socket.on('close', () => done(answer.startsWith('HTTP/1.1 200')));
  socket.on('error', () => done(false));
});
Promise.all(Array.from({ length: count }, (_, i) => one(i))).then((results) => {
  const ok = results.filter(Boolean).length;
  console.log(`${ok} ${count - ok}`);
});
