/**
 * @name Tallybell
 * @author Voxmere
 * @description Shows your Discord message notifications as cards in the Voxmere overlay, over your game, and feeds it your voice channel.
 * @version 1.2.0
 * @source https://github.com/voxmere/voxmere/tree/main/plugin
 */

"use strict";

const PLUGIN_NAME = "Tallybell";

const NEEDS_UPDATE = "Tallybell needs an update for this Discord version.";
const NO_DISPATCHER = "Discord's message events were not found, so no notifications can be forwarded; " + NEEDS_UPDATE;

function logInfo(...args) {
  console.log(`[${PLUGIN_NAME}]`, ...args);
}

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

