// The plugin's link to Voxmere: origin, pacing, reconnecting, dropping while down, and stopping clean.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { execFile } = require("node:child_process");
const { loadPlugin, startServer, waitUntil, sleep, messageAction } = require("./harness");

const dm = (content) => messageAction({ channelId: "dm-1", content });
const contents = (server) => server.frames.map((f) => JSON.parse(f.bytes.toString("utf8")).content);

test("frames in a burst leave gaps, so each arrives in a read of its own", { timeout: 15000 }, async () => {
  const server = await startServer();
  const { plugin, discord } = loadPlugin({ settings: { port: server.port } });
  try {
    plugin.start();
    await waitUntil(() => plugin.link.connected, 5000, "connection");
    assert.deepEqual(server.origins, ["https://discord.com"]);
    for (const n of [1, 2, 3, 4]) discord.dispatcher.dispatch(dm(`burst ${n}`));
    await server.waitFrames(4);
    assert.deepEqual(contents(server), ["burst 1", "burst 2", "burst 3", "burst 4"]);
    for (let i = 1; i < 4; i += 1) {
      const gap = server.frames[i].at - server.frames[i - 1].at;
      assert.ok(gap >= 60, `gap ${gap} ms between frames ${i - 1} and ${i}`);
    }
  } finally {
    plugin.stop();
    await server.close();
  }
});

test("reconnects after Voxmere restarts; what came meanwhile is dropped", { timeout: 20000 }, async () => {
  const first = await startServer();
  const port = first.port;
  const { plugin, discord, toasts } = loadPlugin({ settings: { port } });
  let second = null;
  try {
    plugin.start();
    await waitUntil(() => plugin.link.connected, 5000, "first connection");
    discord.dispatcher.dispatch(dm("before"));
    await first.waitFrames(1);
    await first.close();
    await waitUntil(() => !plugin.link.connected, 5000, "the plugin to notice");

    discord.dispatcher.dispatch(dm("while down"));
    assert.equal(plugin.sendTestNotification(), false, "the test button reports Voxmere missing");
    assert.equal(toasts.at(-1).type, "error");
    await sleep(1500); // at least one attempt fails while nothing listens

    second = await startServer(port);
    await waitUntil(() => plugin.link.connected, 8000, "reconnection");
    discord.dispatcher.dispatch(dm("after"));
    await second.waitFrames(1);
    await sleep(300);
    assert.deepEqual(contents(first), ["before"]);
    assert.deepEqual(contents(second), ["after"]);
  } finally {
    plugin.stop();
    if (second) await second.close();
  }
});

test("stop unsubscribes and closes the socket", { timeout: 15000 }, async () => {
  const server = await startServer();
  const { plugin, discord } = loadPlugin({ settings: { port: server.port } });
  plugin.start();
  await waitUntil(() => plugin.link.connected && server.clients.size === 1, 5000, "connection");
  assert.equal(discord.dispatcher.count("MESSAGE_CREATE"), 1);
  plugin.stop();
  assert.equal(discord.dispatcher.count("MESSAGE_CREATE"), 0);
  await waitUntil(() => server.clients.size === 0, 5000, "the server to see the close");
  await server.close();
});

// Nothing may stay behind after stop (no socket, no retry timer): checked in a process of its own,
// which must exit by itself with no active resources left.
for (const scenario of ["connected", "retrying", "connecting"]) {
  test(`stop leaves nothing running (${scenario})`, { timeout: 20000 }, async () => {
    const child = path.join(__dirname, "stop_child.js");
    const { stdout } = await new Promise((resolve, reject) => {
      execFile(process.execPath, [child, scenario], { timeout: 15000 }, (error, out, err) =>
        error ? reject(new Error(`${error.message}\n${out}\n${err}`)) : resolve({ stdout: out }));
    });
    const report = JSON.parse(stdout.trim().split("\n").at(-1));
    assert.equal(report.scenario, scenario);
    assert.deepEqual(report.active, [], "active resources after stop");
  });
}
