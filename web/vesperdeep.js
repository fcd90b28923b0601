// Vesperdeep in a browser: draws the game's 80 x 50 console, exactly as its window does, from
// the frames the server sends, and sends the player's keys back. One WebSocket per game, on the
// same origin as the page (path /play); the messages are described in docs/protocol.md.
"use strict";

(() => {
  // The finished game this page replays (/?replay=NAME), or null for a game of one's own.
  const REPLAY = new URLSearchParams(location.search).get("replay");
  // Whether the game is played in today's cave (/?cave=today), the same for every player today.
  const TODAYS_CAVE = new URLSearchParams(location.search).get("cave") === "today";

  // ---- What the server sends and expects --------------------------------------------------------

  const MESSAGE_FULL = 0x46; // 'F': cols, rows, then runs covering every cell
  const MESSAGE_DIFF = 0x44; // 'D': runs of changed cells
  const MESSAGE_WAIT = 0x57; // 'W': the game now waits for a key
  const MESSAGE_TEXT = 0x4d; // 'M': kind, UTF-8 text
  const MESSAGE_KEY = 0x4b; // 'K', code, mods: one key
  const MESSAGE_POSITION = 0x50; // 'P': where a replay stands (19 bytes)
  const TEXT_NOTICE = 0;
  const TEXT_ENDED = 1;
  const TEXT_ERROR = 2;
  const MOD_SHIFT = 1;
  const RUN_HEADER = 9; // start u16, count u8, fg r g b, bg r g b

  // The keys that are no character, by KeyboardEvent.key, as the codes the server knows.
  const NAMED_KEYS = {
    Escape: 0x01,
    Enter: 0x02,
    ArrowUp: 0x03,
    ArrowDown: 0x04,
    ArrowLeft: 0x05,
    ArrowRight: 0x06,
    Home: 0x07,
  };

  // ---- The font sheet -------------------------------------------------------------------------------

  // The game's own sheet: 16 x 16 square glyphs, glyph n at column n % 16, row n / 16. A pixel's
  // brightness (times its alpha) is how much of the foreground covers the background there, as
  // the game reads the sheet for its window.
  const GLYPHS_PER_SIDE = 16;

  function loadFont(url) {
    return new Promise((resolve, reject) => {
      const image = new Image();
      image.onload = () => resolve(coverageOf(image));
      image.onerror = () => reject(new Error("the font sheet " + url + " did not load"));
      image.src = url;
    });
  }

  // The sheet as one coverage byte (0..255) per pixel.
  function coverageOf(image) {
    const canvas = document.createElement("canvas");
    canvas.width = image.naturalWidth;
    canvas.height = image.naturalHeight;
    const context = canvas.getContext("2d", { willReadFrequently: true });
    context.drawImage(image, 0, 0);
    const rgba = context.getImageData(0, 0, canvas.width, canvas.height).data;
    const coverage = new Uint8Array(canvas.width * canvas.height);
    for (let i = 0; i < coverage.length; ++i) {
      const brightness = Math.max(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]);
      coverage[i] = Math.floor((brightness * rgba[4 * i + 3]) / 255);
    }
    return { coverage, width: canvas.width, cell: canvas.width / GLYPHS_PER_SIDE };
  }

  // ---- The console ------------------------------------------------------------------------------------

  // The cells as the game last drew them, and their picture at scale 1 (one pixel of the sheet
  // to one pixel of the canvas). A cell's pixels are recomputed only when the cell changes.
  class Console {
    constructor(canvas, font) {
      this.canvas = canvas;
      this.font = font;
      this.context = canvas.getContext("2d");
      this.resize(0, 0);
    }

    // Starts over with cols x rows blank cells (a full frame follows).
    resize(cols, rows) {
      this.cols = cols;
      this.rows = rows;
      this.glyphs = new Uint8Array(cols * rows);
      this.colours = new Uint8Array(cols * rows * 6); // fg r g b, bg r g b per cell
      const cell = this.font.cell;
      this.canvas.width = Math.max(1, cols * cell);
      this.canvas.height = Math.max(1, rows * cell);
      this.picture = this.context.createImageData(this.canvas.width, this.canvas.height);
    }

    // Applies the runs of `bytes` from `offset` to the end, repainting every cell they name when
    // `everyCell` (a full frame) and otherwise only those that change; returns false when they
    // do not fit the console (a damaged message: nothing after the fault is applied).
    applyRuns(bytes, offset, everyCell) {
      const total = this.cols * this.rows;
      while (offset < bytes.length) {
        if (offset + RUN_HEADER > bytes.length) return false;
        const start = bytes[offset] | (bytes[offset + 1] << 8);
        const count = bytes[offset + 2];
        const colours = bytes.subarray(offset + 3, offset + RUN_HEADER);
        offset += RUN_HEADER;
        if (count === 0 || start + count > total || offset + count > bytes.length) return false;
        let changed = false;
        for (let i = 0; i < count; ++i) {
          changed = this.setCell(start + i, bytes[offset + i], colours, everyCell) || changed;
        }
        if (changed) this.show(start, count);
        offset += count;
      }
      return true;
    }

    // Sets one cell; repaints it and returns true when it changed (or `always`).
    setCell(index, glyph, colours, always) {
      const old = this.colours.subarray(index * 6, index * 6 + 6);
      const same = this.glyphs[index] === glyph && old.every((value, i) => value === colours[i]);
      if (same && !always) return false;
      this.glyphs[index] = glyph;
      old.set(colours);
      this.paint(index);
      return true;
    }

    // Draws cell `index` into the picture: the background, then the glyph's pixels in the
    // foreground colour, blended by the sheet's coverage.
    paint(index) {
      const { coverage, width: sheetWidth, cell } = this.font;
      const glyph = this.glyphs[index];
      const c = this.colours.subarray(index * 6, index * 6 + 6);
      const sheetLeft = (glyph % GLYPHS_PER_SIDE) * cell;
      const sheetTop = Math.floor(glyph / GLYPHS_PER_SIDE) * cell;
      const left = (index % this.cols) * cell;
      const top = Math.floor(index / this.cols) * cell;
      const pixels = this.picture.data;
      for (let y = 0; y < cell; ++y) {
        let from = (sheetTop + y) * sheetWidth + sheetLeft;
        let to = ((top + y) * this.picture.width + left) * 4;
        for (let x = 0; x < cell; ++x, ++from, to += 4) {
          const a = coverage[from];
          pixels[to] = blend(c[0], c[3], a);
          pixels[to + 1] = blend(c[1], c[4], a);
          pixels[to + 2] = blend(c[2], c[5], a);
          pixels[to + 3] = 255;
        }
      }
    }

    // Puts the picture of `count` cells from `start` on the canvas, one row of cells at a time.
    show(start, count) {
      const cell = this.font.cell;
      const end = start + count;
      for (let index = start; index < end; ) {
        const column = index % this.cols;
        const length = Math.min(end - index, this.cols - column);
        const top = Math.floor(index / this.cols) * cell;
        this.context.putImageData(this.picture, 0, 0, column * cell, top, length * cell, cell);
        index += length;
      }
    }

    // The cells as plain data: glyph codes and [fg, bg] colours as "rrggbb".
    snapshot() {
      const hex = (i) =>
        Array.from(this.colours.subarray(i, i + 3), (v) => v.toString(16).padStart(2, "0")).join(
          ""
        );
      const colours = [];
      for (let i = 0; i < this.glyphs.length; ++i) colours.push([hex(i * 6), hex(i * 6 + 3)]);
      return { cols: this.cols, rows: this.rows, glyphs: Array.from(this.glyphs), colours };
    }
  }

  // A foreground over a background with coverage a (0..255), rounded.
  function blend(fg, bg, a) {
    if (a === 255) return fg;
    if (a === 0) return bg;
    return Math.floor((fg * a + bg * (255 - a) + 127) / 255);
  }

  // ---- Fitting the window ---------------------------------------------------------------------

  // The largest whole number of device pixels per console pixel that fits the space left
  // beside the status line and the touch pad; never less than one.
  function fit(canvas) {
    const ratio = window.devicePixelRatio || 1;
    const pad = document.getElementById("pad");
    const status = document.getElementById("status");
    const padWidth = pad.offsetParent === null ? 0 : pad.offsetWidth;
    const roomWidth = (document.documentElement.clientWidth - padWidth) * ratio;
    const roomHeight = (window.innerHeight - status.offsetHeight - 8) * ratio;
    const scale = Math.max(
      1,
      Math.floor(Math.min(roomWidth / canvas.width, roomHeight / canvas.height))
    );
    canvas.style.width = (canvas.width * scale) / ratio + "px";
    canvas.style.height = (canvas.height * scale) / ratio + "px";
    return scale;
  }

  // ---- Keys -----------------------------------------------------------------------------------------

  // The key code the server knows for a keydown, or 0 for a key the game has no use for. The
  // character typed counts (KeyboardEvent.key), whatever the keyboard's layout.
  function keyCode(event) {
    if (event.isComposing) return 0;
    if (Object.prototype.hasOwnProperty.call(NAMED_KEYS, event.key)) return NAMED_KEYS[event.key];
    if (event.key.length !== 1) return 0;
    const code = event.key.charCodeAt(0);
    return code >= 0x20 && code <= 0x7e ? code : 0;
  }

  // Browser shortcuts (Ctrl, Alt, Meta) are the browser's; AltGr, which some systems report as
  // Ctrl and Alt together, types a character and so is the game's.
  function isShortcut(event) {
    if (event.getModifierState && event.getModifierState("AltGraph")) return false;
    return event.ctrlKey || event.altKey || event.metaKey;
  }

  // ---- The game's connection --------------------------------------------------------------------

  class Session {
    constructor(console) {
      this.console = console;
      this.socket = null;
      this.state = "idle"; // connecting, playing, ended, lost
      // Counted afresh for each connection:
      this.keysSent = 0;
      this.waits = 0; // 'W' marks received
      this.pending = 0; // keys sent that the game has not yet answered with a wait
      this.waiters = [];
      this.notice = "";
      this.position = null; // a replay's, from its last 'P'
      this.positions = 0;
    }

    connect() {
      // Beside the page: /play when the page is served at /, as the server does (today's cave
      // for /?cave=today); a finished game's replay (/?replay=NAME) on /replay.
      const play = TODAYS_CAVE ? "play?cave=today" : "play";
      const url = new URL(REPLAY ? "replay?rec=" + encodeURIComponent(REPLAY) : play, location.href);
      url.protocol = location.protocol === "https:" ? "wss:" : "ws:";
      const socket = new WebSocket(url.href);
      socket.binaryType = "arraybuffer";
      this.socket = socket;
      this.keysSent = 0;
      this.waits = 0;
      this.pending = 0;
      this.wasOpen = false;
      this.finalText = null;
      this.setState("connecting", "Connecting...");
      // Events of a replaced socket are not this game's any more.
      socket.onopen = () => socket === this.socket && this.opened();
      socket.onmessage = (event) => socket === this.socket && this.receive(event.data);
      socket.onclose = () => socket === this.socket && this.closed();
    }

    opened() {
      this.wasOpen = true;
      this.setState("playing", "");
    }

    receive(data) {
      if (!(data instanceof ArrayBuffer) || data.byteLength === 0) return this.broken();
      const bytes = new Uint8Array(data);
      switch (bytes[0]) {
        case MESSAGE_FULL:
          if (bytes.length < 3) return this.broken();
          this.console.resize(bytes[1], bytes[2]);
          fit(this.console.canvas);
          return this.console.applyRuns(bytes, 3, true) || this.broken();
        case MESSAGE_DIFF:
          return this.console.applyRuns(bytes, 1, false) || this.broken();
        case MESSAGE_WAIT:
          return this.waited();
        case MESSAGE_TEXT:
          return this.text(bytes);
        case MESSAGE_POSITION:
          return (REPLAY && bytes.length === 19 && this.positioned(bytes)) || this.broken();
        default:
          return this.broken();
      }
    }

    // A replay's position: keys replayed and in all, turns, kills, speed, paused.
    positioned(bytes) {
      const view = new DataView(bytes.buffer, bytes.byteOffset);
      this.position = {
        at: view.getUint32(1, true),
        keys: view.getUint32(5, true),
        turns: view.getUint32(9, true),
        kills: view.getUint32(13, true),
        speed: bytes[17],
        paused: bytes[18] === 1,
      };
      ++this.positions;
      const p = this.position;
      setStatus(
        `Key ${p.at} of ${p.keys}, turn ${p.turns}, ${p.kills} kills` + (p.paused ? " (paused)" : "")
      );
      return true;
    }

    // Sends a replay control: an operation letter and its argument.
    control(operation, argument) {
      if (this.state !== "playing" || this.socket.readyState !== WebSocket.OPEN) return false;
      const message = new Uint8Array(5);
      message[0] = operation.charCodeAt(0);
      new DataView(message.buffer).setUint32(1, argument >>> 0, true);
      this.socket.send(message);
      return true;
    }

    waited() {
      ++this.waits;
      if (this.pending > 0) --this.pending;
      if (this.pending === 0) this.wakeWaiters();
    }

    text(bytes) {
      if (bytes.length < 2) return this.broken();
      const words = new TextDecoder().decode(bytes.subarray(2));
      if (bytes[1] === TEXT_NOTICE) {
        this.notice = words;
        setStatus(words);
      } else if (bytes[1] === TEXT_ENDED || bytes[1] === TEXT_ERROR) {
        // The server closes the connection after these; the page says why it ended.
        this.finalText = words;
      }
    }

    // A message the page cannot read: the connection is given up rather than guessed at.
    broken() {
      this.finalText = "The server sent something this page cannot read.";
      if (!this.socket) return;
      this.socket.onmessage = null;
      this.socket.close();
    }

    closed() {
      this.socket = null;
      if (this.finalText !== null) {
        this.setState("ended", this.finalText);
      } else {
        const words = this.wasOpen
          ? "The connection to the game was lost."
          : "The game's server cannot be reached.";
        this.setState("lost", words);
      }
      this.wakeWaiters();
    }

    setState(state, words) {
      this.state = state;
      const over = state === "ended" || state === "lost";
      document.getElementById("ended").hidden = !over;
      document.getElementById("ended-text").textContent = words;
      setStatus(over ? "" : words);
      if (over) document.getElementById("new-game").focus();
    }

    // Sends one key; returns false when there is no game to send it to.
    send(code, shift) {
      if (this.state !== "playing" || this.socket.readyState !== WebSocket.OPEN) return false;
      this.socket.send(new Uint8Array([MESSAGE_KEY, code, shift ? MOD_SHIFT : 0]));
      ++this.keysSent;
      ++this.pending;
      if (this.notice) {
        this.notice = "";
        setStatus("");
      }
      return true;
    }

    // Resolves once the game has answered every key sent so far and waits for the next one,
    // or the connection has ended.
    settled() {
      if (this.isSettled()) return Promise.resolve(this.state);
      return new Promise((resolve) => this.waiters.push(resolve));
    }

    isSettled() {
      return (this.waits > 0 && this.pending === 0) || this.state === "ended" || this.state === "lost";
    }

    wakeWaiters() {
      if (!this.isSettled()) return;
      const waiters = this.waiters;
      this.waiters = [];
      for (const resolve of waiters) resolve(this.state);
    }
  }

  function setStatus(words) {
    document.getElementById("status").textContent = words;
  }

  // ---- Start-up --------------------------------------------------------------------------------------

  function addPadLetters() {
    const letters = document.querySelector("#pad .letters");
    for (let code = 0x61; code <= 0x7a; ++code) {
      const button = document.createElement("button");
      button.type = "button";
      button.dataset.key = String.fromCharCode(code);
      button.textContent = button.dataset.key;
      letters.appendChild(button);
    }
  }

  // The replay's buttons, each a control message.
  function listenToReplayControls(session) {
    document.getElementById("replay").hidden = false;
    document.getElementById("pad").hidden = true;
    for (const button of document.querySelectorAll("#replay button[data-op]")) {
      button.addEventListener("click", () =>
        session.control(button.dataset.op, Number(button.dataset.arg || 0))
      );
    }
    document.getElementById("seek").addEventListener("submit", (event) => {
      event.preventDefault();
      const key = Number(document.getElementById("seek-key").value);
      if (Number.isInteger(key) && key >= 0) session.control("G", key);
    });
  }

  function listen(session) {
    if (REPLAY) {
      listenToReplayControls(session);
    } else {
      listenToKeys(session);
    }
    document.getElementById("new-game").addEventListener("click", () => session.connect());
    window.addEventListener("resize", () => fit(session.console.canvas));
  }

  // The player's keys, from the keyboard and the touch pad.
  function listenToKeys(session) {
    window.addEventListener("keydown", (event) => {
      if (isShortcut(event)) return;
      const code = keyCode(event);
      if (code !== 0 && session.send(code, event.shiftKey)) event.preventDefault();
    });
    document.getElementById("pad").addEventListener("pointerdown", (event) => {
      const button = event.target.closest("button[data-key]");
      if (!button) return;
      event.preventDefault(); // no focus, no double-tap zoom
      const key = button.dataset.key;
      session.send(NAMED_KEYS[key] || key.charCodeAt(0), false);
    });
  }

  async function start() {
    const canvas = document.getElementById("screen");
    let font;
    try {
      font = await loadFont("font.bmp");
    } catch (error) {
      setStatus("The game cannot start: " + error.message + ".");
      return;
    }
    const session = new Session(new Console(canvas, font));
    // What the page's tests read: the screen's cells and whether the game waits for a key.
    window.vesperdeep = Object.freeze({
      get state() {
        return session.state;
      },
      get keysSent() {
        return session.keysSent;
      },
      get waits() {
        return session.waits;
      },
      get scale() {
        return fit(canvas);
      },
      get position() {
        return session.position;
      },
      get positions() {
        return session.positions;
      },
      control: (operation, argument) => session.control(operation, argument),
      settled: () => session.settled(),
      screen: () => session.console.snapshot(),
    });
    addPadLetters();
    listen(session);
    fit(canvas);
    session.connect();
  }

  start();
})();
