// ---- Link to Voxmere -----------------------------------------------------------------------
const fs = require("fs");
const path = require("path");

// While it runs, Voxmere names its port in this file, and deletes it when it exits.
const ENDPOINT_FILE = ["Voxmere", "endpoint.json"];
// The file is read this often while no socket is open (BetterDiscord's fs has no watchFile, and a watch
// cannot be set on a file that does not exist yet): a Voxmere that starts is found within about a second.
const ENDPOINT_POLL_MS = 1000;
// After a failed attempt the plugin waits for the file to change, and tries again by itself only this rarely.
const ENDPOINT_RETRY_MS = 5 * 60 * 1000;
// A connection that drops while the file stays is tried again once after this: Voxmere may have
// closed only that connection.
const REOPEN_MS = 1000;
// A fixed port (tests, development) has no file to watch: tries back off from 1 s to 4 s.
const RECONNECT_FIRST_MS = 1000;
const RECONNECT_MAX_MS = 4000;
// Notifications go to Voxmere one at a time: a short gap keeps a burst of messages from piling
// into one read, which older receivers decoded as a single frame.
const SEND_GAP_MS = 100;
const MAX_WAITING_SENDS = 10;

function defaultEndpointFile() {
  const appData = require("process").env.APPDATA;
  return appData ? path.join(appData, ...ENDPOINT_FILE) : null;
}

// A file a crashed Voxmere left behind names a process that no longer exists.
function processRuns(pid) {
  if (!Number.isInteger(pid) || pid <= 0) return true;
  try {
    require("process").kill(pid, 0);
    return true;
  } catch (error) {
    return !error || error.code !== "ESRCH";
  }
}

// Voxmere's endpoint file as last read: its text (null while there is none) and the port it names,
// null for a file that does not parse (said once per content) or one left by a Voxmere that is gone.
class EndpointFile {
  constructor(file) {
    this.file = file;
    this.text = null;
    this.port = null;
  }

  read() {
    let text = null;
    try {
      text = fs.readFileSync(this.file, "utf8");
    } catch (error) {
      text = null;
    }
    if (text === this.text && text === null) return;
    const changed = text !== this.text;
    this.text = text;
    this.port = null;
    if (text === null) return;
    let endpoint = null;
    try {
      endpoint = JSON.parse(text);
    } catch (error) {
      endpoint = null;
    }
    const port = endpoint && endpoint.port;
    if (!Number.isInteger(port) || port <= 0 || port >= 65536) {
      if (changed) logInfo(`${this.file} names no port; waiting for Voxmere to write it again`);
      return;
    }
    if (processRuns(endpoint.pid)) this.port = port;
  }
}

// One WebSocket to Voxmere, the only way out of the plugin. Found through Voxmere's endpoint file: a
// socket is opened only while the file names a port, and after a failed attempt only when the file
// changes (or after ENDPOINT_RETRY_MS), so while Voxmere is closed Discord's console gets none of
// Chromium's lines about failed attempts. Notifications offered while it is down are dropped: a card
// about a message from minutes ago is noise.
class VoxmereLink {
  // `where`: {endpointFile} (by default Voxmere's in the roaming application data) or a fixed {port}.
  constructor(where, onStateChange) {
    this.fixedPort = where.port || null;
    const file = this.fixedPort ? null : where.endpointFile || defaultEndpointFile();
    this.endpoint = file ? new EndpointFile(file) : null;
    this.onStateChange = onStateChange || (() => {});
    this.socket = null;
    this.connected = false;
    this.stopped = true;
    this.retryDelay = RECONNECT_FIRST_MS;
    this.retryTimer = null;
    this.sendTimer = null;
    this.pollTimer = null;
    this.waiting = [];
    this.lastSendAt = 0;
    this.reportedDown = false;
    // The file's text at the last failed attempt: the same text is not tried again before the slow retry.
    this.failedWith = undefined;
  }

  start() {
    this.stopped = false;
    if (this.fixedPort) {
      this.open(this.fixedPort);
    } else if (!this.endpoint) {
      logInfo("no roaming application data folder, so Voxmere's endpoint file cannot be found; notifications are off");
    } else {
      this.lookAtFile();
      this.poll();
    }
  }

  poll() {
    this.pollTimer = setTimeout(() => {
      this.lookAtFile();
      if (!this.stopped) this.poll();
    }, ENDPOINT_POLL_MS);
  }

  stop() {
    this.stopped = true;
    clearTimeout(this.retryTimer);
    clearTimeout(this.sendTimer);
    clearTimeout(this.pollTimer);
    this.retryTimer = this.sendTimer = this.pollTimer = null;
    this.waiting = [];
    this.dropSocket();
  }

  // Connects when the file names a port and no socket is there, unless this very file already failed.
  lookAtFile() {
    if (this.stopped || this.socket) return;
    this.endpoint.read();
    if (this.endpoint.port && this.endpoint.text !== this.failedWith) this.open(this.endpoint.port);
  }

  // True when the text was handed to an open socket (or waits for its turn on it).
  send(text) {
    if (!this.connected) return false;
    if (this.waiting.length >= MAX_WAITING_SENDS) this.waiting.shift();
    this.waiting.push(text);
    this.flush();
    return true;
  }

  // Voice updates go out at once and none is dropped: the gap between notifications served receivers
  // older than the voice feed, and a speaking ring that lags is worse than none.
  sendNow(text) {
    if (!this.connected || !this.socket) return false;
    try {
      this.socket.send(text);
      return true;
    } catch (error) {
      logInfo("send failed:", error && error.message);
      return false;
    }
  }

  open(port) {
    const WebSocketClass = globalThis.WebSocket;
    if (typeof WebSocketClass !== "function") {
      logInfo("no WebSocket in this environment; notifications are off");
      return;
    }
    const url = `ws://127.0.0.1:${port}`;
    let socket;
    try {
      socket = new WebSocketClass(url);
    } catch (error) {
      logInfo("cannot open", url, error && error.message);
      this.afterFailure(false);
      return;
    }
    this.socket = socket;
    socket.onopen = () => {
      this.connected = true;
      this.retryDelay = RECONNECT_FIRST_MS;
      this.reportedDown = false;
      this.failedWith = undefined;
      logInfo("connected to Voxmere at", url);
      this.onStateChange(true);
    };
    // A failed attempt fires error and then close; close alone decides what happens next.
    socket.onerror = () => {};
    socket.onclose = () => {
      const wasConnected = this.connected;
      this.socket = null;
      this.connected = false;
      this.waiting = [];
      if (wasConnected) this.onStateChange(false);
      if (!this.reportedDown) {
        logInfo(this.fixedPort ? "Voxmere is not reachable; retrying in the background" : "Voxmere is not reachable; trying again when it starts");
        this.reportedDown = true;
      }
      this.afterFailure(wasConnected);
    };
    socket.onmessage = () => {};
  }

  // A fixed port backs off and tries again. The file: once more soon after a dropped connection, else
  // when the file changes, or after ENDPOINT_RETRY_MS.
  afterFailure(wasConnected) {
    if (this.stopped) return;
    let delay = ENDPOINT_RETRY_MS;
    if (this.fixedPort) {
      delay = this.retryDelay;
      this.retryDelay = Math.min(this.retryDelay * 2, RECONNECT_MAX_MS);
    } else if (wasConnected) {
      delay = REOPEN_MS;
    } else {
      this.failedWith = this.endpoint.text;
    }
    clearTimeout(this.retryTimer);
    this.retryTimer = setTimeout(() => {
      this.retryTimer = null;
      this.failedWith = undefined;
      if (this.stopped) return;
      if (this.fixedPort) this.open(this.fixedPort);
      else this.lookAtFile();
    }, delay);
  }

  flush() {
    if (this.sendTimer || !this.waiting.length || !this.socket) return;
    const wait = this.lastSendAt + SEND_GAP_MS - Date.now();
    if (wait > 0) {
      this.sendTimer = setTimeout(() => {
        this.sendTimer = null;
        this.flush();
      }, wait);
      return;
    }
    try {
      this.socket.send(this.waiting.shift());
      this.lastSendAt = Date.now();
    } catch (error) {
      logInfo("send failed:", error && error.message);
    }
    this.flush();
  }

  dropSocket() {
    const socket = this.socket;
    this.socket = null;
    this.connected = false;
    if (!socket) return;
    const ignore = () => {};
    socket.onopen = socket.onmessage = ignore;
    socket.onclose = socket.onerror = ignore;
    try {
      socket.close();
    } catch (error) {
      logInfo("close failed:", error && error.message);
    }
  }
}
