// Smoke check with the MCP Inspector's command-line mode, run the way a person would: through npx.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { promisify } from 'node:util';

import { StandinApp, interopDir, loadExpectedTools, makeTempDir, nodeMajor, notRunningText, removeTempDir, serverCommand } from '../lib/harness.mjs';

const run = promisify(execFile);

// Runs `npx --no -- mcp-inspector --cli -e K=V... <server> <args>`; resolves to {code, stdout, stderr}.
// Without `--` npx would take -e and --cli as its own options; without --cli the Inspector starts
// its web UI.
async function inspector(env, args) {
  const envArgs = Object.entries(env).flatMap(([key, value]) => ['-e', `${key}=${value}`]);
  const argv = ['--no', '--', 'mcp-inspector', '--cli', ...envArgs, ...serverCommand, ...args];
  try {
    const { stdout, stderr } = await run('npx', argv, { cwd: interopDir, timeout: 60000 });
    return { code: 0, stdout, stderr };
  } catch (error) {
    if (typeof error.code !== 'number') throw error;
    return { code: error.code, stdout: error.stdout, stderr: error.stderr };
  }
}

const clickArgs = ['--method', 'tools/call', '--tool-name', 'click', '--tool-arg', 'x=10', '--tool-arg', 'y=20'];

if (nodeMajor() < 20) {
  console.log(`SKIP @modelcontextprotocol/inspector: it needs Node 20 or newer, this is Node ${process.versions.node}`);
  it.skip('inspector (needs Node 20+)');
} else {
  describe('inspector 2.12.0 --cli', () => {
    let dir;
    let app;

    before(async () => {
      dir = makeTempDir('inspector');
      app = await StandinApp.start({ dir });
    });

    after(async () => {
      await app?.stop();
      if (dir) removeTempDir(dir);
    });

    it('--method tools/list prints the 22 tools and exits 0', async () => {
      const { code, stdout, stderr } = await inspector({ KORVANE_SOCKET_INFO: app.socketInfo }, ['--method', 'tools/list']);
      assert.equal(code, 0, stderr);
      const listed = JSON.parse(stdout);
      assert.deepEqual(
        listed.tools.map((tool) => tool.name),
        loadExpectedTools().map((tool) => tool.name),
      );
    });

    it('--method tools/call click x=10 y=20 reaches the app with integer coordinates', async () => {
      const seen = app.records().length;
      const { code, stdout, stderr } = await inspector({ KORVANE_SOCKET_INFO: app.socketInfo, KORVANE_SESSION_ID: 's1' }, clickArgs);
      assert.equal(code, 0, stderr);
      const result = JSON.parse(stdout);
      assert.equal(result.content.length, 1);
      assert.equal(result.content[0].type, 'text');
      JSON.parse(result.content[0].text);
      assert.deepEqual(
        app.records().slice(seen).map((r) => r.body),
        [String.raw`{"method":"click","params":{"x":10,"y":20}}`],
      );
    });

    it('a failing call exits 1 and prints the server error text', async () => {
      const env = { KORVANE_SOCKET_INFO: path.join(dir, 'absent.json') };
      const { code, stdout, stderr } = await inspector(env, clickArgs);
      assert.equal(code, 1);
      assert.equal(stdout, '');
      assert.equal(JSON.parse(stderr).error.message, notRunningText);
    });
  });
}
