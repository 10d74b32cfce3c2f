// Voxmere.exe under Wine receives notifications from outside: notify_send.exe
// over the pipe and the WebSocket, and pages in headless Chromium, which sends
// its own Origin: a file page (Origin null) is refused, a page on
// https://discord.com is delivered. Each delivered one reaches the overlay.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert');
const { spawn, spawnSync, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const https = require('node:https');
const os = require('node:os');
const path = require('node:path');

const binDir = process.env.VOXMERE_BIN_DIR;
const wineRun = process.env.VOXMERE_WINE_RUN;
const chromium = spawnSync('chromium', ['--version'], { stdio: 'ignore' }).status === 0;

function waitFor(check, timeoutMs, what) {
  return new Promise((resolve, reject) => {
    const started = Date.now();
    const timer = setInterval(() => {
      if (check()) resolve(clearInterval(timer));
      else if (Date.now() - started > timeoutMs) reject(new Error('timed out waiting for ' + what), clearInterval(timer));
    }, 50);
  });
}

async function withChromium(scratch, args, done, what) {
  const profile = fs.mkdtempSync(path.join(scratch, 'profile-'));
  const browser = spawn('chromium', ['--headless', '--no-sandbox', '--disable-gpu', `--user-data-dir=${profile}`, ...args],
                        { stdio: 'ignore' });
  try {
    await waitFor(done, 30000, what);
  } finally {
    browser.kill('SIGKILL');
    await new Promise((r) => (browser.exitCode !== null ? r() : browser.once('exit', r)));
  }
}

// A page that opens the WebSocket and sends one notification.
const page = (displayName) => `<!doctype html><script>
const ws = new WebSocket("ws://127.0.0.1:47523/");
ws.onopen = () => ws.send(JSON.stringify({displayName: ${JSON.stringify(displayName)}, content: "from a page"}));
</script>`;

test('notify_send and browser pages reach a running Voxmere.exe', { timeout: 140000 }, async (t) => {
  assert.ok(binDir && wineRun, 'VOXMERE_BIN_DIR and VOXMERE_WINE_RUN must be set');
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'voxmere-notify-'));
  fs.copyFileSync(path.join(binDir, 'Voxmere.exe'), path.join(scratch, 'Voxmere.exe'));
  fs.writeFileSync(path.join(scratch, 'config.json'), JSON.stringify({ allow_multi_instance: true, language: 'en' }));
  const logPath = path.join(scratch, 'debug.log');
  const log = () => (fs.existsSync(logPath) ? fs.readFileSync(logPath, 'utf8').split('\r\n') : []);
  const logged = (line) => log().some((l) => l.includes(line));
  const voxmere = spawn('bash', [wineRun, path.join(scratch, 'Voxmere.exe')], { cwd: scratch, stdio: 'ignore' });
  let server;
  try {
    // The port is the whole machine's: another program may hold it for a
    // while, and the server retries by itself until it is free.
    await waitFor(() => logged('[NotifServer] WebSocket server listening on port 47523'), 45000, 'the endpoint');
    const send = (args) => spawnSync('bash', [wineRun, path.join(binDir, 'notify_send.exe'), ...args],
                                     { stdio: 'inherit', timeout: 30000 }).status;
    assert.strictEqual(send(['--pipe', '--displayName', 'E2E pipe', '--content', 'over the pipe',
                             '--channelName', 'general']), 0);
    assert.strictEqual(send(['--websocket', '--username', 'e2e', '--displayName', 'E2E socket',
                             '--content', 'over the socket']), 0);
    await waitFor(() => logged('Added notification - displayName: E2E socket, content: over the socket'), 10000,
                  'the socket card');
    assert.ok(logged('[NotifServer] Queued notification from pipe: E2E pipe'));
    assert.ok(logged('Added notification - displayName: E2E pipe, content: over the pipe'));
    if (!chromium) return t.skip('chromium is not installed');

    const filePage = path.join(scratch, 'file-page.html');
    fs.writeFileSync(filePage, page('file page'));
    await withChromium(scratch, ['file://' + filePage], () => logged('[NotifServer] WebSocket origin refused: null'),
                       'the refusal');
    // discord.com is mapped to a local HTTPS server with a throw-away
    // certificate, so the browser itself sends Origin https://discord.com.
    const key = path.join(scratch, 'key.pem');
    const cert = path.join(scratch, 'cert.pem');
    execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert, '-subj',
                             '/CN=discord.com', '-days', '1', '-addext', 'subjectAltName=DNS:discord.com'], { stdio: 'ignore' });
    server = https.createServer({ key: fs.readFileSync(key), cert: fs.readFileSync(cert) }, (req, res) => {
      res.writeHead(200, { 'Content-Type': 'text/html' });
      res.end(page('discord page'));
    });
    await new Promise((r) => server.listen(0, '127.0.0.1', r));
    await withChromium(scratch, ['--ignore-certificate-errors',
                                 `--host-resolver-rules=MAP discord.com 127.0.0.1:${server.address().port}`,
                                 'https://discord.com/'],
                       () => logged('Added notification - displayName: discord page, content: from a page'),
                       'the discord page card');
    assert.ok(!logged('displayName: file page'));
  } finally {
    if (server) server.close();
    voxmere.kill('SIGKILL');
    await new Promise((r) => (voxmere.exitCode !== null ? r() : voxmere.once('exit', r)));
    fs.rmSync(scratch, { recursive: true, force: true });
  }
});
