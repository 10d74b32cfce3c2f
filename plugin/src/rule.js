// ---- Which messages make a card ----------------------------------------------------------

const CHANNEL_DM = 1;
const CHANNEL_GROUP_DM = 3;
const PRIVATE_CHANNEL_TYPES = new Set([CHANNEL_DM, CHANNEL_GROUP_DM]);
// Voice and stage channels: their chat counts only while this client is connected there.
const VOICE_CHANNEL_TYPES = new Set([2, 13]);
const THREAD_TYPES = new Set([10, 11, 12]);
const FLAG_EPHEMERAL = 64;
const FLAG_SILENT = 4096;
const FLAG_VOICE_MESSAGE = 8192;
// Discord's user flag for an account it flags as a spammer.
const FLAG_SPAMMER = 1 << 20;
const REFERENCE_FORWARD = 1;
// Ordinary messages, replies and slash-command answers. Stricter than Discord, by choice: joins,
// pins, boosts and replies only the user can see are not worth a card over a game.
const CHAT_MESSAGE_TYPES = new Set([0, 19, 20, 23]);
// The user's own notification level of a thread (JoinedThreadsStore.flags), checked in this order.
const THREAD_ALL = 2;
const THREAD_MENTIONS = 4;
const THREAD_NOTHING = 8;
// A channel's level as UserGuildSettingsStore resolves it.
const LEVEL_MENTIONS = 1;
const LEVEL_NOTHING = 2;
// A game mention counts for a game the user played within this time and did not mute mentions of.
const GAME_MENTION_WINDOW_MS = 60 * 24 * 3600 * 1000;

// What the rule reads, as [DiscordStores field, member]; with one missing no card goes out.
const RULE_NEEDS = [
  ["users", "getCurrentUser"], ["users", "getUser"], ["channels", "getChannel"], ["guilds", "getGuild"],
  ["members", "getMember"], ["lurking", "isLurking"], ["relationships", "isBlockedOrIgnored"],
  ["relationships", "isBlockedOrIgnoredForMessage"], ["presence", "getStatus"], ["userSettings", "settings"],
  ["streamerMode", "disableNotifications"], ["guildSettings", "allowNoMessages"], ["guildSettings", "allowAllMessages"],
  ["guildSettings", "isGuildOrCategoryOrChannelMuted"], ["guildSettings", "resolvedMessageNotifications"],
  ["guildSettings", "isSuppressEveryoneEnabled"], ["guildSettings", "isSuppressRolesEnabled"],
  ["messageRequests", "isMessageRequest"], ["spamRequests", "isSpam"], ["rpcNotifications", "areSlayerNotificationsSuppressed"], ["selectedChannel", "getChannelId"],
  ["selectedGuild", "getGuildId"], ["channelSections", "getCurrentSidebarChannelId"], ["threads", "isMuted"],
  ["threads", "flags"], ["rtc", "getChannelId"], ["activities", "getCurrentEmbeddedActivity"],
  ["gameStats", "getLastPlayedDateTime"], ["gameMentions", "getMute"],
];

// Which messages Voxmere shows as cards: Discord's own rule (its NotificationTextUtils.shouldNotify), in
// its order, with the user's opt-in settings.
class NotificationRule {
  // The settings are read at each message: the panel changes them while Discord runs.
  constructor(discord, readSettings) {
    this.discord = discord;
    this.readSettings = readSettings;
  }

  get settings() {
    return this.readSettings();
  }

  // The message's channel and author as Discord's stores have them (null when not loaded) and its server.
  whereOf(action) {
    const d = this.discord;
    const channelId = action.channelId || action.message.channel_id;
    const channel = call(d.channels, "getChannel", channelId) || null;
    const author = (action.message.author && call(d.users, "getUser", action.message.author.id)) || null;
    return { channelId, channel, guildId: (channel && channel.guild_id) || null, author };
  }

  shouldForward(action) {
    const message = action && action.message;
    if (!message || !message.author || action.optimistic || this.discord.missing.length) return false;
    const flags = message.flags || 0;
    if (!CHAT_MESSAGE_TYPES.has(message.type ?? 0) || flags & FLAG_EPHEMERAL) return false;
    // Discord's steps from here, in its order: @silent; the channel, the user and the author loaded; ...
    if (flags & FLAG_SILENT) return false;
    const where = this.whereOf(action);
    const me = call(this.discord.users, "getCurrentUser");
    if (!where.channel || !me || !where.author || this.heldByGame(where.channel)) return false;
    if (PRIVATE_CHANNEL_TYPES.has(where.channel.type) && !this.settings.directMessages) return false;
    const mutesLifted = this.settings.mentionsWhenMuted && this.settings.mentions && this.namesMe(message, where, me);
    const d = this.discord;
    // ... the base check; message requests; the channel being read; blocked authors and the user's own
    // activity; the level of a thread or of any other channel.
    return this.passesBase(message, where, me, mutesLifted) &&
      !call(d.messageRequests, "isMessageRequest", where.channelId) && !call(d.spamRequests, "isSpam", where.channelId) &&
      !this.beingRead(where.channel) && !this.blockedOrOwnActivity(message, where, me) &&
      (THREAD_TYPES.has(where.channel.type) ? this.threadAllows(message, where, me, mutesLifted)
        : this.channelAllows(message, where, me));
  }

  // A game connected to Discord may ask it to hold direct messages and its lobby's chat.
  heldByGame(channel) {
    return (channel.type === CHANNEL_DM || channel.linkedLobby != null) &&
      !!call(this.discord.rpcNotifications, "areSlayerNotificationsSuppressed");
  }

  // Author, server, status and the channel's own silence.
  passesBase(message, { channel, guildId, author }, me, mutesLifted) {
    const d = this.discord;
    const s = this.settings;
    if (call(author, "hasFlag", FLAG_SPAMMER) || call(channel, "isManaged")) return false;
    if (guildId && call(d.lurking, "isLurking", guildId)) return false;
    if (author.id === me.id || call(d.relationships, "isBlockedOrIgnored", author.id)) return false;
    if (call(d.presence, "getStatus") === "dnd" && !s.whileDoNotDisturb) return false;
    if (this.quietMode()) return false;
    if (d.streamerMode.disableNotifications && !s.whileStreaming) return false;
    return !call(d.guildSettings, "allowNoMessages", channel) || (mutesLifted && !this.silentBesidesMutes(channel));
  }

  quietMode() {
    const notifications = (this.discord.userSettings.settings || {}).notifications;
    return !!(notifications && notifications.quietMode && notifications.quietMode.value);
  }

  // Set to nothing, or not opted in on a server that asks for it: a mute is not all that keeps it quiet.
  silentBesidesMutes(channel) {
    const settings = this.discord.guildSettings;
    return call(settings, "resolvedMessageNotifications", channel) === LEVEL_NOTHING ||
      !!(call(settings, "isOptInEnabled", channel.guild_id) && !call(settings, "isChannelRecordOrParentOptedIn", channel));
  }

  // The channel on screen, or the thread open beside it, while Discord has focus: the user reads it already.
  beingRead(channel) {
    if (this.settings.focusedChannel || !discordWindowHasFocus()) return false;
    const d = this.discord;
    const selected = call(d.selectedChannel, "getChannelId", call(d.selectedGuild, "getGuildId"));
    return selected != null && (selected === channel.id || call(d.channelSections, "getCurrentSidebarChannelId", selected) === channel.id);
  }

  // A blocked or ignored author's message, or one of the activity the user runs there.
  blockedOrOwnActivity(message, { channelId }, me) {
    if (call(this.discord.relationships, "isBlockedOrIgnoredForMessage", message)) return true;
    const interaction = message.interaction;
    if (message.activity_instance !== undefined && interaction && interaction.user && interaction.user.id === me.id) return true;
    if (message.application_id == null) return false;
    const running = call(this.discord.activities, "getCurrentEmbeddedActivity");
    return !!(running && running.applicationId === message.application_id && running.location &&
      running.location.channel_id === channelId);
  }

  // A thread follows its own level; its mentions ignore the server's suppress settings.
  threadAllows(message, where, me, mutesLifted) {
    if (call(this.discord.threads, "isMuted", where.channel.id) && !mutesLifted) return false;
    const level = this.threadLevel(where.channel, mutesLifted);
    if (level === THREAD_NOTHING) return false;
    return level === THREAD_ALL || this.chosenServer(where.guildId) || this.mentioned(message, where, me, false);
  }

  // The thread's own level; a thread not joined has none and is silent; with no level set, the parent's.
  threadLevel(thread, mutesLifted) {
    const d = this.discord;
    const flags = call(d.threads, "flags", thread.id);
    if (flags == null) return THREAD_NOTHING;
    const own = [THREAD_ALL, THREAD_MENTIONS, THREAD_NOTHING].find((level) => (flags & level) === level);
    if (own) return own;
    const parent = call(d.channels, "getChannel", thread.parent_id);
    if (!parent || (!mutesLifted && call(d.guildSettings, "isGuildOrCategoryOrChannelMuted", parent.guild_id, parent.id))) {
      return THREAD_NOTHING;
    }
    const level = call(d.guildSettings, "resolvedMessageNotifications", parent);
    return level === LEVEL_NOTHING ? THREAD_NOTHING : level === LEVEL_MENTIONS ? THREAD_MENTIONS : THREAD_ALL;
  }

  // Every other channel, direct messages included: all messages where its level says so (voice chat only
  // while connected there), else mentions as the server lets them through.
  channelAllows(message, where, me) {
    const { channel, guildId } = where;
    const d = this.discord;
    const present = !VOICE_CHANNEL_TYPES.has(channel.type) || call(d.rtc, "getChannelId") === channel.id;
    if (present && (call(d.guildSettings, "allowAllMessages", channel) || this.chosenServer(guildId))) return true;
    return this.mentioned(message, where, me, true);
  }

  // The user's own choice: every message of these servers, their muted channels aside.
  chosenServer(guildId) {
    return !!guildId && this.settings.allMessagesServers.includes(guildId);
  }

  // Discord's mention check: @everyone and @here, the user, a game they played lately, one of their roles.
  mentioned(message, where, me, serverSuppresses) {
    if (!this.settings.mentions) return false;
    const d = this.discord;
    const suppressed = (what) => serverSuppresses && !!call(d.guildSettings, what, where.guildId);
    if (message.mention_everyone && !suppressed("isSuppressEveryoneEnabled")) return true;
    if (this.namesMe(message, where, me, !suppressed("isSuppressRolesEnabled"))) return true;
    const since = Date.now() - GAME_MENTION_WINDOW_MS;
    return (message.mention_games || []).some((game) => game && !call(d.gameMentions, "getMute", game.id) &&
      (call(d.gameStats, "getLastPlayedDateTime", game.id) || 0) > since);
  }

  // The user by name, or (where counted) by a role they hold in a server Discord has loaded.
  namesMe(message, { guildId }, me, rolesCount = true) {
    if ((message.mentions || []).some((user) => user && (user.id || user) === me.id)) return true;
    const roles = message.mention_roles || [];
    if (!rolesCount || !roles.length || !guildId || !call(this.discord.guilds, "getGuild", guildId)) return false;
    const member = memberOf(this.discord, guildId, me.id);
    return !!member && roles.some((role) => (member.roles || []).includes(role));
  }
}
