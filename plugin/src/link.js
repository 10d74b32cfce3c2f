const DEFAULT_PORT = 47523;
const RECONNECT_FIRST_MS = 1000;
// Tries stay cheap on the loopback; the cap finds a restarted Voxmere again within 5 s.
const RECONNECT_MAX_MS = 4000;
// Notifications go to Voxmere one at a time: a short gap keeps a burst of messages from piling
// into one read, which older receivers decoded as a single frame.
const SEND_GAP_MS = 100;
const MAX_WAITING_SENDS = 10;

// One WebSocket to Voxmere, reopened with capped exponential backoff. Notifications offered while
// it is down are dropped: a card about a message from minutes ago is noise.
class VoxmereLink {
  constructor(url, onStateChange) {
    this.url = url;
    this.onStateChange = onStateChange || (() => {});
    this.socket = null;
    this.connected = false;
    this.stopped = true;
    this.retryDelay = RECONNECT_FIRST_MS;
    this.retryTimer = null;
    this.sendTimer = null;
    this.waiting = [];
    this.lastSendAt = 0;
    this.reportedDown = false;
  }

  start() {
    this.stopped = false;
    this.open();
  }

  stop() {
    this.stopped = true;
    clearTimeout(this.retryTimer);
    clearTimeout(this.sendTimer);
    this.retryTimer = this.sendTimer = null;
    this.waiting = [];
    this.dropSocket();
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

  open() {
    const WebSocketClass = globalThis.WebSocket;
    if (typeof WebSocketClass !== "function") {
      logInfo("no WebSocket in this environment; notifications are off");
      return;
    }
    let socket;
    try {
      socket = new WebSocketClass(this.url);
    } catch (error) {
      logInfo("cannot open", this.url, error && error.message);
      this.scheduleReconnect();
      return;
    }
    this.socket = socket;
    socket.onopen = () => {
      this.connected = true;
      this.retryDelay = RECONNECT_FIRST_MS;
      this.reportedDown = false;
      logInfo("connected to Voxmere at", this.url);
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
        logInfo("Voxmere is not reachable; retrying in the background");
        this.reportedDown = true;
      }
      this.scheduleReconnect();
    };
    socket.onmessage = () => {};
  }

  scheduleReconnect() {
    if (this.stopped || this.retryTimer) return;
    const delay = this.retryDelay;
    this.retryDelay = Math.min(this.retryDelay * 2, RECONNECT_MAX_MS);
    this.retryTimer = setTimeout(() => {
      this.retryTimer = null;
      if (!this.stopped) this.open();
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

