// A scratch machine for one client run: a home folder, a project folder, the stand-in app, and
// the server's trace, from which the run's facts are read.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createInterface } from 'node:readline';

// Resolved as the server resolves its own path for --print-config.
export const serverBinary = fs.realpathSync(requiredEnv('KORVANE_MCP_BINARY'));
export const standinBinary = requiredEnv('KORVANE_STANDIN_BINARY');

function requiredEnv(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set (tests/clients/run.sh and CTest set it)`);
  return value;
}

export function makeScratch(label) {
  // Clients compare the working folder with trusted ones after resolving links (macOS's /var).
  const root = fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), `korvane-clients-${label}-`)));
  const scratch = { root, home: path.join(root, 'home'), project: path.join(root, 'project'), trace: path.join(root, 'trace.jsonl') };
  fs.mkdirSync(scratch.home);
  fs.mkdirSync(scratch.project);
  return scratch;
}

export function removeScratch(scratch) {
  fs.rmSync(scratch.root, { recursive: true, force: true });
}

// The environment a client runs with: nothing of the caller's but PATH and the locale, so that
// neither the developer's settings nor their KORVANE_* variables leak in. The server's folder
// comes first on PATH, as an installed server's would be.
export function clientEnv(scratch, binDir, extra) {
  const env = {
    PATH: [path.dirname(serverBinary), binDir, process.env.PATH ?? '/usr/bin:/bin'].join(path.delimiter),
    HOME: scratch.home,
    TMPDIR: os.tmpdir(),
    LANG: process.env.LANG ?? 'C.UTF-8',
    TERM: 'dumb',
    NO_COLOR: '1',
    // No update checks or telemetry: the run must not depend on the network.
    DISABLE_AUTOUPDATER: '1',
    CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC: '1',
    OPENCODE_DISABLE_AUTOUPDATE: '1',
    ...extra,
  };
  for (const [key, value] of Object.entries(env)) if (value === undefined) delete env[key];
  return env;
}

// Starts the stand-in app publishing its socket-info file at `socketInfo`.
export async function startStandin(socketInfo) {
  fs.mkdirSync(path.dirname(socketInfo), { recursive: true });
  const child = spawn(standinBinary, ['--socket-info', socketInfo], { stdio: ['ignore', 'pipe', 'pipe'] });
  let stderr = '';
  child.stderr.setEncoding('utf8').on('data', (chunk) => (stderr += chunk));
  const ready = (async () => {
    for await (const line of createInterface({ input: child.stdout })) {
      if (/^ready \d+$/.test(line)) return;
    }
    throw new Error(`stand-in app ended before it was ready: ${stderr}`);
  })();
  const failed = once(child, 'error').then(([error]) => {
    throw new Error(`cannot start ${standinBinary}: ${error.message}`);
  });
  await bounded(Promise.race([ready, failed]), 10000, 'the stand-in app printed no ready line');
  return {
    async stop() {
      if (child.exitCode !== null || child.signalCode !== null) return;
      const exited = once(child, 'exit');
      child.kill('SIGTERM');
      await bounded(exited, 5000, 'the stand-in app did not exit on SIGTERM');
    },
  };
}

function bounded(promise, ms, what) {
  let timer;
  const expiry = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what} (after ${ms} ms)`)), ms);
  });
  return Promise.race([promise, expiry]).finally(() => clearTimeout(timer));
}

// The trace's records; [] when no server wrote one.
export function readTrace(file) {
  if (!fs.existsSync(file)) return [];
  return fs.readFileSync(file, 'utf8').split('\n').filter(Boolean).map((line) => JSON.parse(line));
}

// What the client sent, as measured: the protocol version its initialize offered, its clientInfo,
// and every message up to its first tools/list (the whole conversation when it sent none).
// A request the server refused is marked with the error code it answered.
export function conversation(records) {
  const received = records.filter((r) => r.event === 'received').map((r) => JSON.parse(r.text));
  const sent = records.filter((r) => r.event === 'sent').map((r) => JSON.parse(r.text));
  const initialize = received.find((m) => m.method === 'initialize');
  const end = received.findIndex((m) => m.method === 'tools/list');
  const steps = (end < 0 ? received : received.slice(0, end + 1)).map((message) => {
    const refused = 'id' in message && sent.find((answer) => answer.id === message.id && answer.error);
    return describeMessage(message) + (refused ? ` [error ${refused.error.code}]` : '');
  });
  if (end < 0) steps.push('(no tools/list)');
  return {
    protocolVersion: initialize?.params?.protocolVersion ?? null,
    clientInfo: initialize?.params?.clientInfo ?? null,
    steps,
  };
}

function describeMessage(message) {
  const offered = message.params?._meta?.['io.modelcontextprotocol/protocolVersion'];
  if (offered) return `${message.method} (protocol ${offered})`;
  if (message.method === 'initialize') return `initialize (protocol ${message.params?.protocolVersion})`;
  return message.method ?? 'a response';
}
