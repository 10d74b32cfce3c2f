// Run by the plugin tests: stops the plugin in the given state and prints what is still active once
// the server is gone too.
"use strict";

const os = require("node:os");
const path = require("node:path");
const { loadPlugin, startServer, waitUntil, messageAction } = require("./harness");

(async (when) => {
  // "watching": the endpoint file is watched and names no Voxmere yet.
  const server = await startServer(), { plugin, discord } = loadPlugin({ settings: when === "watching"
    ? { endpointFile: path.join(os.tmpdir(), `no-voxmere-${process.pid}`, "endpoint.json") } : { port: server.port } });
  plugin.start();
  const connects = !["connecting", "watching"].includes(when);
  if (connects) await waitUntil(() => plugin.link.connected, 5000, "connection");
  if (connects) ["one", "two", "three"].forEach((content) => discord.dispatcher.dispatch(messageAction({ content })));
  if (connects) await server.waitFrames(1); // two still wait for their turn
  if (when === "retrying") server.clients.forEach((client) => client.terminate());
  if (when === "retrying") await waitUntil(() => !plugin.link.connected, 5000, "the plugin to notice");
  plugin.stop();
  await waitUntil(() => server.clients.size === 0, 5000, "the server to see the close").then(server.close);
  const active = () => process.getActiveResourcesInfo().filter((name) => !["TTYWrap", "PipeWrap"].includes(name));
  await waitUntil(() => active().length === 0, 1000, "handles to close").catch(() => {});
  console.log(JSON.stringify({ when, subscribers: discord.dispatcher.count(), active: active() }));
})(process.argv[2]).catch((error) => { console.error(error); process.exitCode = 1; });
