// The browser source in a real browser: Debian's chromium, headless, driven
// through puppeteer-core, against Voxmere.exe under Wine fed by the Discord
// simulator over RPC and by the plugin under its stand-in of Discord.
//   node browser_source_test.mjs BUILD_DIR
// Environment: BROWSER_SOURCE_IDLE_SECONDS (each idle CPU interval, default
// 20), BROWSER_SOURCE_SCREENSHOT (where the page's picture goes, default
// BUILD_DIR/browser-source.png).
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const build = path.resolve(process.argv[2] || path.join(here, '../../build'));
const idleSeconds = Number(process.env.BROWSER_SOURCE_IDLE_SECONDS || 20);
const screenshotPath = process.env.BROWSER_SOURCE_SCREENSHOT || path.join(build, 'browser-source.png');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'browser-source-'));
const children = [];
let browser = null;

const ALICE = '100000000000000001', BOB = '100000000000000002', UMA = '100000000000000003';
const DAN = '100000000000000004', BOT = '100000000000000005', ERIN = '100000000000000006';
const SPEAK_ROUNDS = 60;

function fail(message) {
  console.error(`FAIL: ${message}`);
  try { console.error(fs.readFileSync(path.join(work, 'debug.log'), 'latin1')); } catch (e) { /* no log yet */ }
  throw new Error(message);
}
const check = (condition, message) => { if (!condition) fail(message); };
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function waitFor(condition, timeoutMs, what) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > deadline) fail(`timed out waiting for ${what}`);
    await sleep(50);
  }
}

const freePort = () => new Promise((resolve) => {
  const server = net.createServer().listen(0, '127.0.0.1', () => { const { port } = server.address(); server.close(() => resolve(port)); });
});
const debugLog = () => { try { return fs.readFileSync(path.join(work, 'debug.log'), 'latin1'); } catch (e) { return ''; } };
const logHas = (pattern) => pattern.test(debugLog());

function start(command, args, options = {}) {
  const child = spawn(command, args, { stdio: ['pipe', 'pipe', 'pipe'], ...options });
  children.push(child);
  return child;
}

// Every line the simulator prints, with the time it arrived here.
function startSim(scenario) {
  fs.writeFileSync(path.join(work, 'scenario.txt'), scenario);
  const sim = start(path.join(build, 'wine-run.sh'), [path.join(build, 'bin/discord_sim.exe'), '--pipe', '0',
    '--scenario', path.join(work, 'scenario.txt'), '--http-port', '0', '--duration', String(300 + 3 * idleSeconds)]);
  sim.lines = [];
  let rest = '';
  sim.stdout.on('data', (chunk) => {
    const now = Date.now();
    const text = rest + chunk.toString('latin1');
    const parts = text.split('\n');
    rest = parts.pop();
    for (const line of parts) sim.lines.push({ line: line.replace(/\r$/, ''), at: now });
  });
  return sim;
}

async function startVoxmere(config, env) {
  fs.rmSync(path.join(work, 'debug.log'), { force: true });
  fs.writeFileSync(path.join(work, 'config.json'), JSON.stringify(config));
  for (const file of ['Voxmere.exe', 'Twemoji.ttf']) fs.copyFileSync(path.join(build, 'bin', file), path.join(work, file));
  const voxmere = start(path.join(build, 'wine-run.sh'), [path.join(work, 'Voxmere.exe')], { cwd: work, env: { ...process.env, ...env } });
  const served = await waitFor(() => /Serving http:\/\/127\.0\.0\.1:(\d+)\/voice/.exec(debugLog()), 40000, 'the browser source to listen');
  return { voxmere, port: Number(served[1]) };
}

function stopAll() {
  while (children.length) {
    const child = children.pop();
    if (child.exitCode === null) child.kill('SIGTERM');
  }
}

// The Voxmere.exe process Wine runs (its CPU time is read from /proc).
function voxmerePid() {
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const cmdline = fs.readFileSync(`/proc/${entry}/cmdline`, 'latin1');
      if (cmdline.includes('Voxmere.exe') && cmdline.includes(path.basename(work)) && !cmdline.includes('wine-run.sh'))
        return entry;
    } catch (e) { /* gone */ }
  }
  return null;
}
function cpuTicks(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, 'latin1').split(') ')[1].split(' ');
  return Number(fields[11]) + Number(fields[12]);  // utime + stime
}
const ticksPerSecond = Number(spawnSync('getconf', ['CLK_TCK']).stdout.toString().trim() || 100);

// A raw request with the given headers; the status and the headers answered.
function request(port, target, headers) {
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port, path: target, headers, setHost: false }, (res) => {
      res.destroy();
      resolve({ status: res.statusCode, headers: res.headers });
    });
    req.on('error', reject);
    req.end();
  });
}

async function openPage(url) {
  const page = await browser.newPage();
  page.foreign = [];
  page.on('request', (req) => { if (!req.url().startsWith(new URL(url).origin) && !req.url().startsWith('data:')) page.foreign.push(req.url()); });
  // Every change of a member's data-speaking, timed as it lands in the DOM.
  await page.evaluateOnNewDocument(() => {
    window.speakingChanges = [];
    new MutationObserver((records) => {
      const at = performance.timeOrigin + performance.now();
      for (const r of records)
        if (r.attributeName === 'data-speaking' && r.target.dataset.speaking !== r.oldValue)
          window.speakingChanges.push({ id: r.target.dataset.userId, value: r.target.dataset.speaking, at });
    }).observe(document, { subtree: true, attributes: true, attributeOldValue: true, attributeFilter: ['data-speaking'] });
    window.pageLoads = (window.pageLoads || 0) + 1;
    // Every event the page's streams deliver.
    window.streamEvents = 0;
    const Native = window.EventSource;
    window.EventSource = function (...args) {
      const source = new Native(...args);
      const listen = source.addEventListener.bind(source);
      source.addEventListener = (type, handler, options) =>
        listen(type, (e) => { if (e.type !== 'open' && e.type !== 'error') window.streamEvents++; handler(e); }, options);
      return source;
    };
  });
  await page.goto(url);
  return page;
}

const members = (page) => page.$$eval('.voxmere-member', (rows) => rows.map((row) => ({
  id: row.dataset.userId, name: row.querySelector('.voxmere-name').textContent, speaking: row.dataset.speaking,
  muted: row.dataset.muted, deafened: row.dataset.deafened, bot: row.dataset.bot, live: row.dataset.live,
  image: row.querySelector('img.voxmere-avatar-image')?.getAttribute('src') || '',
  imageLoaded: !!row.querySelector('img.voxmere-avatar-image')?.naturalWidth,
  placeholder: !!row.querySelector('.voxmere-avatar-placeholder'),
}))).catch(() => []);
const ids = async (page) => (await members(page)).map((m) => m.id).join(',');

function percentile(sorted, p) { return sorted[Math.min(sorted.length - 1, Math.ceil(p * sorted.length) - 1)]; }

async function rpcPhase() {
  const rounds = [];
  for (let i = 0; i < SPEAK_ROUNDS; ++i) rounds.push('speak 100000000000000002 on', 'wait 150', 'speak 100000000000000002 off', 'wait 150');
  const sim = startSim(`user ${ALICE} alice global=Alice avatar=a1c3e5f7091b2d4f6a8c0e1f3b5d7f90
channel 300000000000000001 General 200000000000000001
member ${ALICE} alice global=Alice avatar=a1c3e5f7091b2d4f6a8c0e1f3b5d7f90
member ${BOB} bob global=Bob nick=Bobby avatar=b0b0b0b0c1c1c1c1d2d2d2d2e3e3e3e3
member ${UMA} uma global=Uma mute
member ${DAN} dan global=Dan self_deaf avatar=d4e5f6a7b8c9d0e1f2a3b4c5d6e7f8a9
member ${BOT} tunebot bot avatar=7b07b07b07b07b07b07b07b07b07b07b
channel 300000000000000002 Gaming 200000000000000001
member ${ALICE} alice global=Alice avatar=a1c3e5f7091b2d4f6a8c0e1f3b5d7f90
member ${ERIN} erin global=Erin
select 300000000000000001
timeline
wait 15000
${rounds.join('\n')}
wait 1000
speak 100000000000000002 on
wait 8000
switch 300000000000000002
`);
  const base = await waitFor(() => sim.lines.map((l) => /^HTTP (http:\S+)$/.exec(l.line)).find(Boolean), 30000, 'the simulator');
  const wsPort = await freePort();
  // The configured port is held by another program: the next one serves.
  const holder = net.createServer().listen(0, '127.0.0.1');
  await new Promise((resolve) => holder.once('listening', resolve));
  const held = holder.address().port;
  const { port } = await startVoxmere({ allow_multi_instance: true, language: 'en', browser_source_port: held,
    hidden_users: UMA }, { VOXMERE_API_BASE: base[1], VOXMERE_CDN_BASE: base[1], VOXMERE_WEBSOCKET_PORT: String(wsPort) });
  holder.close();
  check(port === held + 1 && logHas(new RegExp(`Port ${held} is taken`)) && logHas(new RegExp(`\\(port ${held} was taken\\)`)),
    `served on ${port} with ${held} held`);
  const origin = `http://127.0.0.1:${port}`;

  // Members with their pictures, the one without a picture as the placeholder, bots last.
  const voice = await openPage(`${origin}/voice`);
  await waitFor(async () => (await members(voice)).filter((m) => m.imageLoaded).length === 4, 30000, 'the members with their pictures');
  const shown = await members(voice);
  check(shown.map((m) => m.id).join() === [ALICE, BOB, UMA, DAN, BOT].join(), `members in the overlay's order: ${shown.map((m) => m.id)}`);
  const byId = Object.fromEntries(shown.map((m) => [m.id, m]));
  check(byId[BOB].name === 'Bobby' && byId[ALICE].name === 'Alice', 'the names shown');
  check(byId[UMA].placeholder && !byId[UMA].image, 'a member without a picture gets the placeholder');
  check(shown.every((m) => m.id === UMA || m.image.startsWith('/avatars/')), 'pictures come from Voxmere itself');
  const rows = [[UMA, 'muted', 'true'], [BOB, 'muted', 'false'], [DAN, 'deafened', 'true'], [BOB, 'deafened', 'false'],
    [BOT, 'bot', 'true'], [ALICE, 'bot', 'false'], [ALICE, 'speaking', 'false'], [BOB, 'live', 'false']];
  for (const [id, key, value] of rows) check(byId[id][key] === value, `data-${key} of ${id} is ${byId[id][key]}, not ${value}`);
  check(await voice.$eval(`[data-user-id="${UMA}"] .voxmere-badge-muted`, () => true).catch(() => false), 'the muted badge');
  const look = await voice.evaluate(() => ({
    background: getComputedStyle(document.body).backgroundColor, overflow: getComputedStyle(document.body).overflow,
    scrolls: document.documentElement.scrollHeight > innerHeight || document.documentElement.scrollWidth > innerWidth,
    source: document.body.dataset.source }));
  check(look.background === 'rgba(0, 0, 0, 0)' && look.overflow === 'hidden', `transparent, no scroll bars: ${JSON.stringify(look)}`);
  check(look.source === 'rpc', `the source named: ${look.source}`);

  // URL options, each on a page of its own.
  const optionsPage = await openPage(`${origin}/voice?small_avatars=true&hide_names=true&text_color=%23ff0000&text_size=20&bg_opacity=0.5&layout=row`);
  await waitFor(async () => (await members(optionsPage)).length === 5, 10000, 'the options page');
  const styled = await optionsPage.evaluate(() => {
    const row = document.querySelector('.voxmere-member'), name = row.querySelector('.voxmere-name');
    return { avatar: getComputedStyle(row.querySelector('.voxmere-avatar')).width, nameShown: getComputedStyle(name).display,
      colour: getComputedStyle(name).color, size: getComputedStyle(name).fontSize, label: getComputedStyle(name).backgroundColor,
      direction: getComputedStyle(document.querySelector('.voxmere-voice')).flexDirection };
  });
  check(styled.avatar === '24px' && styled.nameShown === 'none' && styled.colour === 'rgb(255, 0, 0)' && styled.size === '20px' &&
        styled.label === 'rgba(30, 33, 36, 0.5)' && styled.direction === 'row', `URL options: ${JSON.stringify(styled)}`);
  const filtered = await openPage(`${origin}/voice?filters=overlay`);
  await waitFor(async () => (await ids(filtered)) === [ALICE, BOB, DAN, BOT].join(), 10000, "the overlay's filter (Uma hidden)");
  const speakers = await openPage(`${origin}/voice?limit_speaking=true`);
  await waitFor(() => speakers.evaluate(() => document.body.dataset.connected === 'true'), 10000, 'the speakers page');

  // Refused: another Host (DNS rebinding), another site's Origin, another site probing a picture.
  const bobPicture = byId[BOB].image;
  const answers = [
    ['/voice', { Host: `127.0.0.1:${port}` }, 200],
    ['/voice', { Host: `localhost:${port}` }, 200],
    ['/voice', { Host: `rebound.example:${port}` }, 403],
    ['/voice', { Host: '127.0.0.1' }, 403],
    ['/events/voice', { Host: `127.0.0.1:${port}`, Origin: 'http://evil.example' }, 403],
    ['/events/voice', { Host: `127.0.0.1:${port}`, Origin: 'null' }, 403],
    [bobPicture, { Host: `127.0.0.1:${port}`, 'Sec-Fetch-Site': 'cross-site' }, 403],
    [bobPicture, { Host: `127.0.0.1:${port}`, 'Sec-Fetch-Site': 'same-origin' }, 200],
  ];
  for (const [target, headers, status] of answers) {
    const answer = await request(port, target, headers);
    check(answer.status === status, `${target} with ${JSON.stringify(headers)}: ${answer.status}, not ${status}`);
    check(!Object.keys(answer.headers).some((h) => h.startsWith('access-control-')), `a CORS header for ${target}`);
  }
  // The same from a real page of another origin, and through a rebound name.
  const foreign = http.createServer((req, res) => {
    res.writeHead(200, { 'Content-Type': 'text/html' });
    res.end(`<script>
      window.result = { events: 0, errored: false, image: 'pending' };
      const source = new EventSource('${origin}/events/voice');
      source.addEventListener('voice', () => { window.result.events++; });
      source.onerror = () => { window.result.errored = true; source.close(); };
      const img = new Image();
      img.onload = () => { window.result.image = 'loaded'; };
      img.onerror = () => { window.result.image = 'refused'; };
      img.src = '${origin}${bobPicture}';
    </script>`);
  }).listen(0, '127.0.0.1');
  await new Promise((resolve) => foreign.once('listening', resolve));
  const evil = await browser.newPage();
  await evil.goto(`http://127.0.0.1:${foreign.address().port}/`);
  const result = await waitFor(() => evil.evaluate(() => window.result.errored && window.result.image !== 'pending' && window.result), 10000, 'the foreign page');
  check(result.events === 0 && result.image === 'refused', `another site's page read the stream or a picture: ${JSON.stringify(result)}`);
  const rebound = await browser.newPage();
  const reboundAnswer = await rebound.goto(`http://rebound.test:${port}/voice`);
  check(reboundAnswer.status() === 403, `a rebound host name got ${reboundAnswer.status()}`);
  foreign.close();
  await Promise.all([evil.close(), rebound.close()]);
  check(logHas(/Refused \(403\): Host rebound/), 'the refused Host is logged');

  // Speaking changes, timed from the simulator's write to the DOM.
  const loadsBefore = await voice.evaluate(() => window.pageLoads);
  const speakingSends = () => sim.lines.filter((l) => /SEND .*"cmd":"DISPATCH".*"evt":"SPEAKING_(START|STOP)"/.test(l.line) && l.line.includes(BOB));
  await waitFor(() => speakingSends().length > 2 * SPEAK_ROUNDS, 60000, 'the speaking rounds');
  await waitFor(async () => (await ids(speakers)) === BOB, 2000, 'only Bob on the speakers page while he speaks');
  // The picture for the README while Bob speaks (a background tab draws nothing).
  const shotStarted = Date.now();
  await voice.bringToFront();
  await voice.setViewport({ width: 300, height: 290 });
  await waitFor(() => voice.$eval(`[data-user-id="${BOB}"]`, (row) => row.dataset.speaking === 'true'), 2000, 'Bob speaking');
  await voice.screenshot({ path: screenshotPath, omitBackground: true });
  const stillSpeaking = await voice.$eval(`[data-user-id="${BOB}"]`, (row) => row.dataset.speaking === 'true').catch(() => false);
  console.log(`screenshot ${screenshotPath} in ${Date.now() - shotStarted} ms${stillSpeaking ? ', Bob speaking' : ''}`);
  const sends = speakingSends().map((l) => ({ value: /SPEAKING_START/.test(l.line) ? 'true' : 'false', at: l.at }));
  const changes = (await voice.evaluate(() => window.speakingChanges)).filter((c) => c.id === BOB);
  const latencies = [];
  for (const send of sends) {
    const change = changes.find((c) => c.value === send.value && c.at >= send.at - 5);
    check(change, `no DOM change for speaking ${send.value} sent at ${send.at}`);
    latencies.push(Math.max(0, change.at - send.at));
  }
  latencies.sort((a, b) => a - b);
  const p50 = percentile(latencies, 0.5), p99 = percentile(latencies, 0.99);
  console.log(`speaking to DOM: ${latencies.length} changes, p50 ${p50.toFixed(1)} ms, p99 ${p99.toFixed(1)} ms, max ${latencies.at(-1).toFixed(1)} ms`);
  check(latencies.length === 2 * SPEAK_ROUNDS + 1, `${latencies.length} speaking changes timed, not ${2 * SPEAK_ROUNDS + 1}`);
  check(p99 <= 50, `speaking reached the DOM in ${p99.toFixed(1)} ms at p99`);

  // The channel switch follows without a reload.
  await waitFor(async () => (await ids(voice)) === [ALICE, ERIN].join(), 15000, 'the switch to the other channel');
  check((await voice.evaluate(() => window.pageLoads)) === loadsBefore, 'the page was reloaded');
  check(voice.foreign.length === 0 && optionsPage.foreign.length === 0, `requests beyond Voxmere: ${voice.foreign}`);
  console.log(`voice page: 5 members with pictures and the placeholder, attributes and URL options hold, channel switch followed; refusals hold`);

  // A card on the cards page.
  const cards = await openPage(`${origin}/cards`);
  await waitFor(() => cards.evaluate(() => document.body.dataset.connected === 'true'), 10000, 'the cards page');
  const sent = spawnSync(path.join(build, 'wine-run.sh'), [path.join(build, 'bin/notify_send.exe'), '--displayName', 'Bobby',
    '--content', 'hello <b>stream</b>', '--channelName', 'general', '--serverName', 'Guild', '--userId', BOB,
    '--avatarHash', 'b0b0b0b0c1c1c1c1d2d2d2d2e3e3e3e3'], { timeout: 30000 });
  check(sent.status === 0, `notify_send failed: ${sent.stderr}`);
  const card = await waitFor(() => cards.$eval('.voxmere-card', (c) => ({ name: c.querySelector('.voxmere-card-name').textContent,
    content: c.querySelector('.voxmere-card-content').textContent, place: c.querySelector('.voxmere-card-place').textContent,
    image: c.querySelector('img')?.getAttribute('src') || '' })).catch(() => null), 10000, 'the card');
  check(card.name === 'Bobby' && card.content === 'hello <b>stream</b>' && card.place === '#general \u00b7 Guild' &&
        card.image.startsWith('/avatars/'), `the card: ${JSON.stringify(card)}`);
  console.log('cards page: the card with its text as text and its picture');

  // Idle cost: Voxmere's CPU time with no page, then with both pages open at rest.
  for (const page of [optionsPage, filtered, speakers]) await page.close();
  const pid = voxmerePid();
  check(pid, 'Voxmere.exe not found in /proc');
  await sleep(6000);  // the card's animation on the overlay is over
  const idle = async () => { const t0 = cpuTicks(pid); await sleep(idleSeconds * 1000); return (cpuTicks(pid) - t0) / ticksPerSecond; };
  const eventsBefore = (await voice.evaluate(() => window.streamEvents)) + (await cards.evaluate(() => window.streamEvents));
  const withPages = await idle();
  const eventsAfter = (await voice.evaluate(() => window.streamEvents)) + (await cards.evaluate(() => window.streamEvents));
  await Promise.all([voice.close(), cards.close()]);
  await sleep(1000);
  const withoutPages = await idle();
  const share = (seconds) => (100 * seconds / idleSeconds).toFixed(2);
  console.log(`idle CPU of Voxmere.exe over ${idleSeconds} s: ${withPages.toFixed(2)} s (${share(withPages)} %) with /voice and /cards open, ` +
              `${withoutPages.toFixed(2)} s (${share(withoutPages)} %) without`);
  check(withPages <= withoutPages + 0.02 * idleSeconds, 'open pages cost Voxmere CPU at rest');
  check(eventsAfter === eventsBefore, `${eventsAfter - eventsBefore} events pushed to pages at rest`);
  stopAll();
  await sleep(2000);
}

// The plugin's feed first, then Discord's RPC once the plugin stops, then the
// plugin again: the page follows each switch without a reload.
async function sourceSwitchPhase() {
  const driver = path.join(here, '../../plugin/tests/voice_driver.js');
  if (!fs.existsSync(path.join(here, '../../plugin/node_modules/ws'))) {
    console.log('source switch: skipped, the plugin\'s ws package is missing (npm ci in plugin/)');
    return;
  }
  const enabled = path.join(build, 'wineprefix/drive_c/users', os.userInfo().username, 'AppData/Roaming/BetterDiscord/data/stable/plugins.json');
  fs.mkdirSync(path.dirname(enabled), { recursive: true });
  fs.writeFileSync(enabled, '{"Tallybell": true}');
  try {
    const sim = startSim(`user 100 me_user global=Me
channel 300000000000000009 Lobby
member 100 me_user global=Me avatar=abc123
member 400 dave global=Dave avatar=d4d4d4d4
select 300000000000000009
`);
    const base = await waitFor(() => sim.lines.map((l) => /^HTTP (http:\S+)$/.exec(l.line)).find(Boolean), 30000, 'the simulator');
    const wsPort = await freePort();
    const { port } = await startVoxmere({ allow_multi_instance: true, language: 'en', browser_source_port: await freePort(),
      client_id: '1234567890123456789', client_secret: 'TestSecret123' },
    { VOXMERE_API_BASE: base[1], VOXMERE_CDN_BASE: base[1], VOXMERE_WEBSOCKET_PORT: String(wsPort) });
    await waitFor(() => logHas(/WebSocket server listening/), 30000, 'the WebSocket endpoint');
    const page = await openPage(`http://127.0.0.1:${port}/voice`);
    const source = () => page.evaluate(() => document.body.dataset.source);
    const plugin = () => {
      const child = start(process.execPath, [driver, String(wsPort)], { env: { ...process.env, TALLYBELL_PLUGIN: path.join(build, 'bin/Tallybell.plugin.js') } });
      child.output = '';
      child.stdout.on('data', (chunk) => { child.output += chunk; });
      return child;
    };
    let feed = plugin();
    await waitFor(async () => (await source()) === 'plugin' && (await ids(page)) === '100,200,250,300', 30000, "the plugin's members");
    // Only the plugin knows who streams: Discord's order puts them first.
    feed.stdin.write('live 250\n');
    await waitFor(async () => (await ids(page)) === '250,100,200,300' &&
      (await page.$eval('[data-user-id="250"]', (row) => row.dataset.live)) === 'true', 10000, 'the streaming member first, marked live');
    feed.stdin.write('stop\n');
    await waitFor(async () => (await source()) === 'rpc' && (await ids(page)) === '100,400', 40000, "RPC's members after the plugin stopped");
    feed.stdin.end();
    await waitFor(() => feed.exitCode !== null, 10000, 'the plugin driver to end');
    feed = plugin();
    await waitFor(async () => (await source()) === 'plugin' && (await ids(page)) === '100,200,250,300', 30000, "the plugin's members again");
    check((await page.evaluate(() => window.pageLoads)) === 1, 'the page was reloaded');
    console.log('source switch: plugin -> RPC -> plugin followed by the open page without a reload');
    feed.stdin.end();
  } finally {
    fs.rmSync(enabled, { force: true });
    stopAll();
  }
}

async function main() {
  const executablePath = fs.existsSync('/usr/lib/chromium/chromium') ? '/usr/lib/chromium/chromium' : '/usr/bin/chromium';
  browser = await puppeteer.launch({ executablePath, headless: true,
    args: ['--no-sandbox', '--host-resolver-rules=MAP rebound.test 127.0.0.1', '--disable-gpu'] });
  try {
    await rpcPhase();
    await sourceSwitchPhase();
  } finally {
    await browser.close();
    stopAll();
    spawnSync('/usr/lib/wine/wineserver', ['-k'], { env: { ...process.env, WINEPREFIX: path.join(build, 'wineprefix') } });
    fs.rmSync(work, { recursive: true, force: true });
  }
}

main().then(() => console.log('browser source: all checks held'), (error) => { console.error(error.stack || error); process.exit(1); });
