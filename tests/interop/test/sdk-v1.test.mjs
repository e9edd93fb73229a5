// korvane-mcp driven by the classic TypeScript SDK client line (@modelcontextprotocol/sdk 1.x).
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { CallToolResultSchema } from '@modelcontextprotocol/sdk/types.js';

import { defineClientSuite } from '../lib/client-suite.mjs';

defineClientSuite({
  label: 'sdk-1.x',
  Client,
  StdioClientTransport,
  clientOptions: { capabilities: {} },
  timeoutCode: -32001,
  callTool: (client, params, options) => client.callTool(params, CallToolResultSchema, options),
});
