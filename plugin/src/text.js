// ---- Text --------------------------------------------------------------------------------

const ELLIPSIS = "\u2026";
const encoder = new TextEncoder();
const utf8Length = (text) => encoder.encode(text).length;

// Voxmere's reader turns only \" \\ \n \r \t back into characters, so other control characters
// are dropped here rather than arriving as "u0007"; lone surrogates cannot be sent as UTF-8.
function cleanText(value) {
  if (typeof value !== "string") return value == null ? "" : String(value);
  return value
    .replace(/[\u0000-\u0008\u000B\u000C\u000E-\u001F\u007F]/g, "")
    .replace(/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g, "\uFFFD");
}

// Bytes that the text takes inside a JSON string, escapes included.
function encodedLength(text) {
  return utf8Length(JSON.stringify(text)) - 2;
}

// The longest prefix (whole code points) whose JSON-encoded form fits in maxBytes, with an
// ellipsis when something was cut.
function cutToEncodedBytes(text, maxBytes) {
  if (encodedLength(text) <= maxBytes) return text;
  const budget = maxBytes - encodedLength(ELLIPSIS);
  if (budget < 0) return "";
  let used = 0;
  let end = 0;
  for (const ch of text) {
    const size = encodedLength(ch);
    if (used + size > budget) break;
    used += size;
    end += ch.length;
  }
  return text.slice(0, end) + ELLIPSIS;
}

// The receiver finds each key by a plain text search, so a value that happens to end in a quoted
