// Run by connection.test.js: starts the plugin, stops it in the given state, and prints which of
// Node's resources are still active once the server is gone too. The process must then exit by itself.
"use strict";

const { loadPlugin, startServer, waitUntil, sleep, messageAction } = require("./harness");

async function main(scenario) {
  const server = await startServer();
  const { plugin, discord } = loadPlugin({ settings: { port: server.port } });
  plugin.start();
  if (scenario === "connecting") {
    plugin.stop(); // before the upgrade answer arrives
  } else {
    await waitUntil(() => plugin.link.connected, 5000, "connection");
    discord.dispatcher.dispatch(messageAction({ channelId: "dm-1", content: "one" }));
    await server.waitFrames(1);
    if (scenario === "retrying") {
      for (const client of server.clients) client.terminate();
      await waitUntil(() => !plugin.link.connected, 5000, "the plugin to notice");
    }
    plugin.stop();
  }
  await waitUntil(() => server.clients.size === 0, 5000, "the server to see the close");
  await server.close();
  await sleep(50);
  const active = process.getActiveResourcesInfo().filter((name) => name !== "TTYWrap" && name !== "PipeWrap");
  console.log(JSON.stringify({ scenario, active }));
}

main(process.argv[2]).catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
