// ---- What the card shows ------------------------------------------------------------------

// Voxmere reads one notification per 4 KiB pipe message; the WebSocket takes the same limit.
const MAX_PAYLOAD_BYTES = 4095;
// Names, ids and addresses are short on Discord; the cap only guards the content's share.
const MAX_FIELD_BYTES = 256;
// The receiver finds each key by a plain text search, so a value that happens to end in a quoted
// key name could shadow the real key: short fixed-alphabet fields go first, free text last.
const FIELD_ORDER = ["username", "avatarUrl", "avatarHash", "userId", "displayName", "serverName",
  "channelName", "content"];

// One notification as JSON text of at most MAX_PAYLOAD_BYTES UTF-8 bytes; only the content
// gives way when the whole would be longer.
function buildPayload(fields) {
  const record = {};
  for (const key of FIELD_ORDER) {
    const value = cleanText(fields[key]);
    record[key] = key === "content" ? "" : cutToEncodedBytes(value, MAX_FIELD_BYTES);
  }
  const room = MAX_PAYLOAD_BYTES - utf8Length(JSON.stringify(record));
  record.content = cutToEncodedBytes(cleanText(fields.content), room);
  return JSON.stringify(record);
}

// The card's fields for a message, named and written as Discord's own notification shows them.
class CardText {
  constructor(discord) {
    this.discord = discord;
  }

  // `author` is the UserStore record; the message's own copy lacks what Discord names people by.
  describe(message, { channel, guildId, author }) {
    const guild = guildId ? call(this.discord.guilds, "getGuild", guildId) : null;
    const member = message.member || memberOf(this.discord, guildId, author.id);
    return {
      username: author.username || "",
      displayName: this.nameOf(author, guildId, channel),
      content: this.readableContent(message, guildId, channel),
      avatarUrl: avatarUrlOf(author, guildId, member),
      channelName: this.channelNameOf(channel, guildId),
      serverName: (guild && guild.name) || "",
      // Voxmere fetches a picture by user id and this hash, so it stays the user's own.
      avatarHash: author.avatar || "",
      userId: String(author.id),
    };
  }

  // As Discord's NicknameUtils.getName: the server nickname in a server, the friend nickname in a direct
  // or group message, else the user's own name.
  nameOf(user, guildId, channel) {
    const d = this.discord;
    const nick = guildId ? call(d.members, "getNick", guildId, user.id)
      : channel && PRIVATE_CHANNEL_TYPES.has(channel.type) ? call(d.relationships, "getNickname", user.id) : null;
    return nick || this.userName(user);
  }

  // As Discord's UserUtils.getName. Streamer Mode's "hide personal information" cuts a name that is the
  // username to its first character.
  userName(user) {
    const name = [user.global_name, user.globalName, user.username].find((text) => typeof text === "string" && text) || "???";
    const streamer = this.discord.streamerMode;
    const isUsername = typeof user.username === "string" && name.toLocaleLowerCase() === user.username.toLocaleLowerCase();
    return streamer && streamer.hidePersonalInformation && isUsername && user.discriminator === "0" ? [...name][0] + ELLIPSIS : name;
  }

  // A server channel's name, or a group's; a group without one is named after its members.
  channelNameOf(channel, guildId) {
    if (!channel || (!guildId && channel.type !== CHANNEL_GROUP_DM)) return "";
    if (guildId || channel.name) return channel.name || "";
    const d = this.discord;
    return (channel.recipients || []).map((id) => call(d.users, "getUser", id)).filter(Boolean)
      .map((user) => call(d.relationships, "getNickname", user.id) || this.userName(user)).join(", ");
  }

  // What the notification says in place of the message: Discord's markup made readable, and a short
  // description of messages that carry no text of their own.
  readableContent(message, guildId, channel) {
    const reference = message.message_reference;
    const snapshot = reference && reference.type === REFERENCE_FORWARD && ((message.message_snapshots || [])[0] || {}).message;
    if (snapshot) return "Forwarded: " + this.readableContent(snapshot, guildId, channel);
    const sticker = (message.sticker_items || message.stickers || []).find((s) => s && s.name);
    if (sticker) return "Sticker: " + sticker.name;
    if (message.poll) return "Poll: " + ((message.poll.question && message.poll.question.text) || "");
    return this.unmarkup(message.content || "", message.mentions, guildId, channel) || this.textInPlace(message);
  }

  // The first embed's "title description" (or its first field's "name value"), a voice message, or the
  // first attachment's file name.
  textInPlace(message) {
    const embed = (message.embeds || [])[0];
    if (embed) {
      const title = embed.title ?? embed.rawTitle;
      const description = embed.description ?? embed.rawDescription;
      if (description != null) return title != null ? `${title} ${description}` : description;
      if (title != null) return title;
      const field = (embed.fields || [])[0];
      if (field) return `${field.name ?? field.rawName} ${field.value ?? field.rawValue}`;
    }
    if ((message.flags || 0) & FLAG_VOICE_MESSAGE) return "Voice message";
    const attachment = (message.attachments || [])[0];
    return (attachment && attachment.filename) || "";
  }

  // Discord's markup for mentions, channels, emoji and times, as the chat shows them.
  unmarkup(content, mentions, guildId, channel) {
    const d = this.discord;
    const mentioned = new Map((mentions || []).filter((u) => u && u.id).map((u) => [u.id, u]));
    return content
      .replace(/<@!?(\d+)>/g, (whole, id) => {
        const user = call(d.users, "getUser", id) || mentioned.get(id);
        return user ? "@" + this.nameOf(user, guildId, channel) : whole;
      })
      .replace(/<@&(\d+)>/g, (whole, id) => "@" + ((call(d.roles, "getRole", guildId, id) || {}).name || "role"))
      .replace(/<#(\d+)>/g, (whole, id) => {
        const named = call(d.channels, "getChannel", id);
        return "#" + ((named && named.name) || "channel");
      })
      .replace(/<a?(:\w+:)\d+>/g, "$1")
      // A card over a game must not give away what the sender hid.
      .replace(/\|\|[\s\S]+?\|\|/g, "[spoiler]")
      .replace(/<t:(-?\d+)(?::[tTdDfFR])?>/g, (whole, seconds) => new Date(Number(seconds) * 1000).toLocaleString());
  }
}
