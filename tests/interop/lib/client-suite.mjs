// The behaviour every MCP client must see from korvane-mcp, run once per client library.
// `sdk` adapts one library: { label, Client, StdioClientTransport, callTool(client, params, options),
// clientOptions, timeoutCode (the `code` of the client's own timeout error),
// negotiatedVersion(client) (absent when the library does not expose it) }.
import assert from 'node:assert/strict';
import { once } from 'node:events';
import fs from 'node:fs';
import path from 'node:path';
import { performance } from 'node:perf_hooks';
import { after, before, describe, it } from 'node:test';

import {
  StandinApp,
  expectedHead,
  keysSorted,
  lastRequestId,
  loadExpectedTools,
  makeTempDir,
  notRunningText,
  refusedText,
  removeTempDir,
  requestTimeoutMs,
  responseTo,
  serverCommand,
  serverEnv,
  serverVersion,
  tapTransport,
} from './harness.mjs';
import { callerSession, routingErrors, toolCalls } from './tool-calls.mjs';

const initializeResult = {
  capabilities: { tools: {} },
  protocolVersion: '2024-11-05',
  serverInfo: { name: 'korvane', version: serverVersion },
};

// A client connected to a fresh korvane-mcp child, with its wire, errors and stderr captured.
export async function connectClient(sdk, env, clientOptions = sdk.clientOptions) {
  const transport = new sdk.StdioClientTransport({
    command: serverCommand[0],
    args: serverCommand.slice(1),
    env,
    stderr: 'pipe',
  });
  const session = { transport, errors: [], stderr: '' };
  transport.stderr.on('data', (chunk) => (session.stderr += chunk.toString('utf8')));
  session.wire = tapTransport(transport);
  const client = new sdk.Client({ name: `korvane-interop-${sdk.label}`, version: '1.0.0' }, clientOptions);
  client.onerror = (error) => session.errors.push(error);
  session.client = client;
  await client.connect(transport, { timeout: requestTimeoutMs });
  session.child = transport._process;
  return session;
}

const call = (sdk, session, params, options = {}) =>
  sdk.callTool(session.client, params, { timeout: requestTimeoutMs, ...options });

// Asserts that a tools/call fails with the JSON-RPC error {code:-32000, message}.
async function expectToolError(sdk, session, params, message) {
  await assert.rejects(call(sdk, session, params), (error) => {
    assert.equal(error.code, -32000, `client error code for ${params.name}: ${error.message}`);
    assert.ok(error.message.endsWith(message), `client error text: ${error.message}`);
    return true;
  });
  const answer = responseTo(session.wire, lastRequestId(session.wire, 'tools/call'));
  assert.deepEqual(answer.error, { code: -32000, message });
  assert.equal('result' in answer, false);
}

function assertQuiet(session) {
  assert.deepEqual(session.errors.map(String), [], 'client onerror reports');
  assert.equal(session.stderr, '', 'korvane-mcp wrote to stderr');
}

// Closes the client and reports how long the child took to exit after its stdin closed.
async function closeAndWatchExit(session, t) {
  const exited = once(session.child, 'exit').then(([code, signal]) => ({ code, signal, at: performance.now() }));
  const closedAt = performance.now();
  await session.client.close();
  const { code, signal, at } = await exited;
  t.diagnostic(`korvane-mcp exited ${(at - closedAt).toFixed(1)} ms after stdin closed`);
  return { code, signal };
}

function assertCatalogue(tools) {
  const expected = loadExpectedTools();
  assert.deepEqual(
    tools.map((tool) => tool.name),
    expected.map((tool) => tool.name),
  );
  expected.forEach((want, i) => {
    const got = tools[i];
    assert.deepEqual(got.inputSchema, want.inputSchema, `inputSchema of ${want.name}`);
    if (want.description !== undefined) assert.equal(got.description, want.description, `description of ${want.name}`);
    else assert.match(got.description, new RegExp(want.descriptionPattern), `description of ${want.name}`);
  });
}

export function defineClientSuite(sdk) {
  describe(`${sdk.label}: with the stand-in app running`, () => {
    let dir;
    let app;
    let session;

    before(async () => {
      dir = makeTempDir(sdk.label);
      app = await StandinApp.start({ dir });
      const env = serverEnv({ socketInfo: app.socketInfo, sessionId: callerSession, home: dir });
      session = await connectClient(sdk, env);
    });

    after(async () => {
      if (session?.child?.exitCode === null) await session.client.close();
      await app?.stop();
      if (dir) removeTempDir(dir);
    });

    it('connects; the server answers protocol version 2024-11-05', () => {
      const init = responseTo(session.wire, lastRequestId(session.wire, 'initialize'));
      assert.deepEqual(init.result, initializeResult);
      assert.ok(session.wire.sent.some((m) => m.method === 'notifications/initialized' && !('id' in m)));
      assert.deepEqual(session.client.getServerVersion(), initializeResult.serverInfo);
      assert.deepEqual(session.client.getServerCapabilities(), { tools: {} });
      const negotiated = sdk.negotiatedVersion?.(session.client);
      if (negotiated !== undefined) assert.equal(negotiated, '2024-11-05');
      assertQuiet(session);
    });

    it('lists exactly the 22 catalogue tools, in order, with their input schemas', async () => {
      const listed = await session.client.listTools(undefined, { timeout: requestTimeoutMs });
      assertCatalogue(listed.tools);
      const answer = responseTo(session.wire, lastRequestId(session.wire, 'tools/list'));
      assert.deepEqual(Object.keys(answer.result), ['tools']);
      answer.result.tools.forEach((tool) => assert.deepEqual(Object.keys(tool), ['description', 'inputSchema', 'name']));
      assertCatalogue(answer.result.tools);
      assertQuiet(session);
    });

    describe('every tool reaches the app with its exact request body', () => {
      for (const toolCall of toolCalls) {
        it(toolCall.name, async () => {
          const seen = app.records().length;
          const result = await call(sdk, session, { name: toolCall.name, arguments: toolCall.arguments });
          assert.equal(result.content.length, 1);
          assert.equal(result.content[0].type, 'text');
          const text = result.content[0].text;
          assert.equal(typeof text, 'string');
          const reply = JSON.parse(text);
          assert.equal(text, JSON.stringify(reply), 'the text is compact JSON');
          assert.ok(keysSorted(reply), `the text has sorted keys: ${text}`);
          const answer = responseTo(session.wire, lastRequestId(session.wire, 'tools/call'));
          assert.deepEqual(answer.result, { content: [{ text, type: 'text' }] });

          const records = app.records().slice(seen);
          assert.equal(records.length, 1, 'one request reached the app');
          assert.equal(records[0].body, toolCall.body);
          assert.equal(records[0].head, expectedHead(app.port, app.token, toolCall.body));
          assertQuiet(session);
        });
      }
    });

    it('covers all 22 tools of the catalogue', () => {
      const called = new Set(toolCalls.map((toolCall) => toolCall.name));
      assert.deepEqual(
        loadExpectedTools().filter((tool) => !called.has(tool.name)).map((tool) => tool.name),
        [],
      );
    });

    describe('routing errors reach the client as JSON-RPC errors -32000', () => {
      for (const failure of routingErrors) {
        it(`${JSON.stringify(failure.name)} ${JSON.stringify(failure.arguments)} -> ${failure.message}`, async () => {
          const seen = app.records().length;
          await expectToolError(sdk, session, { name: failure.name, arguments: failure.arguments }, failure.message);
          assert.equal(app.records().length, seen, 'nothing reached the app');
          assertQuiet(session);
        });
      }
    });

    it('a call that outlives the client timeout is cancelled; later requests are answered in order', async () => {
      const received = session.wire.received.length;
      const seen = app.records().length;
      const waitArgs = { id: 'busy', timeout_secs: 1 };
      await assert.rejects(call(sdk, session, { name: 'session_wait', arguments: waitArgs }, { timeout: 200 }), (error) => {
        assert.equal(error.code, sdk.timeoutCode, `timeout error: ${error.message}`);
        return true;
      });
      const waitId = lastRequestId(session.wire, 'tools/call');
      const cancelled = session.wire.sent.at(-1);
      assert.equal(cancelled.method, 'notifications/cancelled');
      assert.equal('id' in cancelled, false);
      assert.equal(cancelled.params.requestId, waitId);

      const listing = session.client.listTools(undefined, { timeout: requestTimeoutMs });
      const click = call(sdk, session, { name: 'click', arguments: { x: 1, y: 2 } });
      const [listed, clicked] = await Promise.all([listing, click]);
      assert.equal(listed.tools.length, 22);
      assert.equal(clicked.content[0].type, 'text');

      const listId = lastRequestId(session.wire, 'tools/list');
      const clickId = lastRequestId(session.wire, 'tools/call');
      const answers = session.wire.received.slice(received);
      assert.deepEqual(
        answers.map((m) => m.id),
        [waitId, listId, clickId],
        'one answer per request, none for the notification, in request order',
      );
      assert.match(answers[0].result.content[0].text, /"timedOut":true/);

      const lateAnswers = session.errors.filter((e) => /unknown message ID/.test(e.message));
      assert.equal(lateAnswers.length, 1, 'the late answer is reported once');
      assert.match(lateAnswers[0].message, new RegExp(`"id":${waitId}[,}]`));
      session.errors = session.errors.filter((e) => !lateAnswers.includes(e));

      const bodies = app.records().slice(seen).map((r) => r.body);
      assert.deepEqual(bodies, [
        String.raw`{"method":"session_wait","params":{"id":"busy","session_id":"s1","timeout_secs":1}}`,
        String.raw`{"method":"click","params":{"x":1,"y":2}}`,
      ]);
      assertQuiet(session);
    });

    it('close() ends korvane-mcp through end of input, without a signal', async (t) => {
      const { code, signal } = await closeAndWatchExit(session, t);
      assert.equal(signal, null, 'the transport had to signal the server');
      assert.equal(code, 0);
      assertQuiet(session);
    });
  });

  describe(`${sdk.label}: with the app not running`, () => {
    let dir;
    let session;

    before(async () => {
      dir = makeTempDir(`${sdk.label}-absent`);
      const env = serverEnv({ socketInfo: path.join(dir, 'absent', 'socket-info.json'), sessionId: 's1', home: dir });
      session = await connectClient(sdk, env);
    });

    after(async () => {
      if (session?.child?.exitCode === null) await session.client.close();
      if (dir) removeTempDir(dir);
    });

    it('still connects and lists the catalogue', async () => {
      const listed = await session.client.listTools(undefined, { timeout: requestTimeoutMs });
      assertCatalogue(listed.tools);
      assertQuiet(session);
    });

    for (const params of [
      { name: 'click', arguments: { x: 10, y: 20 } },
      { name: 'no_such_tool', arguments: {} },
      { name: 'open_markdown', arguments: {} },
    ]) {
      it(`${params.name} -> ${notRunningText}`, async () => {
        await expectToolError(sdk, session, params, notRunningText);
        assertQuiet(session);
      });
    }
  });

  describe(`${sdk.label}: with the app published but not listening`, () => {
    let dir;
    let app;
    let session;

    before(async () => {
      dir = makeTempDir(`${sdk.label}-refuse`);
      app = await StandinApp.start({ dir, mode: 'refuse' });
      session = await connectClient(sdk, serverEnv({ socketInfo: app.socketInfo, sessionId: 's1', home: dir }));
    });

    after(async () => {
      if (session?.child?.exitCode === null) await session.client.close();
      await app?.stop();
      if (dir) removeTempDir(dir);
    });

    it(`click -> ${refusedText}`, async () => {
      await expectToolError(sdk, session, { name: 'click', arguments: { x: 10, y: 20 } }, refusedText);
      assertQuiet(session);
    });
  });

  describe(`${sdk.label}: socket info at the default location, no caller session`, () => {
    let dir;
    let app;
    let session;

    before(async () => {
      dir = makeTempDir(`${sdk.label}-home`);
      const home = path.join(dir, 'home');
      const configDir = path.join(home, '.config', 'korvane');
      fs.mkdirSync(configDir, { recursive: true });
      app = await StandinApp.start({ dir, token: 'home-token', socketInfo: path.join(configDir, 'socket-info.json') });
      session = await connectClient(sdk, serverEnv({ home }));
    });

    after(async () => {
      if (session?.child?.exitCode === null) await session.client.close();
      await app?.stop();
      if (dir) removeTempDir(dir);
    });

    it('reads $HOME/.config/korvane/socket-info.json and sends session_id null', async () => {
      const seen = app.records().length;
      const result = await call(sdk, session, { name: 'sessions_list' });
      assert.equal(result.content[0].type, 'text');
      const records = app.records().slice(seen);
      const body = String.raw`{"method":"sessions_list","params":{"session_id":null}}`;
      assert.equal(records.length, 1);
      assert.equal(records[0].body, body);
      assert.equal(records[0].head, expectedHead(app.port, app.token, body));
      assertQuiet(session);
    });
  });
}
