// One representative call per tool and the exact app request body korvane-mcp must send for it,
// with KORVANE_SESSION_ID set to `callerSession`. Bodies are compact JSON with sorted keys.
// Calls run in this order against one stand-in app (s3 is the session that session_spawn creates).

export const callerSession = 's1';

export const toolCalls = [
  // session forward: the arguments object plus the caller's session_id
  {
    name: 'sessions_list',
    arguments: {},
    body: String.raw`{"method":"sessions_list","params":{"session_id":"s1"}}`,
  },
  {
    name: 'session_read',
    arguments: { id: 's2' },
    body: String.raw`{"method":"session_read","params":{"id":"s2","session_id":"s1"}}`,
  },
  {
    name: 'session_send',
    arguments: { text: 'run "make" — now', id: 's2', submit: false, session_id: 's2' },
    body: String.raw`{"method":"session_send","params":{"id":"s2","session_id":"s1","submit":false,"text":"run \"make\" — now"}}`,
  },
  {
    name: 'session_spawn',
    arguments: { label: 'helper', agent: 'codex', cwd: '/tmp/work', codex_full_access: true },
    body: String.raw`{"method":"session_spawn","params":{"agent":"codex","codex_full_access":true,"cwd":"/tmp/work","label":"helper","session_id":"s1"}}`,
  },
  {
    name: 'session_kill',
    arguments: { id: 's3' },
    body: String.raw`{"method":"session_kill","params":{"id":"s3","session_id":"s1"}}`,
  },
  {
    name: 'session_wait',
    arguments: { timeout_secs: 5, id: 's2' },
    body: String.raw`{"method":"session_wait","params":{"id":"s2","session_id":"s1","timeout_secs":5}}`,
  },
  // built params: only the named arguments, the session id where the tool opens a viewer
  {
    name: 'open_markdown',
    arguments: { path: '/tmp/notes.md', line: 12 },
    body: String.raw`{"method":"open_markdown","params":{"path":"/tmp/notes.md","session_id":"s1"}}`,
  },
  {
    name: 'open_dev_preview',
    arguments: { url: 'http://localhost:5173/', layout: 3 },
    body: String.raw`{"method":"open_dev_preview","params":{"layout":null,"session_id":"s1","url":"http://localhost:5173/"}}`,
  },
  {
    name: 'notify',
    arguments: { title: 'Build', body: 'done', urgent: true },
    body: String.raw`{"method":"notify","params":{"body":"done","title":"Build"}}`,
  },
  // method only: the arguments are dropped
  { name: 'screenshot', arguments: { scale: 2 }, body: String.raw`{"method":"screenshot"}` },
  { name: 'screen_ocr', arguments: {}, body: String.raw`{"method":"screen_ocr"}` },
  // plain forward: the arguments as given
  {
    name: 'screen_find_text',
    arguments: { query: 'Save' },
    body: String.raw`{"method":"screen_find_text","params":{"query":"Save"}}`,
  },
  {
    name: 'screen_learn',
    arguments: { name: 'ok-button', x: 10, y: 20, w: 30, h: 40 },
    body: String.raw`{"method":"screen_learn","params":{"h":40,"name":"ok-button","w":30,"x":10,"y":20}}`,
  },
  {
    name: 'screen_find_learned',
    arguments: { name: 'ok-button' },
    body: String.raw`{"method":"screen_find_learned","params":{"name":"ok-button"}}`,
  },
  { name: 'list_learned', arguments: { verbose: true }, body: String.raw`{"method":"list_learned"}` },
  {
    name: 'click',
    arguments: { y: 20, x: 10, button: 'right' },
    body: String.raw`{"method":"click","params":{"button":"right","x":10,"y":20}}`,
  },
  {
    name: 'double_click',
    arguments: { x: -5, y: 7 },
    body: String.raw`{"method":"double_click","params":{"x":-5,"y":7}}`,
  },
  {
    name: 'move_mouse',
    arguments: { x: 0, y: 0 },
    body: String.raw`{"method":"move_mouse","params":{"x":0,"y":0}}`,
  },
  {
    name: 'drag',
    arguments: { x1: 1, y1: 2, x2: 3, y2: 4, button: 'left' },
    body: String.raw`{"method":"drag","params":{"button":"left","x1":1,"x2":3,"y1":2,"y2":4}}`,
  },
  {
    name: 'type_text',
    arguments: { text: 'héllo "world"\n\ttab/slash' },
    body: String.raw`{"method":"type_text","params":{"text":"héllo \"world\"\n\ttab/slash"}}`,
  },
  {
    name: 'key_combo',
    arguments: { combo: 'ctrl+shift+t' },
    body: String.raw`{"method":"key_combo","params":{"combo":"ctrl+shift+t"}}`,
  },
  {
    name: 'scroll',
    arguments: { x: 100, y: 200, dx: 0, dy: -3 },
    body: String.raw`{"method":"scroll","params":{"dx":0,"dy":-3,"x":100,"y":200}}`,
  },
];

// Calls that korvane-mcp rejects before anything reaches the app, with the exact error text.
export const routingErrors = [
  { name: 'Click', arguments: { x: 1, y: 2 }, message: 'unknown tool: Click' },
  { name: 'click ', arguments: { x: 1, y: 2 }, message: 'unknown tool: click ' },
  { name: 'open_markdown', arguments: { line: 3 }, message: 'missing path' },
  { name: 'open_markdown', arguments: { path: 42 }, message: 'missing path' },
  { name: 'open_dev_preview', arguments: { layout: 'drawer' }, message: 'missing url' },
  { name: 'notify', arguments: { body: 'b' }, message: 'missing title' },
  { name: 'notify', arguments: { title: 7, body: 'b' }, message: 'missing title' },
  { name: 'notify', arguments: { title: 't' }, message: 'missing body' },
];
