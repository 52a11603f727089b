// A WebSocket <-> serial device relay for the browser tests: the page's Web
// Serial code talks to a stand-in port (serial_stand_in.js) whose bytes come
// here and go to a device such as dtu-sim's pseudo-terminal, and back. The
// first message of a connection is the port's open options as JSON; the
// device is then set to that speed and framing, as a real adapter would be.
// Closing the device's far end (dtu-sim exits) closes the connection, which
// the stand-in reports as a lost device.
//
//   node pty_relay.js DEVICE   prints the relay's ws:// address

import { WebSocketServer } from 'ws';
import { execFile } from 'node:child_process';
import { closeSync, constants, openSync, writeSync } from 'node:fs';
import { ReadStream } from 'node:tty';
import { promisify } from 'node:util';

const run = promisify(execFile);

/**
 * The stty words for Web Serial's open options.
 * @param {{baudRate: number, dataBits?: number, stopBits?: number, parity?: string}} o
 */
export function sttyWords(o) {
  return [
    'raw', '-echo', String(o.baudRate),
    o.dataBits === 7 ? 'cs7' : 'cs8',
    o.stopBits === 2 ? 'cstopb' : '-cstopb',
    ...(o.parity === 'odd' ? ['parenb', 'parodd'] : o.parity === 'even' ? ['parenb', '-parodd'] : ['-parenb']),
  ];
}

/**
 * Relays one WebSocket connection at a time to device. bytes counts what went
 * each way, for a benchmark's wire time; turnarounds holds, for each answer,
 * the milliseconds from the device's last bytes to the first of the answer
 * (the page's own time, with two hops through the relay).
 * @param {string} device  a tty path, e.g. dtu-sim's /dev/pts/N
 * @returns {Promise<{url: string, bytes: {toDevice: number, fromDevice: number}, turnarounds: number[],
 *   close: () => Promise<void>}>}
 */
export async function startRelay(device) {
  const server = new WebSocketServer({ host: '127.0.0.1', port: 0 });
  const bytes = { toDevice: 0, fromDevice: 0 };
  /** @type {number[]} */
  const turnarounds = [];
  /** @type {number|null} when the device last sent, while no answer has come */
  let asked = null;
  await new Promise((done) => server.once('listening', done));

  server.on('connection', (socket) => {
    /** @type {number|null} */ let fd = null;
    /** @type {ReadStream|null} */ let input = null;
    /** @type {Buffer[]} */ const pending = [];
    let writing = false;
    const shut = () => {
      input?.destroy();
      input = null;
      if (fd !== null) closeSync(fd);
      fd = null;
      socket.close();
    };
    // Writes in order, straight to the terminal from this thread, as a
    // serial driver takes them: a trip through the thread pool would add a
    // wake-up to every answer. The descriptor does not block, so a full
    // terminal buffer (EAGAIN) only holds the rest back for a moment.
    const flush = () => {
      if (writing) return;
      while (fd !== null && pending.length) {
        const chunk = /** @type {Buffer} */ (pending[0]);
        let done = 0;
        try {
          done = writeSync(fd, chunk);
        } catch (error) {
          if (/** @type {NodeJS.ErrnoException} */ (error).code !== 'EAGAIN') {
            shut();
            return;
          }
        }
        if (done < chunk.length) {
          pending[0] = chunk.subarray(done);
          writing = true;
          setTimeout(() => {
            writing = false;
            flush();
          }, 1);
          return;
        }
        pending.shift();
      }
    };
    socket.once('message', async (first) => {
      try {
        const { open } = JSON.parse(String(first));
        fd = openSync(device, constants.O_RDWR | constants.O_NOCTTY | constants.O_NONBLOCK);
        await run('stty', ['-F', device, ...sttyWords(open)]);
        input = new ReadStream(fd);
        input.setRawMode(true);
        input.on('data', (chunk) => {
          bytes.fromDevice += chunk.length;
          asked = performance.now();
          socket.send(chunk);
        });
        input.on('error', shut); // EIO: the far end is gone
        input.on('end', shut);
        socket.send(JSON.stringify({ opened: true }));
      } catch (error) {
        socket.send(JSON.stringify({ error: String(error) }));
        shut();
        return;
      }
      socket.on('message', (data, isBinary) => {
        if (!isBinary) return;
        const chunk = Buffer.from(/** @type {Buffer} */ (data));
        bytes.toDevice += chunk.length;
        if (asked !== null) turnarounds.push(performance.now() - asked);
        asked = null;
        pending.push(chunk);
        flush();
      });
    });
    socket.on('close', shut);
  });

  const address = /** @type {import('node:net').AddressInfo} */ (server.address());
  return {
    url: `ws://127.0.0.1:${address.port}`,
    bytes,
    turnarounds,
    close: () => new Promise((done) => {
      for (const client of server.clients) client.terminate();
      server.close(() => done(undefined));
    }),
  };
}

if (import.meta.url === `file://${process.argv[1]}`) {
  const device = process.argv[2];
  if (!device) {
    console.error('usage: node pty_relay.js DEVICE');
    process.exit(2);
  }
  const relay = await startRelay(device);
  console.log(relay.url);
}
