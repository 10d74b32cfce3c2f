// ---- Discord side --------------------------------------------------------------------------


// The stores the plugin reads, by the names BetterDiscord's getStore knows them by.
const STORE_NAMES = {
  users: "UserStore",
  channels: "ChannelStore",
  guilds: "GuildStore",
  members: "GuildMemberStore",
  roles: "GuildRoleStore",
  selectedChannel: "SelectedChannelStore",
  selectedGuild: "SelectedGuildStore",
  channelSections: "ChannelSectionStore",
  guildSettings: "UserGuildSettingsStore",
  // Quiet Mode is a user setting, read from here.
  userSettings: "UserSettingsProtoStore",
  relationships: "RelationshipStore",
  presence: "SelfPresenceStore",
  streamerMode: "StreamerModeStore",
  messageRequests: "MessageRequestStore",
  rpcNotifications: "RpcNotificationSettingsStore",
  spamRequests: "SpamMessageRequestStore",
  threads: "JoinedThreadsStore",
  lurking: "LurkingStore",
  rtc: "RTCConnectionStore",
  activities: "EmbeddedActivitiesStore",
  gameStats: "LibraryApplicationStatisticsStore",
  gameMentions: "GameMentionSettingsStore",
};
// Some stores load only after the plugin starts: one still missing is looked for again for about a minute.
const STORE_LOOK_AGAIN_MS = 2000;
const STORE_LOOKS = 30;

// A registered Flux store by its name, or null while its module has not run yet.
function findStore(name) {
  const webpack = globalThis.BdApi && BdApi.Webpack;
  return (webpack && typeof webpack.getStore === "function" && webpack.getStore(name)) || null;
}

// "Discord's A.b and C.d were not found", for the console, the toast and the settings panel.
function notFound(missing) {
  return `Discord's ${missing.join(", ")} ${missing.length > 1 ? "were" : "was"} not found`;
}

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
  const fromStore = stores.map((store) => store && store._dispatcher).find(isFluxDispatcher);
  if (fromStore) return fromStore;
  const webpack = BdApi.Webpack;
  if (typeof webpack.getByKeys !== "function") return null;
  const found = webpack.getByKeys("dispatch", "subscribe", "register", { searchExports: true });
  return isFluxDispatcher(found) ? found : null;
}

// Discord's stores as last found, a field each (STORE_NAMES), and the dispatcher. `needs` lists the
// store members without which the cards cannot follow Discord's rule, as [field, member].
class DiscordStores {
  constructor(needs, onMissingChange) {
    for (const key of Object.keys(STORE_NAMES)) this[key] = null;
    this.dispatcher = null;
    this.needs = needs;
    this.onMissingChange = onMissingChange || (() => {});
    this.missing = [];
    this.looksLeft = 0;
    this.timer = null;
  }

  start() {
    this.looksLeft = STORE_LOOKS;
    this.look();
    const found = Object.keys(STORE_NAMES).map((key) => this[key]);
    this.dispatcher = findDispatcher(found);
  }

  stop() {
    clearTimeout(this.timer);
    this.timer = null;
  }

  look() {
    for (const [key, name] of Object.entries(STORE_NAMES)) {
      if (!this[key]) this[key] = findStore(name);
    }
    // A member may be a getter on the store's class, so presence is tested with `in`.
    const missing = this.needs.filter(([key, member]) => !this[key] || !(member in this[key]))
      .map(([key, member]) => `${STORE_NAMES[key]}.${member}`);
    if (missing.join() !== this.missing.join()) {
      this.missing = missing;
      this.onMissingChange();
    }
    if (!missing.length || this.looksLeft <= 0) return;
    this.looksLeft -= 1;
    this.timer = setTimeout(() => {
      this.timer = null;
      this.look();
    }, STORE_LOOK_AGAIN_MS);
  }

  // What keeps cards from following Discord's rule, for the console, the toast and the settings panel.
  problem() {
    if (!this.missing.length) return "";
    return `Cards: ${notFound(this.missing)}, so Tallybell sends no cards; ${NEEDS_UPDATE}`;
  }
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
