// Shared plumbing for the interop suites: binaries, temp dirs, the stand-in app, wire taps.
import { execFileSync, spawn } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));

export const interopDir = path.resolve(here, '..');
export const serverBinary = requiredEnv('KORVANE_MCP_BINARY');
export const standinBinary = requiredEnv('KORVANE_STANDIN_BINARY');
// The project version (CMake's), which serverInfo must carry.
export const serverVersion = requiredEnv('KORVANE_SERVER_VERSION');

// Binaries built for another machine run through $KORVANE_TEST_EMULATOR, as in the C++ suites.
const emulator = (process.env.KORVANE_TEST_EMULATOR ?? '').split(/\s+/).filter(Boolean);
// [program, ...arguments] that start one of the project's binaries.
export function commandFor(binary, args = []) {
  return [...emulator, binary, ...args];
}
export const serverCommand = commandFor(serverBinary);

// Short enough that a hung server fails the suite quickly, long enough for a loaded 2-core box.
export const requestTimeoutMs = 5000;

export const notRunningText = 'korvane GUI is not running (no socket-info.json found)';
export const refusedText = `connect: ${systemErrorText('ECONNREFUSED')}`;

function requiredEnv(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set (tests/interop/run.sh and CTest set it)`);
  return value;
}

// "<text> (os error <N>)" as the server writes a system error. Node knows the numbers but not the
// C library's texts, so both come from a helper built with the server; the number must agree
// with node's, which keeps a wrong helper from passing.
function systemErrorText(name) {
  const [program, ...args] = commandFor(requiredEnv('KORVANE_OS_ERRORS_BINARY'));
  const entry = JSON.parse(execFileSync(program, args, { encoding: 'utf8' }))[name];
  if (entry?.number !== os.constants.errno[name] || !entry.text) {
    throw new Error(`os error helper disagrees with node about ${name}: ${JSON.stringify(entry)}`);
  }
  return `${entry.text} (os error ${entry.number})`;
}

export function nodeMajor() {
  return Number(process.versions.node.split('.')[0]);
}

export function loadExpectedTools() {
  return JSON.parse(fs.readFileSync(path.join(interopDir, 'expected-tools.json'), 'utf8')).tools;
}

export function makeTempDir(label) {
  return fs.mkdtempSync(path.join(os.tmpdir(), `korvane-interop-${label}-`));
}

export function removeTempDir(dir) {
  fs.rmSync(dir, { recursive: true, force: true });
}

// The environment handed to korvane-mcp: only what the server reads, plus PATH.
export function serverEnv({ socketInfo, sessionId, home }) {
  const env = { PATH: process.env.PATH ?? '/usr/bin:/bin', HOME: home };
  if (socketInfo !== undefined) env.KORVANE_SOCKET_INFO = socketInfo;
  if (sessionId !== undefined) env.KORVANE_SESSION_ID = sessionId;
  return env;
}

// The request head korvane-mcp must send for a body of `body`.
export function expectedHead(port, token, body) {
  return (
    'POST / HTTP/1.1\r\n' +
    `Host: 127.0.0.1:${port}\r\n` +
    `X-Korvane-Token: ${token}\r\n` +
    'Content-Type: application/json\r\n' +
    `Content-Length: ${Buffer.byteLength(body, 'utf8')}\r\n` +
    'Connection: close\r\n\r\n'
  );
}

// A running stand-in desktop app; `records()` reads what it has received so far.
export class StandinApp {
  static async start({ dir, mode = 'normal', token = 'interop-token-0123456789abcdef', socketInfo }) {
    socketInfo ??= path.join(dir, `socket-info-${mode}.json`);
    const recordFile = path.join(dir, `record-${mode}.jsonl`);
    const args = ['--socket-info', socketInfo, '--record', recordFile, '--token', token, '--mode', mode];
    const [program, ...programArgs] = commandFor(standinBinary, args);
    const child = spawn(program, programArgs, { stdio: ['ignore', 'pipe', 'pipe'] });
    let stderr = '';
    child.stderr.setEncoding('utf8').on('data', (chunk) => (stderr += chunk));
    const port = await readReadyLine(child, () => stderr);
    return new StandinApp(child, { socketInfo, recordFile, token, port, mode });
  }

  constructor(child, { socketInfo, recordFile, token, port, mode }) {
    this.child = child;
    this.socketInfo = socketInfo;
    this.recordFile = recordFile;
    this.token = token;
    this.port = port;
    this.mode = mode;
  }

  records() {
    if (!fs.existsSync(this.recordFile)) return [];
    return fs
      .readFileSync(this.recordFile, 'utf8')
      .split('\n')
      .filter((line) => line.length > 0)
      .map((line) => JSON.parse(line));
  }

  async stop() {
    if (this.child.exitCode !== null || this.child.signalCode !== null) return;
    const exited = once(this.child, 'exit');
    this.child.kill('SIGTERM');
    await withTimeout(exited, 5000, 'stand-in app did not exit on SIGTERM');
  }
}

async function readReadyLine(child, stderrSoFar) {
  const lines = createInterface({ input: child.stdout });
  const ready = (async () => {
    for await (const line of lines) {
      const match = /^ready (\d+)$/.exec(line);
      if (match) return Number(match[1]);
    }
    throw new Error(`stand-in app ended before it was ready: ${stderrSoFar()}`);
  })();
  const failed = once(child, 'error').then(([error]) => {
    throw new Error(`cannot start ${standinBinary}: ${error.message}`);
  });
  return withTimeout(Promise.race([ready, failed]), 10000, 'stand-in app printed no ready line');
}

export function withTimeout(promise, ms, what) {
  let timer;
  const expiry = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what} (after ${ms} ms)`)), ms);
  });
  return Promise.race([promise, expiry]).finally(() => clearTimeout(timer));
}

// Records every JSON-RPC message a transport sends and receives, in order.
// Installed before connect(): the client chains the handlers it finds on the transport.
export function tapTransport(transport) {
  const wire = { sent: [], received: [] };
  const send = transport.send.bind(transport);
  transport.send = (message, options) => {
    wire.sent.push(message);
    return send(message, options);
  };
  transport.onmessage = (message) => wire.received.push(message);
  return wire;
}

// The one response on the wire that answers the request with `id`.
export function responseTo(wire, id) {
  const answers = wire.received.filter((m) => m.id === id && ('result' in m || 'error' in m));
  if (answers.length !== 1) throw new Error(`expected one response to id ${id}, saw ${answers.length}`);
  return answers[0];
}

// The id the client used for the last request with `method`.
export function lastRequestId(wire, method) {
  const requests = wire.sent.filter((m) => m.method === method && 'id' in m);
  if (requests.length === 0) throw new Error(`no ${method} request was sent`);
  return requests[requests.length - 1].id;
}

// Whether a JSON value's objects all list their keys in ascending order (as the server writes them).
export function keysSorted(value) {
  if (Array.isArray(value)) return value.every(keysSorted);
  if (value === null || typeof value !== 'object') return true;
  const keys = Object.keys(value);
  const ascending = keys.every((key, i) => i === 0 || Buffer.compare(Buffer.from(keys[i - 1]), Buffer.from(key)) < 0);
  return ascending && keys.every((key) => keysSorted(value[key]));
}
