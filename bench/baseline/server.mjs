// Reference MCP server on the official TypeScript SDK: the same 22 tools as korvane-mcp, each call
// relayed to the desktop app as one HTTP/1.1 POST on 127.0.0.1. Only used as a benchmark baseline.
import { readFile } from "node:fs/promises";
import { readFileSync } from "node:fs";
import { connect } from "node:net";
import { homedir } from "node:os";
import { join } from "node:path";
import { Server } from "@modelcontextprotocol/sdk/server/index.js";
import { StdioServerTransport } from "@modelcontextprotocol/sdk/server/stdio.js";
import { CallToolRequestSchema, ListToolsRequestSchema } from "@modelcontextprotocol/sdk/types.js";

const tools = JSON.parse(readFileSync(new URL("./tools.json", import.meta.url), "utf8"));

const sessionForward = new Set(["sessions_list", "session_read", "session_send", "session_kill", "session_wait", "session_spawn"]);
const methodOnly = new Set(["screenshot", "screen_ocr", "list_learned"]);
const plainForward = new Set(["screen_find_text", "screen_find_learned", "screen_learn", "click", "double_click",
  "move_mouse", "drag", "type_text", "key_combo", "scroll"]);

class ToolError extends Error {
  constructor(message) {
    super(message);
    this.code = -32000;
  }
}

function socketInfoPath() {
  if (process.env.KORVANE_SOCKET_INFO !== undefined) return process.env.KORVANE_SOCKET_INFO;
  return join(process.env.HOME ?? homedir(), ".config", "korvane", "socket-info.json");
}

async function readSocketInfo() {
  try {
    const info = JSON.parse(await readFile(socketInfoPath(), "utf8"));
    if (Number.isInteger(info.port) && typeof info.token === "string") return info;
  } catch {
    // a missing or unreadable file means the app is not running
  }
  throw new ToolError("korvane GUI is not running (no socket-info.json found)");
}

function callerSession() {
  const id = process.env.KORVANE_SESSION_ID;
  return id !== undefined && id.trim() !== "" ? id : null;
}

function given(args, name) {
  return args !== null && typeof args === "object" && !Array.isArray(args) && typeof args[name] === "string"
    ? args[name] : undefined;
}

function required(args, name) {
  const value = given(args, name);
  if (value === undefined) throw new ToolError(`missing ${name}`);
  return value;
}

// The app request body for one tool call.
function appBody(name, args) {
  if (methodOnly.has(name)) return { method: name };
  if (plainForward.has(name)) return { method: name, params: args };
  if (sessionForward.has(name)) {
    const params = args !== null && typeof args === "object" && !Array.isArray(args) ? { ...args } : {};
    return { method: name, params: { ...params, session_id: callerSession() } };
  }
  if (name === "open_markdown") return { method: name, params: { path: required(args, "path"), session_id: callerSession() } };
  if (name === "open_dev_preview") {
    const url = required(args, "url");
    return { method: name, params: { layout: given(args, "layout") ?? null, session_id: callerSession(), url } };
  }
  if (name === "notify") return { method: name, params: { title: required(args, "title"), body: required(args, "body") } };
  throw new ToolError(`unknown tool: ${name}`);
}

// One exchange: connect, write head and body, read until the app closes, parse what follows the head.
function postToApp({ port, token }, body) {
  return new Promise((resolve, reject) => {
    const payload = Buffer.from(JSON.stringify(body), "utf8");
    const chunks = [];
    const socket = connect({ host: "127.0.0.1", port });
    socket.on("connect", () => {
      socket.write(`POST / HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\nX-Korvane-Token: ${token}\r\n` +
        `Content-Type: application/json\r\nContent-Length: ${payload.length}\r\nConnection: close\r\n\r\n`);
      socket.write(payload);
    });
    socket.on("data", (chunk) => chunks.push(chunk));
    socket.on("error", (error) => reject(new ToolError(`connect: ${error.message}`)));
    socket.on("end", () => {
      const reply = Buffer.concat(chunks);
      const split = reply.indexOf("\r\n\r\n");
      const text = split < 0 ? "" : reply.subarray(split + 4).toString("utf8");
      try {
        resolve(JSON.parse(text));
      } catch (error) {
        reject(new ToolError(`parse: ${error.message} -- raw=${JSON.stringify(text)}`));
      }
    });
  });
}

const server = new Server({ name: "korvane", version: "0.29.0" }, { capabilities: { tools: {} } });
server.setRequestHandler(ListToolsRequestSchema, async () => ({ tools }));
server.setRequestHandler(CallToolRequestSchema, async (request) => {
  const info = await readSocketInfo();
  const { name, arguments: args = {} } = request.params;
  const reply = await postToApp(info, appBody(name, args));
  return { content: [{ type: "text", text: JSON.stringify(reply) }] };
});
await server.connect(new StdioServerTransport());
