// ---- Voice feed ----------------------------------------------------------------------------

const MAX_VOICE_MESSAGE_BYTES = 4000;
const MAX_NAME_BYTES = 128;
const CHANNEL_STAGE = 13;
const FEED_END = JSON.stringify({ kind: "voice", live: false });
// Each of these can change who is in the user's voice channel or how they show; the list is read
// again from the stores after every one of them.
const VOICE_ACTIONS = ["VOICE_CHANNEL_SELECT", "VOICE_STATE_UPDATES", "PASSIVE_UPDATE_V2", "RTC_CONNECTION_STATE",
  "CALL_CREATE", "CALL_DELETE", "SPEAKING"];
// Store, and the method without which the voice channel cannot be read.
const VOICE_NEEDS = [["VoiceStateStore", "getVoiceStatesForChannel"], ["SelectedChannelStore", "getVoiceChannelId"],
  ["UserStore", "getUser"], ["ChannelStore", "getChannel"], ["SpeakingStore", "isSpeaking"]];
const VOICE_HELPERS = ["GuildMemberStore", "RelationshipStore", "RTCConnectionStore", "AuthenticationStore"];
// A store missing at start may still be loading; it is looked for again for about a minute.
const STORE_RETRY_MS = 2000;
const STORE_RETRIES = 30;

// The voice states of a channel as copies: VoiceStateStore hands out its live object, keyed by
// user id, which changes under a holder's feet; some Discord versions give an array of wrappers.
function voiceStatesOf(value) {
  const entries = Array.isArray(value) ? value.map((entry) => (entry && entry.voiceState) || entry) : Object.values(value || {});
  return entries.filter((state) => state && state.userId).map((state) => ({ ...state }));
}

const cleanName = (text) => cutToEncodedBytes(cleanText(text), MAX_NAME_BYTES);

// One list as the messages that carry it, each at most MAX_VOICE_MESSAGE_BYTES, members in order.
function voiceListMessages(seq, list) {
  const head = { kind: "voice", seq, part: 0, parts: 1, channel: list.channel, self_id: list.self_id };
  // Room left for members when the part numbers take as many digits as they ever can for this list.
  const most = Math.max(1, list.members.length);
  const room = MAX_VOICE_MESSAGE_BYTES - utf8Length(JSON.stringify({ ...head, part: most, parts: most, members: [] }));
  const chunks = [[]];
  let used = 0;
  for (const member of list.members) {
    const size = utf8Length(JSON.stringify(member)) + 1;
    if (used + size > room && chunks.at(-1).length) {
      chunks.push([]);
      used = 0;
    }
    chunks.at(-1).push(member);
    used += size;
  }
  return chunks.map((members, part) => JSON.stringify({ ...head, part, parts: chunks.length, members }));
}

// Speaking flags change many times a second and travel as messages of their own, so they do not
// make a list differ.
const listKey = (list) => JSON.stringify({ ...list, members: list.members.map(({ speaking, ...rest }) => rest) });

// Reads the user's voice channel from Discord's stores after each voice action (rebuilding rather than
// applying the action: no action is replayed for a late subscriber, and Discord wipes and refills the
// states at start-up) and sends the list to Voxmere when it differs from the last one sent.
class VoiceFeed {
  constructor(dispatcher, send, onNeedsChange) {
    this.dispatcher = dispatcher;
    this.send = send;
    this.onNeedsChange = onNeedsChange || (() => {});
    this.stores = {};
    this.missing = [];
    this.running = false;
    this.seq = 0;
    this.sentKey = null;
    // The voice channel the user picked while this feed ran: no stale restored selection.
    this.pickedHere = null;
    // Speaking flags as Voxmere last heard them, for the members of the list it has.
    this.told = new Map();
    this.retryTimer = null;
    this.retriesLeft = 0;
    this.onAction = guarded("voice update", (action) => this.handle(action));
  }

  start() {
    if (this.running || !this.dispatcher) return;
    this.running = true;
    this.retriesLeft = STORE_RETRIES;
    for (const type of VOICE_ACTIONS) this.dispatcher.subscribe(type, this.onAction);
    this.onAction({ type: "START" });
  }

  // Tells Voxmere the feed ends; it then falls back to what else it has.
  stop() {
    if (!this.running) return;
    this.running = false;
    for (const type of VOICE_ACTIONS) this.dispatcher.unsubscribe(type, this.onAction);
    clearTimeout(this.retryTimer);
    this.retryTimer = null;
    this.send(FEED_END);
    this.sentKey = null;
  }

  // A Voxmere that has just (re)connected knows nothing of the channel yet.
  resend() {
    this.sentKey = null;
    this.onAction({ type: "RESEND" });
  }

  handle(action) {
    if (!this.running) return;
    // Go Live streams and their sound have connections and speaking states of their own.
    if (action.type === "RTC_CONNECTION_STATE" && action.streamKey) return;
    if (action.type === "SPEAKING" && (action.context || "default") !== "default") return;
    if (action.type === "VOICE_CHANNEL_SELECT") this.pickedHere = action.channelId || null;
    const list = this.read(["START", "RETRY", "RESEND"].includes(action.type));
    if (list && listKey(list) !== this.sentKey) this.sendList(list);
    if (action.type === "SPEAKING") this.speakingChanged(action);
  }

  // A store that is still missing is looked for on every action while the feed cannot work without
  // it, and otherwise only now and then: SPEAKING comes many times a second.
  findStores(everyStore) {
    const webpack = globalThis.BdApi && BdApi.Webpack;
    const names = VOICE_NEEDS.map(([store]) => store);
    for (const name of everyStore ? [...names, ...VOICE_HELPERS] : names) {
      if (!this.stores[name] && webpack && typeof webpack.getStore === "function") this.stores[name] = webpack.getStore(name) || null;
    }
    const missing = VOICE_NEEDS.filter(([store, method]) => !this.stores[store] || typeof this.stores[store][method] !== "function")
      .map(([store, method]) => `${store}.${method}`);
    if (missing.join() !== this.missing.join()) {
      this.missing = missing;
      if (missing.length) logInfo(this.problem());
      this.onNeedsChange();
    }
    return !missing.length;
  }

  // What keeps the feed from working, for the console and the settings panel; "" when nothing does.
  problem() {
    if (!this.dispatcher) return "Voice channel: " + NO_DISPATCHER;
    return this.missing.length ? `Voice channel: Discord's ${this.missing.join(", ")} ${this.missing.length > 1 ? "were" : "was"} not ` +
      `found, so Voxmere gets no voice channel from Tallybell; ${NEEDS_UPDATE}` : "";
  }

  // The list as it stands, or null while a store it needs is missing (then looked for again later).
  read(everyStore) {
    const complete = this.findStores(everyStore);
    const list = complete ? this.readChannel() : null;
    const waitingForNames = !!list && list.members.some((member) => !member.name);
    if (!complete || waitingForNames) this.retryLater();
    return list;
  }

  retryLater() {
    if (this.retryTimer || this.retriesLeft <= 0) return;
    this.retriesLeft -= 1;
    this.retryTimer = setTimeout(() => {
      this.retryTimer = null;
      this.onAction({ type: "RETRY" });
    }, STORE_RETRY_MS);
  }

  readChannel() {
    const s = this.stores;
    const me = call(s.UserStore, "getCurrentUser") || null;
    const channelId = me && this.connectedChannelId(me.id);
    const channel = channelId ? call(s.ChannelStore, "getChannel", channelId) : null;
    const selfId = me ? String(me.id) : null;
    if (!channel) return { channel: null, self_id: selfId, members: [] };
    const guildId = channel.guild_id || null;
    return {
      channel: { id: String(channel.id), guild_id: guildId, type: channel.type, name: cleanName(channel.name || "") },
      self_id: selfId,
      members: this.statesOf(channelId).map((state) => this.memberOf(state, channel, guildId)),
    };
  }

  statesOf(channelId) {
    return voiceStatesOf(call(this.stores.VoiceStateStore, "getVoiceStatesForChannel", channelId));
  }

  // The selected voice channel is restored from local storage at start-up, so it can name a channel
  // this client is not (yet) connected to: it counts once the user picked it, or the voice connection
  // or the user's own voice state of this session is there.
  connectedChannelId(myId) {
    const s = this.stores;
    const id = call(s.SelectedChannelStore, "getVoiceChannelId");
    if (!id) return null;
    if (id === this.pickedHere || call(s.RTCConnectionStore, "getChannelId") === id) return id;
    const mine = this.statesOf(id).find((state) => state.userId === myId);
    const session = call(s.AuthenticationStore, "getSessionId");
    return mine && (!session || !mine.sessionId || mine.sessionId === session) ? id : null;
  }

  memberOf(state, channel, guildId) {
    const s = this.stores;
    const id = String(state.userId);
    const user = call(s.UserStore, "getUser", id) || null;
    // In a server its nickname; in a call the friend nickname the user gave.
    const nick = guildId ? call(s.GuildMemberStore, "getNick", guildId, id) : call(s.RelationshipStore, "getNickname", id);
    const member = guildId ? call(s.GuildMemberStore, "getMember", guildId, id) : null;
    const guildAvatar = guildId ? ((user && user.guildMemberAvatars) || {})[guildId] || (member && member.avatar) : null;
    return {
      id,
      name: cleanName(nick || (user && (user.globalName || user.global_name || user.username)) || ""),
      avatar: (user && user.avatar) || null,
      guild_avatar: guildAvatar || null,
      bot: !!(user && user.bot),
      mute: !!(state.mute || state.selfMute || (channel.type === CHANNEL_STAGE && state.suppress)),
      deaf: !!(state.deaf || state.selfDeaf),
      speaking: !!call(s.SpeakingStore, "isSpeaking", id, "default"),
    };
  }

  sendList(list) {
    this.seq += 1;
    const messages = voiceListMessages(this.seq, list);
    if (!messages.every((text) => this.send(text))) return;
    this.sentKey = listKey(list);
    this.told = new Map(list.members.map((member) => [member.id, member.speaking]));
  }

  speakingChanged(action) {
    const id = String(action.userId);
    if (!this.told.has(id)) return;
    const speaking = !!call(this.stores.SpeakingStore, "isSpeaking", id, "default");
    if (this.told.get(id) === speaking) return;
    if (this.send(JSON.stringify({ kind: "speaking", user_id: id, speaking }))) this.told.set(id, speaking);
  }
}

// ---- Discord side --------------------------------------------------------------------------
