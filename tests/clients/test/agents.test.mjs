// The agent CLIs users run, configured exactly as the pages (README.md, docs/*.md) and
// `korvane-mcp --print-config` show, start korvane-mcp and hand it the caller's session; every
// command the pages give to configure or check a client is run as written, with only the
// server's path put in. Each run happens in a scratch home and project folder.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { after, describe, it } from 'node:test';
import { fileURLToPath } from 'node:url';

import { clientEnv, conversation, makeScratch, readTrace, removeScratch, serverBinary, startStandin } from '../lib/scratch.mjs';
import {
  applySnippet, clientIds, describeSnippet, kindOfCommand, pagePaths, readSnippets, runBounded, untaggedCommands,
} from '../lib/snippets.mjs';

const clientsDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const pages = process.env.KORVANE_CLIENTS_DOC ? [process.env.KORVANE_CLIENTS_DOC] : pagePaths(path.resolve(clientsDir, '../..'));
const binDir = path.join(clientsDir, 'node_modules', '.bin');
const timeoutMs = 90000;
const pageSnippets = pages.flatMap(readSnippets);
const untagged = pages.flatMap(untaggedCommands);

// What `korvane-mcp --print-config` prints for a client, as more snippets: the entry (into the
// file the pages name for it) and the add command where there is one.
function printedSnippets(client) {
  const file = pageSnippets.find((s) => s.client === client && s.file)?.file;
  const print = (...args) => execFileSync(serverBinary, ['--print-config', client, ...args], { encoding: 'utf8' });
  const printed = [{ lang: 'printed', client, file, check: false, where: `--print-config ${client}`, text: print() }];
  try {
    printed.push({ lang: 'sh', client, check: false, where: `--print-config ${client} --add-command`, text: print('--add-command') });
  } catch (error) {
    if (error.status !== 2) throw error;  // a client without an add command
  }
  return printed;
}

const snippets = [...pageSnippets, ...clientIds.flatMap(printedSnippets)];
const configuring = (client) => snippets.filter((s) => s.client === client && !s.check);
const checks = (client) => pageSnippets.filter((s) => s.client === client && s.check);

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

// Configures the client with `snippet`, then runs `command` (a command line, run with bash as a
// user's shell would) with the stand-in app running.
async function checkWith(client, snippet, command, scenario) {
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
      result = await runBounded('bash', ['-e', '-c', command], { cwd: scratch.project, env, timeoutMs });
    } finally {
      await app.stop();
    }
    return { result, socketInfo, records: readTrace(scratch.trace) };
  } finally {
    removeScratch(scratch);
  }
}

// The page's listings of this client (`claude mcp list` in the text) that are no tagged block.
const listings = (client) => untagged.filter((c) => kindOfCommand(c.text).client === client && kindOfCommand(c.text).kind === 'lists');

for (const client of connectingClients) {
  const version = installedVersion(client.pkg);
  const ways = configuring(client.id);
  const [check] = checks(client.id);
  describe(`${client.id} ${version}: the pages' commands`, () => {
    it('the pages show how to configure it and how to check it', () => {
      assert.notEqual(ways.length, 0);
      assert.notEqual(check, undefined);
    });
    for (const snippet of ways) {
      for (const scenario of scenarios) {
        it(`${describeSnippet(snippet)}, ${scenario.name}`, async () => {
          const { result, socketInfo, records } = await checkWith(client, snippet, check.text, scenario);
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
    for (const listing of listings(client.id)) {
      it(`${listing.text} (${listing.where}) reports the server connected`, async () => {
        const { result } = await checkWith(client, ways[0], listing.text, scenarios[0]);
        const output = stripAnsi(result.stdout + result.stderr);
        assert.equal(result.code, 0, output);
        assert.match(output, client.connected);
      });
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
  const ways = configuring(client.id);
  describe(`${client.id} ${version}: ${client.args.slice(0, 3).join(' ')}`, () => {
    it('the pages show how to configure it and how to check it', () => {
      assert.notEqual(ways.length, 0);
      assert.notEqual(checks(client.id).length, 0);
    });
    for (const snippet of ways) {
      it(`${describeSnippet(snippet)} is read as documented`, async () => {
        const scratch = makeScratch(client.id);
        try {
          const env = clientEnv(scratch, binDir, configuringEnv);
          await applySnippet(snippet, { ...scratch, serverBinary, env, timeoutMs });
          const result = await runBounded(path.join(binDir, client.bin), client.args, { cwd: scratch.project, env, timeoutMs });
          assert.equal(result.code, 0, result.stdout + result.stderr);
          assert.deepEqual(client.facts(JSON.parse(result.stdout)), { command: serverBinary, args: [], missing: [], fixed: [] });
          // The pages' own ways of looking at the entry show it.
          for (const command of [...checks(client.id).map((c) => c.text), ...listings(client.id).map((c) => c.text)]) {
            const shown = await runBounded('bash', ['-e', '-c', command], { cwd: scratch.project, env, timeoutMs });
            assert.equal(shown.code, 0, `${command}: ${shown.stdout}${shown.stderr}`);
            assert.match(shown.stdout, /korvane/, command);
          }
        } finally {
          removeScratch(scratch);
        }
      });
    }
  });
}

it('every command line on the pages that configures a client is a tagged block, run above', () => {
  const loose = untagged.filter((c) => kindOfCommand(c.text).kind === 'configures');
  assert.deepEqual(loose.map((c) => `${c.where}: ${c.text}`), []);
});

it('every `korvane-mcp --print-config` the pages name works', () => {
  let named = 0;
  for (const page of pages) {
    for (const [, args] of fs.readFileSync(page, 'utf8').matchAll(/`korvane-mcp (--print-config(?: [a-z-]+)*)`/g)) {
      if (/[A-Z]/.test(args) || args.includes('CLIENT')) continue;
      execFileSync(serverBinary, args.split(' '), { stdio: ['ignore', 'ignore', 'pipe'] });  // throws on a non-zero status
      named += 1;
    }
  }
  assert.notEqual(named, 0);
});

it('every JSON snippet on the pages parses', () => {
  for (const snippet of snippets.filter((s) => s.lang === 'json')) {
    assert.doesNotThrow(() => JSON.parse(snippet.text), `${snippet.where}`);
  }
});
