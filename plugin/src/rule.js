// ---- Which messages make a card ----------------------------------------------------------

const CHANNEL_DM = 1;
const CHANNEL_GROUP_DM = 3;
// Text chat inside voice and stage channels.
const VOICE_CHANNEL_TYPES = new Set([2, 13]);
const THREAD_TYPES = new Set([10, 11, 12]);
const FLAG_EPHEMERAL = 64;
const FLAG_SILENT = 4096;
const FLAG_VOICE_MESSAGE = 8192;
// Discord's user flag for an account it flags as a spammer.
const FLAG_SPAMMER = 1 << 20;
const REFERENCE_FORWARD = 1;
// Ordinary messages, replies and slash-command answers; joins, pins and calls are not worth a card.
const CHAT_MESSAGE_TYPES = new Set([0, 19, 20, 23]);

// Which messages Voxmere shows as cards: Discord's own rule, with the user's opt-in settings.
class NotificationRule {
  // The settings are read at each message: the panel changes them while Discord runs.
  constructor(discord, readSettings) {
    this.discord = discord;
    this.readSettings = readSettings;
  }

  get settings() {
    return this.readSettings();
  }

  // The message's channel and server; a direct message has no guildId.
  whereOf(action) {
    const channelId = action.channelId || action.message.channel_id;
    const channel = call(this.discord.channels, "getChannel", channelId);
    const guildId = action.guildId || action.message.guild_id || (channel && channel.guild_id) || null;
    return { channelId, channel, guildId };
  }

  shouldForward(action) {
    const message = action && action.message;
    const author = message && message.author;
    if (!author || !author.id || action.optimistic) return false;
    if (message.type !== undefined && !CHAT_MESSAGE_TYPES.has(message.type)) return false;
    if ((message.flags || 0) & (FLAG_SILENT | FLAG_EPHEMERAL)) return false;
    const d = this.discord;
    const me = call(d.users, "getCurrentUser");
    if (!me || author.id === me.id || this.silencedByStatus()) return false;

    const { channelId, channel, guildId } = this.whereOf(action);
    if (this.isUnwanted(message, channelId)) return false;
    const reading = call(d.selectedChannel, "getChannelId") === channelId && discordWindowHasFocus();
    if (reading && !this.settings.focusedChannel) return false;

    const isDirect = !guildId || (channel && (channel.type === CHANNEL_DM || channel.type === CHANNEL_GROUP_DM));
    if (isDirect) {
      // A direct message's own level can be "nothing" without the conversation being muted.
      return this.settings.directMessages && !call(d.guildSettings, "isChannelMuted", null, channelId) &&
        !(channel && call(d.guildSettings, "allowNoMessages", channel));
    }
    // A server the user only previews sends them nothing.
    if (call(d.lurking, "isLurking", guildId)) return false;
    return this.serverChannelAllows(message, { channelId, channel, guildId }, me.id);
  }

  // Quiet Mode, Do Not Disturb, and Streamer Mode with notifications off keep Discord itself quiet.
  silencedByStatus() {
    const d = this.discord;
    if (call(d.quietMode, "isEnabled")) return true;
    if (call(d.presence, "getStatus") === "dnd" && !this.settings.whileDoNotDisturb) return true;
    return !!(d.streamerMode && d.streamerMode.disableNotifications) && !this.settings.whileStreaming;
  }

  // Blocked or ignored authors, authors flagged as spammers, message requests and spam never make a
  // notification in Discord.
  isUnwanted(message, channelId) {
    const d = this.discord;
    const record = call(d.users, "getUser", message.author.id);
    const flagged = record && typeof record.hasFlag === "function" ? record.hasFlag(FLAG_SPAMMER)
      : ((message.author.public_flags | message.author.flags) & FLAG_SPAMMER) !== 0;
    return !!(flagged || call(d.relationships, "isBlockedOrIgnored", message.author.id) ||
      call(d.relationships, "isBlockedOrIgnoredForMessage", message) ||
      call(d.messageRequests, "isMessageRequest", channelId) || call(d.spamRequests, "isSpam", channelId));
  }

  // The server's and channel's notification settings as Discord applies them.
  serverChannelAllows(message, { channelId, channel, guildId }, myId) {
    const d = this.discord;
    const isThread = !!channel && THREAD_TYPES.has(channel.type);
    if (isThread && !call(d.threads, "hasJoined", channelId)) return false;
    // A thread follows the notification level and mutes of the channel it belongs to.
    const ruling = (isThread && call(d.channels, "getChannel", channel.parent_id)) || channel;
    const mention = this.mentionOf(message, guildId, myId);
    const muted = call(d.guildSettings, "isGuildOrCategoryOrChannelMuted", guildId, ruling ? ruling.id : channelId) ||
      (isThread && call(d.threads, "isMuted", channelId));
    if (muted) return this.settings.mentionsWhenMuted && this.settings.mentions && mention === "personal";
    if (ruling && call(d.guildSettings, "allowNoMessages", ruling)) return false;
    if (this.settings.mentions && mention) return true;
    // Chat of a voice channel is worth a card only while the user is in that channel.
    if (channel && VOICE_CHANNEL_TYPES.has(channel.type) && call(d.selectedChannel, "getVoiceChannelId") !== channelId) {
      return false;
    }
    return !!(ruling && call(d.guildSettings, "allowAllMessages", ruling)) || this.settings.allMessagesServers.includes(guildId);
  }

  // "personal" (you by name or one of your roles), "everyone" (@everyone / @here), or "".
  mentionOf(message, guildId, myId) {
    const d = this.discord;
    if ((message.mentions || []).some((user) => user && (user.id || user) === myId)) return "personal";
    const member = memberOf(this.discord, guildId, myId);
    const myRoles = (member && member.roles) || [];
    if ((message.mention_roles || []).some((role) => myRoles.includes(role)) &&
        !call(d.guildSettings, "isSuppressRolesEnabled", guildId)) {
      return "personal";
    }
    if (message.mention_everyone && !call(d.guildSettings, "isSuppressEveryoneEnabled", guildId)) {
      return "everyone";
    }
    return "";
  }
}
