// The message box: Enter sends, Shift+Enter starts a new line, and the box grows with its
// lines up to the height the style sheet allows. An Enter that confirms an input method's
// composition sends nothing.
'use strict';

const Composer = (() => {
  // Safari reports the Enter that confirms a composition with isComposing false but with the
  // key code an input method's keys get.
  const COMPOSING_KEY_CODE = 229;

  // The lines of what was typed, joined as the room joins a body's lines. An empty line would
  // read as the room's separator (CR LF CR LF) and split the message, so there is none.
  function bodyOf(text) {
    return text.trim().split(/\r\n|\r|\n/).filter((line) => line !== '').join(RoomStream.LINE_END);
  }

  // `send(body)` frames and sends a message body and says whether it went.
  function create(ui, send) {
    function fit() {
      ui.message.style.height = 'auto';
      ui.message.style.height = `${ui.message.scrollHeight + ui.message.offsetHeight - ui.message.clientHeight}px`;
    }

    function submit() {
      const body = bodyOf(ui.message.value);
      if (!body || !send(body)) return;
      ui.message.value = '';
      fit();
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
    ui.message.addEventListener('input', fit);
    fit();
    return { fit };
  }

  return { create };
})();
