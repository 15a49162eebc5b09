// The room's stream as the page receives it, turned into message objects, in either format.
// v1 (an older server): relayed bytes arrive as binary frames in code page 936; texts the server
// composed itself arrive as text frames, and only those are marked as the server's
// (fromServer), so that a member who types the words of a notice cannot set them off.
// v2 (subprotocol chatroom.v2): every frame is one JSON object; relayed bytes come per sender
// with the room's sequence number and whether this connection's member sent them (own). A
// message object keeps its identity while it grows: a relayed message may go on in the next
// frame, and is then returned again, changed.
//
//   { fromServer, framed, sender, body, impostor,
//     v2 only: seq, own, address (the sender's roster entry), history, notice }
'use strict';

const RoomStream = (() => {
  const ROBOT = 'Velqo机器人';
  const ADMINISTRATOR = '管理员';
  const SEPARATOR = '\r\n\r\n';
  const LINE_END = '\r\n';
  // A first line longer than this is not taken for a sender line.
  const MAX_SENDER_LENGTH = 40;

  // "NICK\r\nBODY": a short first line and something after it. Anything else is shown as it came.
  function describeRelayed(message) {
    const text = message.raw;
    const at = text.indexOf(LINE_END);
    message.framed = at > 0 && at <= MAX_SENDER_LENGTH && at + LINE_END.length < text.length;
    message.sender = message.framed ? text.slice(0, at) : '';
    message.body = message.framed ? text.slice(at + LINE_END.length) : text;
    // A member may call itself after the server's own senders; the page says it is not them.
    message.impostor = message.sender === ADMINISTRATOR || message.sender === ROBOT;
  }

  function serverMessage(text) {
    const own = text.startsWith(SEPARATOR) ? text.slice(SEPARATOR.length) : text;
    const at = own.indexOf(LINE_END);
    return {
      fromServer: true, framed: at >= 0, impostor: false,
      sender: at >= 0 ? own.slice(0, at) : '',
      body: at >= 0 ? own.slice(at + LINE_END.length) : own,
    };
  }

  // Where a code page 936 (GB 18030) character stands after `bytes`: 0 between characters,
  // otherwise how far into a two- or four-byte character.
  function gbkStateAfter(initial, bytes) {
    let s = initial;
    for (const b of bytes) {
      const lead = b >= 0x81 && b <= 0xFE;
      if (s === 1) s = b >= 0x30 && b <= 0x39 ? 2 : 0;
      else if (s === 2) s = lead ? 3 : 0;
      else if (s === 3) s = 0;
      else s = lead ? 1 : 0;
    }
    return s;
  }

  function heldBackLength(text) {
    for (let n = Math.min(SEPARATOR.length - 1, text.length); n > 0; n--) {
      if (SEPARATOR.startsWith(text.slice(-n))) return n;
    }
    return 0;
  }

  // Relayed bytes are split into messages at the room's separator (the last CR LF CR LF of a
  // run of line ends, so that a line's own end stays with it); a frame that starts after a
  // whole character also starts a new message, unless it goes on with a separator. Text that
  // may be (the start of) a separator is held back until the next frame tells. One reader per
  // stream of bytes: the whole room's in v1, each sender's in v2. `touch` hears every message
  // the reader creates or changes.
  function bytesReader(touch) {
    const stream = { decoder: new TextDecoder('gbk'), open: null, held: '', gbkState: 0 };

    function appendToMessage(text) {
      if (!text) return;
      if (!stream.open) stream.open = { fromServer: false, raw: '' };
      stream.open.raw += text;
      describeRelayed(stream.open);
      touch(stream.open);
    }

    // A held separator is framing and ends here; a held part of one was the message's own text.
    function endMessage() {
      if (!stream.held.startsWith(SEPARATOR)) appendToMessage(stream.held);
      stream.held = '';
      stream.open = null;
    }

    function consume(fresh) {
      let text = stream.held + fresh;
      stream.held = '';
      for (;;) {
        let at = text.indexOf(SEPARATOR);
        if (at < 0) break;
        let end = at + SEPARATOR.length;
        for (; text.startsWith(LINE_END, end); end += LINE_END.length) at += LINE_END.length;
        appendToMessage(text.slice(0, at));
        if (LINE_END.startsWith(text.slice(end))) { // more line ends may follow
          stream.held = text.slice(at);
          return;
        }
        endMessage();
        text = text.slice(end);
      }
      const hold = heldBackLength(text);
      appendToMessage(text.slice(0, text.length - hold));
      stream.held = text.slice(text.length - hold);
    }

    return {
      bytes(bytes) {
        const midCharacter = stream.gbkState !== 0;
        stream.gbkState = gbkStateAfter(stream.gbkState, bytes);
        const fresh = stream.decoder.decode(bytes, { stream: true });
        const joined = stream.held + fresh;
        const goesOnWithSeparator = stream.held && (joined.startsWith(SEPARATOR) || SEPARATOR.startsWith(joined));
        if (!midCharacter && !goesOnWithSeparator) endMessage();
        consume(fresh);
      },
      // A whole message as its sender typed it (a v2 page's own text): nothing goes on after it.
      text(text) {
        endMessage();
        consume(text);
        endMessage();
      },
      endMessage,
      // What was held back and any unfinished character are shown.
      finish() {
        endMessage();
        appendToMessage(stream.decoder.decode());
        endMessage();
      },
    };
  }

  const bytesOfBase64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));

  function create() {
    // The messages the frame being read created or changed, in order.
    let touched = new Set();
    const touch = (message) => touched.add(message);
    let version = 1;
    let room = bytesReader(touch);
    // v2: one reader per sender, since each sender's bytes are a stream of their own.
    let senders = new Map();
    // v2: the seq of the last message shown; a replayed one at or before it was shown already.
    let lastSeq = 0;

    function readerOf(address) {
      if (!senders.has(address)) senders.set(address, bytesReader(touch));
      return senders.get(address);
    }

    // A message item of v2; the relayed ones go through their sender's reader.
    function onItem(item) {
      if (item.history && item.seq <= lastSeq) return;
      lastSeq = item.seq;
      const stamp = { seq: item.seq, history: Boolean(item.history) };
      if (item.kind === 'server') {
        touch(Object.assign(serverMessage(item.text), stamp));
        return;
      }
      const reader = readerOf(item.sender);
      const before = touched;
      touched = new Set();
      if (typeof item.text === 'string') reader.text(item.text);
      else reader.bytes(bytesOfBase64(item.data));
      for (const message of touched) {
        Object.assign(message, stamp, { own: Boolean(item.own), address: item.sender });
        before.add(message);
      }
      touched = before;
    }

    // A v2 frame: message items and notices become messages; anything else is for the caller.
    function onV2(data) {
      if (typeof data !== 'string') return null;
      let frame;
      try { frame = JSON.parse(data); } catch { return null; }
      if (frame === null || typeof frame !== 'object') return null;
      if (frame.type === 'message' && Number.isInteger(frame.seq)) onItem(frame);
      else if (frame.type === 'notice') touch(Object.assign(serverMessage(String(frame.text)), { notice: true }));
      else return frame;
      return null;
    }

    function onV1(data) {
      if (typeof data !== 'string') return room.bytes(new Uint8Array(data));
      room.endMessage();
      touch(serverMessage(data));
    }

    function finishAll() {
      room.finish();
      for (const reader of senders.values()) reader.finish();
    }

    // Runs `read` and returns the messages it created or changed and any v2 control frame.
    function collect(read) {
      touched = new Set();
      const control = read() || null;
      return { messages: [...touched], control };
    }

    return {
      // A new connection in format `nextVersion` (1 or 2): nothing held, nothing open.
      reset: (nextVersion) => collect(() => {
        finishAll();
        version = nextVersion;
        room = bytesReader(touch);
        senders = new Map();
      }),
      // One WebSocket frame: a string or, in v1, an ArrayBuffer (relayed bytes).
      receive: (data) => collect(() => (version === 2 ? onV2(data) : onV1(data))),
      // The connection ended.
      finish: () => collect(finishAll),
      lastSeq: () => lastSeq,
    };
  }

  return { create, ROBOT, ADMINISTRATOR, SEPARATOR, LINE_END };
})();
