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

// The card's fields for a message, named and written as Discord's chat shows them.
class CardText {
  constructor(discord) {
    this.discord = discord;
  }

  describe(message, { channel, guildId }) {
    const author = message.author;
    const d = this.discord;
    const guild = guildId ? call(d.guilds, "getGuild", guildId) : null;
    const member = message.member || memberOf(this.discord, guildId, author.id);
    return {
      username: author.username || "",
      displayName: this.nameOf(author, guildId, member),
      content: this.readableContent(message, guildId),
      avatarUrl: avatarUrlOf(author, guildId, member),
      // A group's name, or the server channel's; a direct message has no channel line.
      channelName: (channel && (guildId || channel.type === CHANNEL_GROUP_DM) && channel.name) || "",
      serverName: (guild && guild.name) || "",
      // Voxmere fetches a picture by user id and this hash, so it stays the user's own.
      avatarHash: author.avatar || "",
      userId: String(author.id),
    };
  }

  nameOf(user, guildId, member = memberOf(this.discord, guildId, user.id)) {
    return (member && member.nick) || user.global_name || user.username || "";
  }

  // What the chat would show in place of the message: Discord's markup made readable, and a
  // short description of messages that carry no text of their own.
  readableContent(message, guildId) {
    const reference = message.message_reference;
    const snapshot = reference && reference.type === REFERENCE_FORWARD && ((message.message_snapshots || [])[0] || {}).message;
    if (snapshot) return "Forwarded: " + this.readableContent(snapshot, guildId);
    const stickers = (message.sticker_items || message.stickers || []).map((s) => s && s.name).filter(Boolean);
    if (stickers.length) return "Sticker: " + stickers.join(", ");
    if (message.poll) return "Poll: " + ((message.poll.question && message.poll.question.text) || "");
    let text = this.unmarkup(message.content || "", message.mentions, guildId);
    if (!text) {
      const embed = (message.embeds || []).find((e) => e && (e.title || e.description));
      text = embed ? embed.title || embed.description : "";
    }
    if (!text && ((message.flags || 0) & FLAG_VOICE_MESSAGE)) text = "Voice message";
    if (!text) text = (message.attachments || []).map((a) => a && a.filename).filter(Boolean).join(", ");
    return text;
  }

  // Discord's markup for mentions, channels, emoji and times, as the chat shows them.
  unmarkup(content, mentions, guildId) {
    const d = this.discord;
    const mentioned = new Map((mentions || []).filter((u) => u && u.id).map((u) => [u.id, u]));
    return content
      .replace(/<@!?(\d+)>/g, (whole, id) => {
        const user = mentioned.get(id) || call(d.users, "getUser", id);
        return user ? "@" + this.nameOf(user, guildId) : whole;
      })
      .replace(/<@&(\d+)>/g, (whole, id) => "@" + ((call(d.roles, "getRole", guildId, id) || {}).name || "role"))
      .replace(/<#(\d+)>/g, (whole, id) => {
        const channel = call(d.channels, "getChannel", id);
        return "#" + ((channel && channel.name) || "channel");
      })
      .replace(/<a?(:\w+:)\d+>/g, "$1")
      // A card over a game must not give away what the sender hid.
      .replace(/\|\|[\s\S]+?\|\|/g, "[spoiler]")
      .replace(/<t:(-?\d+)(?::[tTdDfFR])?>/g, (whole, seconds) => new Date(Number(seconds) * 1000).toLocaleString());
  }
}
