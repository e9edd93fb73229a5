// The agent CLIs users run, configured exactly as docs/clients.md shows, start korvane-mcp and
// hand it the caller's session. Each run happens in a scratch home and project folder.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { after, describe, it } from 'node:test';
import { fileURLToPath } from 'node:url';

import { clientEnv, conversation, makeScratch, readTrace, removeScratch, serverBinary, startStandin } from '../lib/scratch.mjs';
import { applySnippet, describeSnippet, readSnippets, runBounded } from '../lib/snippets.mjs';

const clientsDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const docPath = process.env.KORVANE_CLIENTS_DOC ?? path.resolve(clientsDir, '../../docs/clients.md');
const binDir = path.join(clientsDir, 'node_modules', '.bin');
const timeoutMs = 90000;
const snippets = readSnippets(docPath);

function installedVersion(pkg) {
  return JSON.parse(fs.readFileSync(path.join(clientsDir, 'node_modules', pkg, 'package.json'), 'utf8')).version;
}

function stripAnsi(text) {
  return text.replace(/\x1b\[[0-9;]*[A-Za-z]/g, '');
}

function updateJson(file, update) {
  const value = fs.existsSync(file) ? JSON.parse(fs.readFileSync(file, 'utf8')) : {};
  update(value);
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, JSON.stringify(value, null, 2));
}

// Clients whose `mcp list` starts the server and performs the handshake. `trust` is the set-up a
// user does once interactively (answering the client's trust prompt), not configuration.
const connectingClients = [
  {
    id: 'claude-code',
    pkg: '@anthropic-ai/claude-code',
    bin: 'claude',
    trust({ home, project }) {
      updateJson(path.join(home, '.claude.json'), (config) => {
        config.projects ??= {};
        config.projects[project] = { ...config.projects[project], hasTrustDialogAccepted: true, enabledMcpjsonServers: ['korvane'] };
      });
    },
    connected: /^korvane: .+ - ✔ Connected$/m,
  },
  {
    id: 'gemini-cli',
    pkg: '@google/gemini-cli',
    bin: 'gemini',
    trust({ home, project }) {
      updateJson(path.join(home, '.gemini', 'trustedFolders.json'), (folders) => {
        folders[project] = 'TRUST_FOLDER';
      });
    },
    connected: /^✓ korvane: .+ \(stdio\) - Connected$/m,
  },
  {
    id: 'opencode',
    pkg: 'opencode-ai',
    bin: 'opencode',
    trust() {},
    connected: /✓ korvane\s+connected/,
  },
];

// Values in the environment while the configuration is written: a snippet that froze them into
// the configuration would hand every later run this session.
const configuringEnv = { KORVANE_SESSION_ID: 'session-while-configuring', KORVANE_SOCKET_INFO: '/nonexistent/while-configuring.json' };

const scenarios = [
  {
    name: 'in a session: its id and socket-info path arrive',
    sessionId: `session-${randomBytes(6).toString('hex')}`,
    socketInfo: (scratch) => path.join(scratch.root, 'app', 'socket-info.json'),
    passSocketInfo: true,
  },
  {
    name: 'outside a session: no id arrives, the default socket-info location is used',
    sessionId: null,
    socketInfo: (scratch) => path.join(scratch.home, '.config', 'korvane', 'socket-info.json'),
    passSocketInfo: false,
  },
];

const measured = [];
after(() => {
  console.log('What each client sent, from the server trace:');
  for (const line of measured) console.log(`  ${line}`);
});

async function listWith(client, snippet, scenario) {
  const scratch = makeScratch(client.id);
  try {
    await applySnippet(snippet, { ...scratch, serverBinary, env: clientEnv(scratch, binDir, configuringEnv), timeoutMs });
    client.trust(scratch);
    const socketInfo = scenario.socketInfo(scratch);
    const env = clientEnv(scratch, binDir, {
      KORVANE_MCP_TRACE: scratch.trace,
      KORVANE_SESSION_ID: scenario.sessionId ?? undefined,
      KORVANE_SOCKET_INFO: scenario.passSocketInfo ? socketInfo : undefined,
    });
    const app = await startStandin(socketInfo);
    let result;
    try {
      result = await runBounded(path.join(binDir, client.bin), ['mcp', 'list'], { cwd: scratch.project, env, timeoutMs });
    } finally {
      await app.stop();
    }
    return { result, socketInfo, records: readTrace(scratch.trace) };
  } finally {
    removeScratch(scratch);
  }
}

for (const client of connectingClients) {
  const version = installedVersion(client.pkg);
  const ways = snippets.filter((s) => s.client === client.id);
  describe(`${client.id} ${version}: mcp list`, () => {
    it('docs/clients.md shows how to configure it', () => assert.notEqual(ways.length, 0));
    for (const snippet of ways) {
      for (const scenario of scenarios) {
        it(`${describeSnippet(snippet)}, ${scenario.name}`, async () => {
          const { result, socketInfo, records } = await listWith(client, snippet, scenario);
          const output = stripAnsi(result.stdout + result.stderr);
          assert.equal(result.code, 0, output);
          assert.match(output, client.connected);
          const starts = records.filter((r) => r.event === 'start');
          assert.notEqual(starts.length, 0, `no trace: ${client.id} did not pass its environment (KORVANE_MCP_TRACE) to the server`);
          for (const start of starts) {
            assert.deepEqual(
              { session_id: start.session_id, socket_info: start.socket_info },
              { session_id: scenario.sessionId, socket_info: socketInfo },
            );
          }
          if (scenario === scenarios[0]) {
            const { protocolVersion, clientInfo, steps } = conversation(records);
            measured.push(
              `${client.id} ${version} (clientInfo ${clientInfo?.name} ${clientInfo?.version}), ${describeSnippet(snippet)}: ` +
                `offers protocol ${protocolVersion}; sends ${steps.join(' -> ')}`,
            );
          }
        });
      }
    }
  });
}

// Clients whose `mcp get` only reads the configuration: it must name the binary, no arguments,
// and pass the variables through from the caller's environment, never with fixed values.
const refersToItself = (name, value) => value === `$${name}` || value === `\${${name}}` || value.startsWith(`\${${name}:-`);

const readingClients = [
  {
    id: 'codex-cli',
    pkg: '@openai/codex',
    bin: 'codex',
    args: ['mcp', 'get', 'korvane', '--json'],
    // Codex starts a server with a short list of variables plus those in env_vars (passed when
    // set); env holds fixed values. Both variables must be listed.
    facts: ({ transport }) => {
      const passed = transport.env_vars ?? [];
      return {
        command: transport.command,
        args: transport.args ?? [],
        missing: ['KORVANE_SESSION_ID', 'KORVANE_SOCKET_INFO'].filter((name) => !passed.includes(name)),
        fixed: Object.keys(transport.env ?? {}).filter((name) => name.startsWith('KORVANE_')),
      };
    },
  },
  {
    id: 'copilot-cli',
    pkg: '@github/copilot',
    bin: 'copilot',
    args: ['mcp', 'get', 'korvane', '--json', '--show-secrets'],
    // Copilot expands ${VAR} in env values. Whether it passes the rest of its environment (and so
    // KORVANE_SOCKET_INFO) cannot be seen without an account, so only the session id is required.
    facts: ({ korvane }) => {
      const env = korvane.env ?? {};
      return {
        command: korvane.command,
        args: korvane.args ?? [],
        missing: ['KORVANE_SESSION_ID'].filter((name) => env[name] === undefined),
        fixed: Object.entries(env).filter(([name, value]) => name.startsWith('KORVANE_') && !refersToItself(name, value)).map(([name]) => name),
      };
    },
  },
];

for (const client of readingClients) {
  const version = installedVersion(client.pkg);
  const ways = snippets.filter((s) => s.client === client.id);
  describe(`${client.id} ${version}: ${client.args.slice(0, 3).join(' ')}`, () => {
    it('docs/clients.md shows how to configure it', () => assert.notEqual(ways.length, 0));
    for (const snippet of ways) {
      it(`${describeSnippet(snippet)} is read as documented`, async () => {
        const scratch = makeScratch(client.id);
        try {
          const env = clientEnv(scratch, binDir, configuringEnv);
          await applySnippet(snippet, { ...scratch, serverBinary, env, timeoutMs });
          const result = await runBounded(path.join(binDir, client.bin), client.args, { cwd: scratch.project, env, timeoutMs });
          assert.equal(result.code, 0, result.stdout + result.stderr);
          assert.deepEqual(client.facts(JSON.parse(result.stdout)), { command: serverBinary, args: [], missing: [], fixed: [] });
        } finally {
          removeScratch(scratch);
        }
      });
    }
  });
}

it('every JSON snippet in docs/clients.md parses', () => {
  for (const snippet of snippets.filter((s) => s.lang === 'json')) {
    assert.doesNotThrow(() => JSON.parse(snippet.text), `${snippet.where}`);
  }
});
