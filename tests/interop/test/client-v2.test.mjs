// korvane-mcp driven by the split client package (@modelcontextprotocol/client 2.x, Node 20+).
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';

import { defineClientSuite, connectClient } from '../lib/client-suite.mjs';
import { StandinApp, makeTempDir, nodeMajor, removeTempDir, requestTimeoutMs, serverEnv, serverVersion } from '../lib/harness.mjs';

if (nodeMajor() < 20) {
  console.log(`SKIP @modelcontextprotocol/client 2.x: it needs Node 20 or newer, this is Node ${process.versions.node}`);
  it.skip('@modelcontextprotocol/client 2.x (needs Node 20+)');
} else {
  const { Client } = await import('@modelcontextprotocol/client');
  const { StdioClientTransport } = await import('@modelcontextprotocol/client/stdio');
  const sdk = {
    label: 'client-2.x',
    Client,
    StdioClientTransport,
    clientOptions: { capabilities: {} },
    timeoutCode: 'REQUEST_TIMEOUT',
    callTool: (client, params, options) => client.callTool(params, options),
    negotiatedVersion: (client) => client.getNegotiatedProtocolVersion(),
  };
  defineClientSuite(sdk);

  // In 'auto' mode the client first probes with server/discover on a throw-away second server
  // process; korvane-mcp rejects the method, and the client falls back to initialize.
  describe('client-2.x: automatic version negotiation', () => {
    let dir;
    let app;
    let session;

    before(async () => {
      dir = makeTempDir('client-2.x-auto');
      app = await StandinApp.start({ dir });
      const env = serverEnv({ socketInfo: app.socketInfo, sessionId: 's1', home: dir });
      session = await connectClient(sdk, env, { capabilities: {}, versionNegotiation: { mode: 'auto' } });
    });

    after(async () => {
      if (session?.child?.exitCode === null) await session.client.close();
      await app?.stop();
      if (dir) removeTempDir(dir);
    });

    it('falls back to the 2024-11-05 handshake and then calls tools', async () => {
      assert.equal(session.client.getNegotiatedProtocolVersion(), '2024-11-05');
      assert.deepEqual(session.client.getServerVersion(), { name: 'korvane', version: serverVersion });
      const result = await session.client.callTool(
        { name: 'click', arguments: { x: 10, y: 20 } },
        { timeout: requestTimeoutMs },
      );
      assert.equal(result.content[0].type, 'text');
      assert.deepEqual(app.records().map((r) => r.body), [String.raw`{"method":"click","params":{"x":10,"y":20}}`]);
      assert.deepEqual(session.errors.map(String), []);
      assert.equal(session.stderr, '');
    });
  });
}
