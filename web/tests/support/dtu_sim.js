// dtu-sim, the simulated unit, on a pseudo-terminal for the browser tests.

import { spawn } from 'node:child_process';
import { existsSync } from 'node:fs';
import { join } from 'node:path';
import { REPO } from './site.js';

export const DTU_SIM = process.env.K7V_DTU_SIM ?? join(REPO, 'build/dtu-sim');

/**
 * Starts dtu-sim with options and waits for its pseudo-terminal.
 * @param {string[]} [options]
 * @returns {Promise<{device: string, stop: () => Promise<void>}>}
 */
export async function startDtuSim(options = []) {
  if (!existsSync(DTU_SIM)) throw new Error(`${DTU_SIM} is missing: build it first (cmake --build build --target dtu-sim)`);
  const child = spawn(DTU_SIM, options, { stdio: ['ignore', 'pipe', 'inherit'] });
  const device = await new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const found = /dtu-sim: (\/dev\/\S+)/.exec(out);
      if (found) resolve(found[1]);
    });
    child.once('exit', (code) => reject(new Error(`dtu-sim ended (${code}) before its terminal was ready`)));
  });
  const ended = new Promise((done) => child.once('exit', done));
  return {
    device,
    stop: async () => {
      if (child.exitCode === null) child.kill('SIGTERM');
      await ended;
    },
  };
}
