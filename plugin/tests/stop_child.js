// Run by connection.test.js: stops the plugin in the given state and prints what is still active
// once the server is gone too.
"use strict";

const { loadPlugin, startServer, waitUntil, sleep, messageAction } = require("./harness");

async function main(when) {
  const server = await startServer();
  const { plugin, discord } = loadPlugin({ settings: { port: server.port } });
  plugin.start();
  if (when !== "connecting") {
    await waitUntil(() => plugin.link.connected, 5000, "connection");
    ["one", "two", "three"].forEach((content) => discord.dispatcher.dispatch(messageAction({ channelId: "dm-1", content })));
    await server.waitFrames(1); // two still wait for their turn
  }
  if (when === "retrying") {
    server.clients.forEach((client) => client.terminate());
    await waitUntil(() => !plugin.link.connected, 5000, "the plugin to notice");
  }
  plugin.stop();
  await waitUntil(() => server.clients.size === 0, 5000, "the server to see the close");
  await server.close();
  await sleep(50);
  const active = process.getActiveResourcesInfo().filter((name) => !["TTYWrap", "PipeWrap"].includes(name));
  console.log(JSON.stringify({ when, subscribers: discord.dispatcher.handlers.size, active }));
}

main(process.argv[2]).catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
