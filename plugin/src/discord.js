// ---- Discord side --------------------------------------------------------------------------


// The stores the plugin reads, by the names BetterDiscord's getStore knows them by.
const STORE_NAMES = {
  users: "UserStore",
  channels: "ChannelStore",
  guilds: "GuildStore",
  members: "GuildMemberStore",
  roles: "GuildRoleStore",
  selectedChannel: "SelectedChannelStore",
  guildSettings: "UserGuildSettingsStore",
  relationships: "RelationshipStore",
  presence: "SelfPresenceStore",
  streamerMode: "StreamerModeStore",
  messageRequests: "MessageRequestStore",
  spamRequests: "SpamMessageRequestStore",
  threads: "JoinedThreadsStore",
  lurking: "LurkingStore",
  // Quiet Mode's store was not found in public code under any name; this one is the likeliest, and its
  // absence leaves cards as they were.
  quietMode: "QuietModeStore",
};

// Discord's UI event bus also has subscribe, unsubscribe and dispatch, but never carries
// MESSAGE_CREATE; only the Flux dispatcher has stores `register` with it.
const DISPATCHER_METHODS = ["subscribe", "unsubscribe", "dispatch", "register"];

function isFluxDispatcher(candidate) {
  try {
    return !!candidate && DISPATCHER_METHODS.every((key) => typeof candidate[key] === "function");
  } catch (error) {
    return false; // some exports are proxies that throw on unknown keys
  }
}

// Every Flux store holds the dispatcher it registered with; a search of every export by the
// dispatcher's own keys is the way when no store is at hand.
function findDispatcher(stores) {
  const fromStore = Object.values(stores).map((store) => store && store._dispatcher).find(isFluxDispatcher);
  if (fromStore) return fromStore;
  const webpack = BdApi.Webpack;
  if (typeof webpack.getByKeys !== "function") return null;
  const found = webpack.getByKeys("dispatch", "subscribe", "register", { searchExports: true });
  return isFluxDispatcher(found) ? found : null;
}

function loadDiscordModules() {
  const webpack = BdApi.Webpack;
  const stores = {};
  for (const [key, name] of Object.entries(STORE_NAMES)) {
    stores[key] = (typeof webpack.getStore === "function" && webpack.getStore(name)) || null;
  }
  return { ...stores, dispatcher: findDispatcher(stores) };
}

function call(store, method, ...args) {
  return store && typeof store[method] === "function" ? store[method](...args) : undefined;
}

function discordWindowHasFocus() {
  const doc = globalThis.document;
  return !!(doc && typeof doc.hasFocus === "function" && doc.hasFocus());
}

// The member's picture for this server when they set one, else their own.
function avatarUrlOf(author, guildId, member) {
  if (guildId && member && member.avatar) {
    return `https://cdn.discordapp.com/guilds/${guildId}/users/${author.id}/avatars/${member.avatar}.png`;
  }
  if (author.avatar) return `https://cdn.discordapp.com/avatars/${author.id}/${author.avatar}.png`;
  let index = 0;
  try {
    index = author.discriminator && author.discriminator !== "0"
      ? Number(author.discriminator) % 5
      : Number((BigInt(author.id) >> 22n) % 6n);
  } catch (error) {
    index = 0;
  }
  return `https://cdn.discordapp.com/embed/avatars/${index}.png`;
}

// The server member record, or null in a DM or while Discord has not loaded it.
function memberOf(discord, guildId, userId) {
  return guildId ? call(discord.members, "getMember", guildId, userId) : null;
}
