// Real clients from the Linux side against NotificationServer under Wine
// (notify_server_host.exe): the Node `ws` library and headless Chromium.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert');
const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const https = require('node:https');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');

let WebSocket;
try {
  WebSocket = require('ws');
} catch {
  console.error('client_tests: the ws package is missing; run "npm ci" in tests/notify');
  process.exit(1);
}

const binDir = process.env.VOXMERE_BIN_DIR;
const wineRun = process.env.VOXMERE_WINE_RUN;
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'voxmere-notify-'));
const logFile = path.join(scratch, 'host.log');
const toWine = (p) => 'Z:' + p.replace(/\//g, '\\');

let host;
let port = 0;
const notifications = [];

function waitFor(check, timeoutMs, what) {
  return new Promise((resolve, reject) => {
    const started = Date.now();
    const timer = setInterval(() => {
      const value = check();
      if (value) {
        clearInterval(timer);
        resolve(value);
      } else if (Date.now() - started > timeoutMs) {
        clearInterval(timer);
        reject(new Error('timed out waiting for ' + what));
      }
    }, 50);
  });
}

function logLines() {
  try {
    return fs.readFileSync(logFile, 'latin1').split('\r\n').filter((l) => l);
  } catch {
    return [];
  }
}

const notificationFrom = (name) => notifications.find((n) => n.displayName === name);

before(async () => {
  assert.ok(binDir && wineRun, 'VOXMERE_BIN_DIR and VOXMERE_WINE_RUN must be set');
  host = spawn(wineRun, [path.join(binDir, 'notify_server_host.exe'), '--log', toWine(logFile), '--seconds', '150'],
               { stdio: ['pipe', 'pipe', 'inherit'] });
  let pending = '';
  host.stdout.on('data', (chunk) => {
    pending += chunk.toString('utf8');
    let end;
    while ((end = pending.indexOf('\n')) >= 0) {
      const line = pending.slice(0, end).replace(/\r$/, '');
      pending = pending.slice(end + 1);
      if (line.startsWith('LISTENING ')) port = Number(line.slice(10));
      if (line.startsWith('NOTIFICATION ')) notifications.push(JSON.parse(line.slice(13)));
    }
  });
  await waitFor(() => port, 30000, 'the host to listen');
});

after(async () => {
  if (host) {
    host.stdin.end();
    await Promise.race([new Promise((r) => host.once('exit', r)), new Promise((r) => setTimeout(r, 5000))]);
    host.kill();
  }
  fs.rmSync(scratch, { recursive: true, force: true });
});

function sendWithWs(options, payload) {
  return new Promise((resolve, reject) => {
    const ws = new WebSocket(`ws://127.0.0.1:${port}/`, options);
    ws.on('open', () => ws.send(JSON.stringify(payload), (err) => (err ? reject(err) : resolve(ws))));
    ws.on('unexpected-response', (req, res) => reject(Object.assign(new Error('refused'), { status: res.statusCode })));
    ws.on('error', reject);
  });
}

test('Node clients without Origin and with the Discord Origin are delivered, non-ASCII intact', async () => {
  const content = '\u3053\u3093\u306b\u3061\u306f \u{1F600}';
  const plain = await sendWithWs({}, { displayName: 'node plain', content, channelName: 'general', userId: '42' });
  const discord = await sendWithWs({ origin: 'https://discord.com' }, { username: 'node discord' });
  const n = await waitFor(() => notificationFrom('node plain'), 10000, 'the notification');
  assert.deepStrictEqual([n.content, n.channelName, n.userId], [content, 'general', '42']);
  await waitFor(() => notificationFrom('node discord'), 10000, 'the notification with Origin');
  plain.terminate();
  discord.terminate();
});

test('a foreign Origin is answered 403', async () => {
  await assert.rejects(sendWithWs({ origin: 'https://evil.example' }, { displayName: 'evil' }), { status: 403 });
  await waitFor(() => logLines().includes('[NotifServer] WebSocket origin refused: https://evil.example'), 5000,
                'the refusal line');
  assert.strictEqual(notificationFrom('evil'), undefined);
});

const handshakeFailures = () => logLines().filter((l) => l === '[NotifServer] WebSocket handshake failed').length;

test('a key header in lower case fails the handshake', async () => {
  const failuresBefore = handshakeFailures();
  const answer = await new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1', () => {
      socket.write('GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n' +
                   'sec-websocket-key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n');
    });
    let received = '';
    socket.on('data', (d) => (received += d));
    socket.on('close', () => resolve(received));
    socket.on('error', reject);
    socket.setTimeout(10000, () => reject(new Error('no close')));
  });
  assert.strictEqual(answer, '');
  await waitFor(() => handshakeFailures() === failuresBefore + 1, 5000, 'the failure line');
});

// Headless Chromium loads a page that opens the WebSocket and sends one
// notification; it is ended once the server has seen what the test awaits.
let chromium = true;
try {
  execFileSync('chromium', ['--version'], { stdio: 'ignore' });
} catch {
  chromium = false;
}
const skipChromium = !chromium && 'chromium is not installed';

function writePage(name, displayName) {
  const file = path.join(scratch, name);
  fs.writeFileSync(file, `<!doctype html><script>
const ws = new WebSocket("ws://127.0.0.1:${port}/");
ws.onopen = () => ws.send(JSON.stringify({displayName: ${JSON.stringify(displayName)}, content: "from a page"}));
</script>`);
  return file;
}

async function withChromium(args, done, what) {
  const profile = fs.mkdtempSync(path.join(scratch, 'profile-'));
  const browser = spawn('chromium', ['--headless', '--no-sandbox', '--disable-gpu', `--user-data-dir=${profile}`,
                                      ...args], { stdio: 'ignore' });
  try {
    await waitFor(done, 30000, what);
  } finally {
    browser.kill('SIGKILL');
    await new Promise((r) => (browser.exitCode !== null ? r() : browser.once('exit', r)));
  }
}

test('Chromium: a page from file:// (Origin null) is refused', { skip: skipChromium },
     async () => {
       const page = writePage('file-page.html', 'file page');
       await withChromium(['file://' + page],
                          () => logLines().includes('[NotifServer] WebSocket origin refused: null'), 'the refusal');
       assert.strictEqual(notificationFrom('file page'), undefined);
     });

test('Chromium: a page on https://discord.com is delivered', { skip: skipChromium },
     async () => {
       // discord.com is mapped to a local HTTPS server with a throw-away certificate,
       // so the browser itself sends Origin https://discord.com.
       const key = path.join(scratch, 'key.pem');
       const cert = path.join(scratch, 'cert.pem');
       execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert,
                                '-subj', '/CN=discord.com', '-days', '1', '-addext', 'subjectAltName=DNS:discord.com'],
                    { stdio: 'ignore' });
       const page = fs.readFileSync(writePage('discord-page.html', 'discord page'));
       const server = https.createServer({ key: fs.readFileSync(key), cert: fs.readFileSync(cert) }, (req, res) => {
         res.writeHead(200, { 'Content-Type': 'text/html' });
         res.end(page);
       });
       await new Promise((r) => server.listen(0, '127.0.0.1', r));
       try {
         await withChromium(['--ignore-certificate-errors',
                             `--host-resolver-rules=MAP discord.com 127.0.0.1:${server.address().port}`,
                             'https://discord.com/'],
                            () => notificationFrom('discord page'), 'the notification');
       } finally {
         server.close();
       }
       assert.strictEqual(notificationFrom('discord page').content, 'from a page');
     });
