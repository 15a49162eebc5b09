// The room's stream as the page receives it, turned into message objects. Relayed bytes arrive
// as binary frames in code page 936; texts the server composed itself arrive as text frames,
// and only those are marked as the server's (fromServer), so that a member who types the words
// of a notice cannot set them off. A message object keeps its identity while it grows: a
// relayed message may go on in the next frame, and is then returned again, changed.
//
//   { fromServer, framed, sender, body, impostor }
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
  // may be (the start of) a separator is held back until the next frame tells.
  function create() {
    const stream = { decoder: null, open: null, held: '', gbkState: 0 };
    // The messages the frame being read created or changed, in order.
    let touched = new Set();

    function appendToMessage(text) {
      if (!text) return;
      if (!stream.open) stream.open = { fromServer: false, raw: '' };
      stream.open.raw += text;
      describeRelayed(stream.open);
      touched.add(stream.open);
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

    function onRelayed(bytes) {
      const midCharacter = stream.gbkState !== 0;
      stream.gbkState = gbkStateAfter(stream.gbkState, bytes);
      const fresh = stream.decoder.decode(bytes, { stream: true });
      const joined = stream.held + fresh;
      const goesOnWithSeparator = stream.held && (joined.startsWith(SEPARATOR) || SEPARATOR.startsWith(joined));
      if (!midCharacter && !goesOnWithSeparator) endMessage();
      consume(fresh);
    }

    function onServerText(text) {
      endMessage();
      touched.add(serverMessage(text));
    }

    // Runs `read` and returns the messages it created or changed.
    function collect(read) {
      touched = new Set();
      read();
      return [...touched];
    }

    return {
      // A new connection: nothing held, nothing open.
      reset: () => collect(() => {
        endMessage();
        stream.decoder = new TextDecoder('gbk');
        stream.gbkState = 0;
      }),
      // One WebSocket frame: a string (the server's own text) or an ArrayBuffer (relayed bytes).
      receive: (data) => collect(() => (typeof data === 'string' ? onServerText(data) : onRelayed(new Uint8Array(data)))),
      // The connection ended: what was held back and any unfinished character are shown.
      finish: () => collect(() => {
        endMessage();
        appendToMessage(stream.decoder.decode());
        endMessage();
      }),
    };
  }

  return { create, ROBOT, ADMINISTRATOR, SEPARATOR, LINE_END };
})();
