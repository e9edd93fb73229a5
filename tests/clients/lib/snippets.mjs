// The configuration snippets of docs/clients.md: every fenced block whose info string is
// `<lang> client=<id>` (a command to run) or `<lang> client=<id> file=<where>` (a whole file).
import { execFile } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

export const clientIds = [
  'claude-code', 'codex-cli', 'gemini-cli', 'cursor', 'vscode', 'copilot-cli', 'opencode', 'zed', 'claude-desktop',
];

// The server path the page writes; the suite puts the binary under test in its place.
export const documentedServerPath = '/opt/homebrew/bin/korvane-mcp';

// Parses the page; a tagged block with an unknown client or a file outside ~/ and ./ is an error.
export function readSnippets(markdownPath) {
  const lines = fs.readFileSync(markdownPath, 'utf8').split('\n');
  const snippets = [];
  for (let i = 0; i < lines.length; ++i) {
    const opening = /^(`{3,}|~{3,})\s*(.*)$/.exec(lines[i]);
    if (!opening) continue;
    const fence = opening[1];
    const start = i;
    const body = [];
    for (++i; i < lines.length && !isClosingFence(lines[i], fence); ++i) body.push(lines[i]);
    const snippet = parseInfo(opening[2], `${path.basename(markdownPath)}:${start + 1}`);
    if (snippet) snippets.push({ ...snippet, text: `${body.join('\n')}\n` });
  }
  return snippets;
}

function isClosingFence(line, fence) {
  const match = /^(`{3,}|~{3,})\s*$/.exec(line);
  return match !== null && match[1][0] === fence[0] && match[1].length >= fence.length;
}

function parseInfo(info, where) {
  const lang = /^\S*/.exec(info.trim())[0];
  // Values are bare words or double-quoted (a path with spaces).
  const fields = Object.fromEntries([...info.matchAll(/([\w-]+)=(?:"([^"]*)"|(\S+))/g)].map((m) => [m[1], m[2] ?? m[3]]));
  if (fields.client === undefined) return null;
  if (!clientIds.includes(fields.client)) throw new Error(`${where}: unknown client=${fields.client}`);
  if (fields.file !== undefined && !/^(~|\.)\/./.test(fields.file)) {
    throw new Error(`${where}: file=${fields.file} must start with ~/ or ./`);
  }
  return { lang, client: fields.client, file: fields.file, where };
}

export function describeSnippet(snippet) {
  return snippet.file ? `${snippet.file} (${snippet.where})` : `command (${snippet.where})`;
}

// Carries out one snippet in a scratch set-up: writes its file under `home` or `project`, or runs
// its command with bash in `project`. `env` is the environment the command runs with.
export async function applySnippet(snippet, { home, project, serverBinary, env, timeoutMs }) {
  const text = snippet.text.replaceAll(documentedServerPath, serverBinary);
  if (snippet.file) {
    const target = path.join(snippet.file.startsWith('~/') ? home : project, snippet.file.slice(2));
    fs.mkdirSync(path.dirname(target), { recursive: true });
    fs.writeFileSync(target, text);
    return;
  }
  const result = await runBounded('bash', ['-e', '-c', text], { cwd: project, env, timeoutMs });
  if (result.code !== 0) {
    throw new Error(`${describeSnippet(snippet)} exited ${result.code}:\n${result.stdout}${result.stderr}`);
  }
}

// Runs a program with a time limit; resolves to {code, stdout, stderr} (code is null on a signal).
export function runBounded(program, args, { cwd, env, timeoutMs }) {
  return new Promise((resolve, reject) => {
    execFile(program, args, { cwd, env, timeout: timeoutMs, killSignal: 'SIGKILL', maxBuffer: 16 << 20 }, (error, stdout, stderr) => {
      if (error && error.killed) {
        reject(new Error(`${program} ${args.join(' ')} did not finish within ${timeoutMs / 1000} s:\n${stdout}${stderr}`));
      } else if (error && typeof error.code !== 'number' && error.signal == null) {
        reject(error);
      } else {
        resolve({ code: error ? (error.code ?? null) : 0, stdout, stderr });
      }
    });
  });
}
