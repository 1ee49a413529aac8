// The reference relay for the fan-out benchmark: Node's `ws` server doing the same job as the
// studio's relay in the plainest way. Transport-stream bytes sent to the ingest port go to every
// WebSocket viewer, cut on the 188-byte packet grid so the viewers' checks read them; no join
// cache, no slow-viewer bound. Prints "READY" once both listeners are up, answers a line on
// stdin with "COUNTERS received sent viewers" and quits when stdin closes.
//
// usage: node node_relay.js WEBSOCKET_PORT INGEST_PORT
'use strict';
const net = require('net');
const readline = require('readline');
const WebSocket = require('ws');

const [viewerPort, ingestPort] = process.argv.slice(2).map(Number);
const kPacket = 188;
let received = 0;
let sent = 0;

const viewers = new WebSocket.Server({ host: '127.0.0.1', port: viewerPort });
const ingest = net.createServer((socket) => {
  let tail = Buffer.alloc(0);
  socket.on('data', (chunk) => {
    received += chunk.length;
    const bytes = tail.length ? Buffer.concat([tail, chunk]) : chunk;
    const whole = bytes.length - (bytes.length % kPacket);
    tail = bytes.subarray(whole);
    if (whole === 0) return;
    const message = bytes.subarray(0, whole);
    for (const viewer of viewers.clients) {
      if (viewer.readyState !== WebSocket.OPEN) continue;
      viewer.send(message, { binary: true });
      sent += message.length;
    }
  });
  socket.on('error', () => {});
});

let listening = 0;
const ready = () => {
  if (++listening === 2) console.log('READY');
};
viewers.on('listening', ready);
ingest.listen(ingestPort, '127.0.0.1', ready);
for (const server of [viewers, ingest])
  server.on('error', (error) => {
    console.log('FAILED ' + error.message);
    process.exit(1);
  });

readline.createInterface({ input: process.stdin })
  .on('line', () => console.log(`COUNTERS ${received} ${sent} ${viewers.clients.size}`))
  .on('close', () => process.exit(0));
