// ---- Voice feed ----------------------------------------------------------------------------

const MAX_VOICE_MESSAGE_BYTES = 4000;
const MAX_NAME_BYTES = 128;
const FEED_END = JSON.stringify({ kind: "voice", live: false });
// Each of these can change who is in the user's voice channel or how they show; the list is read
// again from the stores after them, at most once per REBUILD_MS however many come.
const VOICE_ACTIONS = ["VOICE_CHANNEL_SELECT", "VOICE_STATE_UPDATES", "PASSIVE_UPDATE_V2", "RTC_CONNECTION_STATE",
  "CALL_CREATE", "CALL_DELETE", "GUILD_MEMBER_UPDATE", "USER_UPDATE", "RELATIONSHIP_ADD", "RELATIONSHIP_UPDATE",
  "RELATIONSHIP_REMOVE", "CHANNEL_UPDATES", "CHANNEL_UPDATE", "GUILD_DELETE", "AUDIO_TOGGLE_SELF_MUTE", "AUDIO_SET_SELF_MUTE",
  "AUDIO_SET_TEMPORARY_SELF_MUTE", "AUDIO_TOGGLE_SELF_DEAF", "AUDIO_TOGGLE_LOCAL_MUTE"];
// These change one member's ring only: that member's flag is read again at once, nothing else.
const RING_ACTIONS = ["SPEAKING", "GUILD_SOUNDBOARD_SOUND_PLAY_START", "GUILD_SOUNDBOARD_SOUND_PLAY_END"];
// About a frame: a burst of voice actions (a stage filling up, Discord's start-up refill) costs one rebuild.
const REBUILD_MS = 16;
// Store, and the method without which the voice channel cannot be read.
const VOICE_NEEDS = [["VoiceStateStore", "getVoiceStatesForChannel"], ["SelectedChannelStore", "getVoiceChannelId"],
  ["UserStore", "getUser"], ["ChannelStore", "getChannel"], ["SpeakingStore", "isSpeaking"]];
const VOICE_HELPERS = ["GuildMemberStore", "RelationshipStore", "RTCConnectionStore", "AuthenticationStore", "MediaEngineStore",
  "SoundboardStore"];

// The voice states of a channel as they are now: VoiceStateStore hands out its live object, keyed by
// user id, which changes under a holder's feet (its records do not: a change replaces one); some
// Discord versions give an array of wrappers.
function voiceStatesOf(value) {
  const entries = Array.isArray(value) ? value.map((entry) => (entry && entry.voiceState) || entry) : Object.values(value || {});
  return entries.filter((state) => state && state.userId);
}

const cleanName = (text) => cutToEncodedBytes(cleanText(text), MAX_NAME_BYTES);

// A member as it goes on the wire: its record (JSON without the ring, which travels on its own) and the ring.
const memberText = (json, speaking) => `${json.slice(0, -1)},"speaking":${speaking}}`;

// One list as the messages that carry it, each at most MAX_VOICE_MESSAGE_BYTES, members (as JSON texts) in order.
function voiceListMessages(seq, channel, selfId, memberTexts) {
  const head = JSON.stringify({ kind: "voice", seq, part: 0, parts: 1, channel, self_id: selfId }).slice(0, -1);
  const most = Math.max(1, memberTexts.length);
  // Room left for members when the part numbers take as many digits as they ever can for this list.
  const room = MAX_VOICE_MESSAGE_BYTES - utf8Length(`${head},"members":[]}`) - 2 * (String(most).length - 1);
  const chunks = [[]];
  let used = 0;
  for (const text of memberTexts) {
    const size = utf8Length(text) + 1;
    if (used + size > room && chunks.at(-1).length) {
      chunks.push([]);
      used = 0;
    }
    chunks.at(-1).push(text);
    used += size;
  }
  return chunks.map((texts, part) => head.replace('"part":0,"parts":1', `"part":${part},"parts":${chunks.length}`) +
    `,"members":[${texts.join(",")}]}`);
}

// Discord's own order (SortedVoiceStateStore): streaming first, then the server nickname or the user's
// name lower-cased, then the id, compared as one text.
const orderKey = (state, name, id) => `${state.selfStream ? "\u0000" : "\u0001"}${name.toLowerCase()}\u0000${id}`;

// Reads the user's voice channel from Discord's stores (rebuilding rather than applying actions: no
// action is replayed for a late subscriber, and Discord wipes and refills the states at start-up) and
// tells Voxmere what changed: the whole list first and on a channel change, then one member at a time.
// Rings change many times a second and touch only their member.
class VoiceFeed {
  constructor(dispatcher, send, onNeedsChange) {
    this.dispatcher = dispatcher;
    this.send = send;
    this.onNeedsChange = onNeedsChange || (() => {});
    this.stores = {};
    this.missing = [];
    this.running = false;
    this.seq = 0;
    // What Voxmere was last told on this connection: the channel, and each member's record and place.
    this.told = null;
    // Rings as Voxmere last heard them, for the members of the list it has.
    this.rings = new Map();
    this.guildId = null;
    // Each member of the last rebuild, with what it was made from.
    this.members = new Map();
    // The voice channel the user picked while this feed ran: no stale restored selection.
    this.pickedHere = null;
    this.rebuildTimer = null;
    this.retryTimer = null;
    this.retriesLeft = 0;
    this.onAction = guarded("voice update", (action) => this.handle(action));
    this.onRing = guarded("voice ring", (action) => this.ringAction(action));
    this.onRebuild = guarded("voice update", () => {
      this.rebuildTimer = null;
      this.rebuild(false);
    });
  }

  start() {
    if (this.running || !this.dispatcher) return;
    this.running = true;
    this.retriesLeft = STORE_LOOKS;
    for (const type of VOICE_ACTIONS) this.dispatcher.subscribe(type, this.onAction);
    for (const type of RING_ACTIONS) this.dispatcher.subscribe(type, this.onRing);
    this.rebuild(true);
  }

  // Tells Voxmere the feed ends; it then falls back to what else it has.
  stop() {
    if (!this.running) return;
    this.running = false;
    for (const type of VOICE_ACTIONS) this.dispatcher.unsubscribe(type, this.onAction);
    for (const type of RING_ACTIONS) this.dispatcher.unsubscribe(type, this.onRing);
    clearTimeout(this.retryTimer);
    clearTimeout(this.rebuildTimer);
    this.retryTimer = this.rebuildTimer = null;
    this.send(FEED_END);
    this.forget();
  }

  // A Voxmere that has just (re)connected knows nothing of the channel yet.
  resend() {
    this.forget();
    if (this.running) this.rebuild(true);
  }

  forget() {
    this.told = null;
    this.rings = new Map();
  }

  handle(action) {
    if (!this.running) return;
    // Go Live streams have connections of their own; member changes elsewhere are none of the list's.
    if (action.type === "RTC_CONNECTION_STATE" && action.streamKey) return;
    if (action.type === "GUILD_MEMBER_UPDATE" && action.guildId !== this.guildId) return;
    if (action.type === "USER_UPDATE" && action.user && !this.rings.has(String(action.user.id))) return;
    if (action.type === "VOICE_CHANNEL_SELECT") this.pickedHere = action.channelId || null;
    if (!this.rebuildTimer) this.rebuildTimer = setTimeout(this.onRebuild, REBUILD_MS);
  }

  // The stream's own speaking states ("stream" context) are not the member's ring.
  ringAction(action) {
    if (!this.running || (action.type === "SPEAKING" && (action.context || "default") !== "default")) return;
    const id = String(action.userId);
    const told = this.rings.get(id);
    if (told === undefined) return;
    const speaking = this.ringOf(id);
    if (told !== speaking && this.send(`{"kind":"speaking","user_id":${JSON.stringify(id)},"speaking":${speaking}}`)) {
      this.rings.set(id, speaking);
    }
  }

  // Voice, soundshare or a soundboard sound, as Discord's list lights the ring.
  ringOf(id) {
    const s = this.stores;
    return !!(call(s.SpeakingStore, "isSpeaking", id, "default") || call(s.SpeakingStore, "isSoundSharing", id, "default") ||
      call(s.SoundboardStore, "isUserPlayingSounds", id));
  }

  // A store that is still missing is looked for at every rebuild while the feed cannot work without
  // it, and otherwise only at start, on reconnection and on the retries.
  findStores(everyStore) {
    const names = VOICE_NEEDS.map(([store]) => store);
    for (const name of everyStore ? [...names, ...VOICE_HELPERS] : names) {
      if (!this.stores[name]) this.stores[name] = findStore(name);
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
    return this.missing.length ? `Voice channel: ${notFound(this.missing)}, so Voxmere gets no voice channel from Tallybell; ` +
      NEEDS_UPDATE : "";
  }

  rebuild(everyStore) {
    const complete = this.findStores(everyStore);
    const list = complete ? this.readChannel() : null;
    if (!complete || (list && list.members.some((member) => !member.name))) this.retryLater();
    if (list) this.tell(list);
  }

  retryLater() {
    if (this.retryTimer || this.retriesLeft <= 0) return;
    this.retriesLeft -= 1;
    this.retryTimer = setTimeout(() => {
      this.retryTimer = null;
      if (this.running) this.rebuild(true);
    }, STORE_LOOK_AGAIN_MS);
  }

  readChannel() {
    const s = this.stores;
    const me = call(s.UserStore, "getCurrentUser") || null;
    const channelId = me && this.connectedChannelId(me.id);
    const channel = channelId ? call(s.ChannelStore, "getChannel", channelId) : null;
    const selfId = me ? String(me.id) : null;
    this.guildId = (channel && channel.guild_id) || null;
    if (!channel) return { channel: null, selfId, members: [] };
    const members = this.statesOf(channelId).map((state) => this.memberOf(state, this.guildId, selfId));
    this.members = new Map(members.map((member) => [member.id, member]));
    members.sort((a, b) => (a.order < b.order ? -1 : a.order > b.order ? 1 : 0));
    return { channel: { id: String(channel.id), guild_id: this.guildId, type: channel.type, name: cleanName(channel.name || "") }, selfId, members };
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

  // The member as Discord's list shows them; the user's own mute and deafen come from the media engine,
  // which has them before the server echoes them into the voice state. Discord replaces a record when it
  // changes, so a member whose records and answers are the ones of the last rebuild is reused as it was.
  memberOf(state, guildId, selfId) {
    const s = this.stores;
    const id = String(state.userId);
    const own = id === selfId;
    const engine = s.MediaEngineStore;
    const inputs = [
      state,
      call(s.UserStore, "getUser", id) || null,
      guildId,
      guildId ? call(s.GuildMemberStore, "getMember", guildId, id) : null,
      // In a server the nickname; in a call the friend nickname.
      guildId ? call(s.GuildMemberStore, "getNick", guildId, id) : call(s.RelationshipStore, "getNickname", id),
      own && engine ? !!call(engine, "isSelfMute") : state.selfMute,
      own && engine ? !!call(engine, "isSelfDeaf") : state.selfDeaf,
      !own && !!call(engine, "isLocalMute", id, "default"),
    ];
    const cached = this.members.get(id);
    return cached && cached.inputs.every((value, i) => value === inputs[i]) ? cached : this.lookOf(id, inputs);
  }

  lookOf(id, inputs) {
    const [state, user, guildId, member, nick, selfMute, selfDeaf, localMute] = inputs;
    const ownName = (user && (user.globalName || user.username)) || "";
    // A friend nickname shows, but Discord orders a call by the user's own name.
    const serverNick = guildId ? nick : null;
    const guildAvatar = guildId ? ((user && user.guildMemberAvatars) || {})[guildId] || (member && member.avatar) : null;
    const record = {
      id,
      name: cleanName(nick || ownName),
      avatar: (user && user.avatar) || null,
      guild_avatar: guildAvatar || null,
      bot: !!(user && user.bot),
      mute: !!(selfMute || state.mute || state.suppress || state.requestToSpeakTimestamp != null),
      local_mute: localMute,
      deaf: !!(state.deaf || selfDeaf),
      live: !!state.selfStream,
      video: !!state.selfVideo,
    };
    const order = orderKey(state, serverNick || ownName, id), json = JSON.stringify(record);
    // The order counts too: in a call it follows a name the record does not carry.
    return { inputs, id, name: record.name, order, json, key: `${order}\n${json}` };
  }

  // The whole list when Voxmere has none for this channel (or most of it changed), else one message
  // per member added, changed or gone.
  tell(list) {
    const channelKey = list.channel && JSON.stringify(list.channel);
    const told = this.told;
    const fresh = !told || told.channelKey !== channelKey || told.selfId !== list.selfId;
    const changes = fresh ? null : this.changesFrom(told, list.members);
    if (changes && !changes.length) return;
    const whole = !changes || changes.length * 2 > list.members.length + 1;
    // Rings Voxmere has stay as told (ring actions keep them current); others are read now.
    const rings = new Map(list.members.map(({ id }) => [id, whole ? this.ringOf(id) : this.rings.get(id) ?? this.ringOf(id)]));
    if (whole) this.seq += 1;
    const messages = whole ? voiceListMessages(this.seq, list.channel, list.selfId, list.members.map((m) => memberText(m.json, rings.get(m.id))))
      : changes.map((change) => this.memberMessage(change, rings));
    if (!messages.every((text) => this.send(text))) {
      this.forget();
      return;
    }
    this.told = { channelKey, selfId: list.selfId, keys: new Map(list.members.map((member) => [member.id, member.key])) };
    this.rings = rings;
  }

  // Removals first; then, from the end of the new order, each member added, changed or moved, placed
  // before the one that follows it there. Members whose record and order key stayed keep their order
  // among themselves, so once each other one is placed Voxmere's list is the new one.
  changesFrom(told, members) {
    const present = new Set(members.map((member) => member.id));
    const changes = [...told.keys.keys()].filter((id) => !present.has(id)).map((id) => ({ op: "remove", id }));
    for (let i = members.length - 1; i >= 0; i -= 1) {
      const was = told.keys.get(members[i].id);
      if (was === members[i].key) continue;
      changes.push({ op: was === undefined ? "add" : "change", member: members[i], before: i + 1 < members.length ? members[i + 1].id : null });
    }
    return changes;
  }

  memberMessage(change, rings) {
    this.seq += 1;
    if (change.op === "remove") return JSON.stringify({ kind: "member", seq: this.seq, op: "remove", id: change.id });
    const { member } = change;
    return `{"kind":"member","seq":${this.seq},"op":"${change.op}","member":${memberText(member.json, rings.get(member.id))},` +
      `"before":${JSON.stringify(change.before)}}`;
  }
}
