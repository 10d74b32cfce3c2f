/**
 * @name Tallybell
 * @author Voxmere
 * @description Shows your Discord message notifications as cards in the Voxmere overlay, over your game, and feeds it your voice channel.
 * @version 1.2.0
 * @website https://github.com/voxmere/voxmere
 * @source https://github.com/voxmere/voxmere/tree/main/plugin
 */

"use strict";

const PLUGIN_NAME = "Tallybell";

const NEEDS_UPDATE = "Tallybell needs an update for this Discord version.";
const NO_DISPATCHER = "Discord's message events were not found, so no notifications can be forwarded; " + NEEDS_UPDATE;

// BetterDiscord's logger marks the plugin's lines in its own way; the console serves where it is absent.
function log(level, ...args) {
  const logger = globalThis.BdApi && BdApi.Logger;
  if (logger && typeof logger[level] === "function") {
    logger[level](PLUGIN_NAME, ...args);
  } else {
    console[level === "warn" ? "warn" : "log"](`[${PLUGIN_NAME}]`, ...args);
  }
}

const logInfo = (...args) => log("info", ...args);
const logWarn = (...args) => log("warn", ...args);

// The dispatcher does not catch a subscriber's exception: it skips the other subscribers and, for
// gateway actions, makes Discord reconnect. Every callback it gets goes through here.
function guarded(what, handle) {
  return (action) => {
    try {
      handle(action);
    } catch (error) {
      logInfo(`${what} skipped:`, error && error.message);
    }
  };
}

