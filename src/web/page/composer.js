// The message box: Enter sends, Shift+Enter starts a new line, and the box grows with its
// lines up to the height the style sheet allows. An Enter that confirms an input method's
// composition sends nothing. A character that code page 936 cannot hold (an emoji, say) gets a
// hint under the box: members on the TCP port will see "?" in its place.
'use strict';

const Composer = (() => {
  // Safari reports the Enter that confirms a composition with isComposing false but with the
  // key code an input method's keys get.
  const COMPOSING_KEY_CODE = 229;
  const ASCII_END = 0x80;
  const LEAD_FIRST = 0x81;
  const LEAD_LAST = 0xFE;
  const TRAIL_FIRST = 0x40;
  const TRAIL_LAST = 0xFE;
  const TRAIL_NOT = 0x7F;
  const SPACE = 0x20;
  const hint = (chars) => `终端里的成员看不到 ${chars}，会显示成“?”`;

  // Every character of code page 936's two-byte codes, from the browser's own decoder: each
  // code followed by a space, so that an unassigned one cannot take the next code's bytes.
  let cp936 = null;
  function cp936Characters() {
    if (cp936) return cp936;
    const bytes = [];
    for (let lead = LEAD_FIRST; lead <= LEAD_LAST; lead++) {
      for (let trail = TRAIL_FIRST; trail <= TRAIL_LAST; trail++) {
        if (trail !== TRAIL_NOT) bytes.push(lead, trail, SPACE);
      }
    }
    const decoded = new TextDecoder('gbk').decode(new Uint8Array(bytes)).split(' ');
    cp936 = new Set(decoded.filter((c) => c.length === 1 && c !== '\uFFFD'));
    return cp936;
  }

  // The distinct characters of `text` that code page 936 has no code for.
  function withoutCp936(text) {
    const known = cp936Characters();
    return [...new Set([...text].filter((c) => c.codePointAt(0) >= ASCII_END && !known.has(c)))];
  }

  // The lines of what was typed, joined as the room joins a body's lines. An empty line would
  // read as the room's separator (CR LF CR LF) and split the message, so there is none.
  function bodyOf(text) {
    return text.trim().split(/\r\n|\r|\n/).filter((line) => line !== '').join(RoomStream.LINE_END);
  }

  // `send(body)` frames and sends a message body and says whether it went.
  function create(ui, send) {
    function checkCharacters() {
      const missing = withoutCp936(ui.message.value);
      ui.charsetHint.hidden = missing.length === 0;
      ui.charsetHint.textContent = missing.length ? hint(missing.join(' ')) : '';
    }

    function fit() {
      ui.message.style.height = 'auto';
      ui.message.style.height = `${ui.message.scrollHeight + ui.message.offsetHeight - ui.message.clientHeight}px`;
    }

    function submit() {
      const body = bodyOf(ui.message.value);
      if (!body || !send(body)) return;
      ui.message.value = '';
      fit();
      checkCharacters();
    }

    ui.composer.addEventListener('submit', (event) => {
      event.preventDefault();
      submit();
    });
    ui.message.addEventListener('keydown', (event) => {
      if (event.key !== 'Enter' || event.shiftKey) return;
      event.preventDefault(); // a composition's Enter puts no line break in either
      if (!event.isComposing && event.keyCode !== COMPOSING_KEY_CODE) submit();
    });
    ui.message.addEventListener('input', () => {
      fit();
      checkCharacters();
    });
    fit();
    return { fit };
  }

  return { create };
})();
