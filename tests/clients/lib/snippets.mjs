// The client commands and entries of the pages (README.md and docs/*.md): every fenced block
// whose info string is `<lang> client=<id>` (a command that configures the client, to run),
// `<lang> client=<id> check` (the command that shows the server connected) or
// `<lang> client=<id> file=<where>` (a whole file); and every other command line on the pages
// that names a client's `mcp` commands, which must be one of those or a listing to run.
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
  const check = /(^|\s)check(\s|$)/.test(info);
  return { lang, client: fields.client, file: fields.file, check, where };
}

// The pages a user reads: the README and every page under docs/.
export function pagePaths(root) {
  const docs = path.join(root, 'docs');
  const pages = fs.readdirSync(docs).filter((name) => name.endsWith('.md')).sort();
  return [path.join(root, 'README.md'), ...pages.map((name) => path.join(docs, name))];
}

// The program each client's commands start with.
export const clientPrograms = {
  'claude-code': 'claude', 'gemini-cli': 'gemini', 'opencode': 'opencode', 'codex-cli': 'codex', 'copilot-cli': 'copilot',
};
const mcpCommand = new RegExp(`^(${Object.values(clientPrograms).join('|')}) mcp (\\S+)(.*)$`);

// Every command line that runs a client's `mcp` command outside the tagged blocks: inline code
// (`claude mcp list`) and the lines of untagged fenced blocks, with where each stands.
export function untaggedCommands(markdownPath) {
  const lines = fs.readFileSync(markdownPath, 'utf8').split('\n');
  const found = [];
  let fence = null;
  let tagged = false;
  lines.forEach((line, index) => {
    const where = `${path.basename(markdownPath)}:${index + 1}`;
    const opening = /^(`{3,}|~{3,})\s*(.*)$/.exec(line);
    if (fence === null && opening) {
      fence = opening[1];
      tagged = /\bclient=/.test(opening[2]);
      return;
    }
    if (fence !== null) {
      if (isClosingFence(line, fence)) fence = null;
      else if (!tagged && mcpCommand.test(line.trim())) found.push({ text: line.trim(), where });
      return;
    }
    for (const span of line.matchAll(/`([^`]+)`/g)) {
      if (mcpCommand.test(span[1].trim())) found.push({ text: span[1].trim(), where });
    }
  });
  return found;
}

// What an untagged command line is: `configures` (an add with arguments: it must be a tagged
// block, so that it is run as written), `lists` (`<program> mcp list`, run by the suite), or a
// mention of a subcommand by name (`claude mcp add`, `codex mcp get`) or of its help.
export function kindOfCommand(text) {
  const [, program, subcommand, rest] = mcpCommand.exec(text);
  const client = Object.keys(clientPrograms).find((id) => clientPrograms[id] === program);
  if (/--help\b/.test(rest)) return { client, kind: 'mention' };
  if (subcommand.startsWith('add') && rest.trim() !== '') return { client, kind: 'configures' };
  if (subcommand === 'list') return { client, kind: 'lists' };
  if (subcommand === 'get' && rest.trim() !== '') return { client, kind: 'lists' };
  return { client, kind: 'mention' };
}

export function describeSnippet(snippet) {
  if (snippet.file) return `${snippet.file} (${snippet.where})`;
  return `${snippet.check ? 'check' : 'command'} (${snippet.where})`;
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
