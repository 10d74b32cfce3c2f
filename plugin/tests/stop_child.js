// Run by the plugin tests: stops the plugin in the given state and prints what is still active once
// the server is gone too.
"use strict";

const { loadPlugin, startServer, waitUntil, messageAction } = require("./harness");

(async (when) => {
  const server = await startServer(), { plugin, discord } = loadPlugin({ settings: { port: server.port } });
  plugin.start();
  if (when !== "connecting") await waitUntil(() => plugin.link.connected, 5000, "connection");
  if (when !== "connecting") ["one", "two", "three"].forEach((content) => discord.dispatcher.dispatch(messageAction({ content })));
  if (when !== "connecting") await server.waitFrames(1); // two still wait for their turn
  if (when === "retrying") server.clients.forEach((client) => client.terminate());
  if (when === "retrying") await waitUntil(() => !plugin.link.connected, 5000, "the plugin to notice");
  plugin.stop();
  await waitUntil(() => server.clients.size === 0, 5000, "the server to see the close").then(server.close);
  const active = () => process.getActiveResourcesInfo().filter((name) => !["TTYWrap", "PipeWrap"].includes(name));
  await waitUntil(() => active().length === 0, 1000, "handles to close").catch(() => {});
  console.log(JSON.stringify({ when, subscribers: discord.dispatcher.count(), active: active() }));
})(process.argv[2]).catch((error) => { console.error(error); process.exitCode = 1; });
