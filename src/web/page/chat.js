// The room's web client. It joins the room over a WebSocket on the page's own address, sends
// what the user types framed as the room frames its own texts (a nickname line, CR LF, the
// body; CR LF CR LF before every message after the first), and shows the room's stream as a
// chat. Relayed bytes arrive as binary frames in code page 936; texts the server composed
// itself arrive as text frames, and only those are acted on (shaking, muting, leaving...), so
// that a member who types the words of a notice cannot set them off. Room text only ever
// reaches the document through textContent.
'use strict';

(() => {
  const ROBOT = 'Velqo机器人';
  const ADMINISTRATOR = '管理员';
  const NOTICE = {
    shake: '管理员抖了你一下！',
    quake: '管理员对你使用了屏幕地震！',
    reward: '管理员给了你一次改名的机会！并且可以去除您的本机号！',
    mute: '你已被管理员禁言1分钟！',
    prank: '管理员让你心甘情愿的退出聊天室！',
    kick: '你已被管理员踢出聊天室！',
    dissolution: '管理员已退出聊天室！聊天室解散！',
  };
  const SEPARATOR = '\r\n\r\n';
  const LINE_END = '\r\n';
  // A first line longer than this is not taken for a sender line.
  const MAX_SENDER_LENGTH = 40;
  const MUTE_MS = 60 * 1000;
  const SECOND_MS = 1000;
  const SHAKE_MS = 600;
  const QUAKE_MS = 2400;
  const SHAKE_VIBRATION = [200];
  const QUAKE_VIBRATION = [400, 100, 400, 100, 400];
  const RECONNECT_FIRST_MS = 1000;
  const RECONNECT_MAX_MS = 30 * 1000;
  // The server's close code for "connect again now": this connection's address was already a
  // member's name, and a new connection comes from a new port. Answered at once, a few times
  // in a row at most, then like any other loss.
  const CLOSE_TRY_AGAIN = 1013;
  const MAX_IMMEDIATE_RETRIES = 3;
  // How close to the end of the log the view must be to keep following new messages.
  const FOLLOW_SLACK_PX = 48;
  const NICKNAME_KEY = 'chatroom.nickname';
  const MUTED_UNTIL_KEY = 'chatroom.mutedUntil';
  // States after which the page waits for the user instead of reconnecting on its own.
  const FINAL_STATES = new Set(['kicked', 'left', 'dissolved']);
  const STATE_TEXT = {
    connecting: { status: '连接中…' },
    open: { status: '已连接' },
    retrying: { status: '已断开', banner: '与聊天室的连接断开了，正在自动重连…', button: '立即重连' },
    kicked: { status: '已被踢出', banner: '你已被管理员踢出聊天室。', button: '重新连接' },
    left: { status: '已退出', banner: '你已退出聊天室。', button: '重新进入' },
    dissolved: { status: '聊天室已关闭', banner: '聊天室已解散，管理员关闭了聊天室。', button: '重新连接' },
  };

  const $ = (id) => document.getElementById(id);
  const ui = {
    app: $('app'), status: $('status'), log: $('log'), banner: $('banner'),
    bannerText: $('banner-text'), bannerButton: $('banner-button'), composer: $('composer'),
    message: $('message'), send: $('send'), mute: $('mute'), nicknameButton: $('nickname-button'),
    nicknameLabel: $('nickname-label'), dialog: $('nickname-dialog'), nicknameForm: $('nickname-form'),
    nicknameTitle: $('nickname-title'), nicknameHint: $('nickname-hint'), nicknameInput: $('nickname-input'),
    nicknameError: $('nickname-error'), nicknameCancel: $('nickname-cancel'),
  };

  // localStorage can be missing or refuse writes (private windows); the page works without it.
  const store = {
    get(key) { try { return localStorage.getItem(key); } catch { return null; } },
    set(key, value) { try { localStorage.setItem(key, value); } catch { /* kept for this visit only */ } },
  };

  let nickname = store.get(NICKNAME_KEY) || '';
  let mutedUntil = Number(store.get(MUTED_UNTIL_KEY)) || 0;
  let state = 'connecting';
  let socket = null;
  let sentSinceConnect = false;
  let retryMs = RECONNECT_FIRST_MS;
  let retryTimer = 0;
  let immediateRetries = 0;
  // Whether the view follows new messages: until the user scrolls back from the end.
  let following = true;

  // ---- The log ------------------------------------------------------------------------------

  const followsEnd = () => ui.log.scrollHeight - ui.log.scrollTop - ui.log.clientHeight < FOLLOW_SLACK_PX;
  const scrollToEnd = () => { ui.log.scrollTop = ui.log.scrollHeight; };
  const timeOfDay = () => new Date().toLocaleTimeString('zh-CN', { hour: '2-digit', minute: '2-digit' });

  function addEntry() {
    const el = document.createElement('div');
    const head = document.createElement('div');
    const sender = document.createElement('span');
    const time = document.createElement('time');
    const body = document.createElement('div');
    head.className = 'head';
    sender.className = 'sender';
    time.textContent = timeOfDay();
    body.className = 'body';
    head.append(sender, time);
    el.append(head, body);
    ui.log.append(el);
    return { el, sender, body, raw: '' };
  }

  function show(entry, className, sender, body) {
    entry.el.className = className;
    entry.sender.textContent = sender;
    entry.body.textContent = body.replaceAll(LINE_END, '\n');
    if (following) scrollToEnd();
  }

  // "NICK\r\nBODY": a short first line and something after it. Anything else is shown as it came.
  function framedMessage(text) {
    const at = text.indexOf(LINE_END);
    if (at <= 0 || at > MAX_SENDER_LENGTH || at + LINE_END.length >= text.length) return null;
    return { sender: text.slice(0, at), body: text.slice(at + LINE_END.length) };
  }

  function showRelayed(entry) {
    const message = framedMessage(entry.raw);
    if (!message) return show(entry, 'msg raw', '', entry.raw);
    // A member may call itself after the server's own senders; the page says it is not them.
    const impostor = message.sender === ADMINISTRATOR || message.sender === ROBOT;
    const kind = impostor ? ' impostor' : message.sender === nickname ? ' own' : '';
    return show(entry, 'msg chat' + kind, message.sender, message.body);
  }

  // ---- The room's stream ----------------------------------------------------------------------

  // Relayed bytes are split into messages at the room's separator (the last CR LF CR LF of a
  // run of line ends, so that a line's own end stays with it); a frame that starts after a
  // whole character also starts a new message, unless it goes on with a separator. Text that
  // may be (the start of) a separator is held back until the next frame tells.
  const stream = { decoder: null, open: null, held: '', gbkState: 0 };

  function resetStream() {
    endMessage();
    stream.decoder = new TextDecoder('gbk');
    stream.gbkState = 0;
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

  function appendToMessage(text) {
    if (!text) return;
    if (!stream.open) stream.open = addEntry();
    stream.open.raw += text;
    showRelayed(stream.open);
  }

  // A held separator is framing and ends here; a held part of one was the message's own text.
  function endMessage() {
    if (!stream.held.startsWith(SEPARATOR)) appendToMessage(stream.held);
    stream.held = '';
    stream.open = null;
  }

  function heldBackLength(text) {
    for (let n = Math.min(SEPARATOR.length - 1, text.length); n > 0; n--) {
      if (SEPARATOR.startsWith(text.slice(-n))) return n;
    }
    return 0;
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
    const own = text.startsWith(SEPARATOR) ? text.slice(SEPARATOR.length) : text;
    const at = own.indexOf(LINE_END);
    const sender = at >= 0 ? own.slice(0, at) : '';
    const body = at >= 0 ? own.slice(at + LINE_END.length) : own;
    const kind = sender === ROBOT ? ' robot' : sender === ADMINISTRATOR ? ' admin' : '';
    show(addEntry(), 'msg server' + kind, sender, body);
    if (sender === ADMINISTRATOR) actOn(body);
  }

  // ---- The administrator's notices ----------------------------------------------------------

  function actOn(body) {
    switch (body) {
    case NOTICE.shake: return shake('shake', SHAKE_MS, SHAKE_VIBRATION);
    case NOTICE.quake: return shake('quake', QUAKE_MS, QUAKE_VIBRATION);
    case NOTICE.mute: return mute();
    case NOTICE.reward: return askNickname('reward');
    case NOTICE.prank: return leave();
    case NOTICE.kick: return setState('kicked');
    case NOTICE.dissolution: return setState('dissolved');
    default: return undefined;
    }
  }

  function shake(effect, durationMs, vibration) {
    ui.app.classList.remove('shake', 'quake');
    void ui.app.offsetWidth; // restarts the animation when one is still running
    ui.app.classList.add(effect);
    setTimeout(() => ui.app.classList.remove(effect), durationMs);
    if (navigator.vibrate) navigator.vibrate(vibration);
  }

  function mute() {
    mutedUntil = Date.now() + MUTE_MS;
    store.set(MUTED_UNTIL_KEY, String(mutedUntil));
    updateMute();
  }

  function updateMute() {
    const left = Math.ceil((mutedUntil - Date.now()) / SECOND_MS);
    ui.mute.hidden = left <= 0;
    ui.mute.textContent = left > 0 ? `你已被管理员禁言，${left} 秒后可以发言` : '';
    updateComposer();
  }

  function leave() {
    setState('left');
    if (socket) socket.close();
  }

  // ---- The connection -----------------------------------------------------------------------

  function setState(next) {
    state = next;
    ui.app.dataset.state = next;
    const text = STATE_TEXT[next];
    ui.status.textContent = text.status;
    ui.banner.hidden = !text.banner;
    ui.bannerText.textContent = text.banner || '';
    ui.bannerButton.textContent = text.button || '';
    updateComposer();
  }

  function connect() {
    clearTimeout(retryTimer);
    if (socket) socket.close();
    resetStream();
    sentSinceConnect = false;
    setState('connecting');
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    const ws = new WebSocket(`${scheme}//${location.host}/ws`);
    ws.binaryType = 'arraybuffer';
    socket = ws;
    ws.addEventListener('open', () => {
      if (socket !== ws) return;
      retryMs = RECONNECT_FIRST_MS;
      setState('open');
    });
    ws.addEventListener('message', (event) => {
      if (socket !== ws) return;
      immediateRetries = 0; // a member now: a turned-away connection gets no message
      if (typeof event.data === 'string') onServerText(event.data);
      else onRelayed(new Uint8Array(event.data));
    });
    ws.addEventListener('close', (event) => {
      if (socket !== ws) return;
      socket = null;
      endMessage();
      appendToMessage(stream.decoder.decode());
      endMessage();
      if (FINAL_STATES.has(state)) return setState(state);
      setState('retrying');
      const atOnce = event.code === CLOSE_TRY_AGAIN && immediateRetries < MAX_IMMEDIATE_RETRIES;
      immediateRetries = atOnce ? immediateRetries + 1 : 0;
      if (atOnce) return connect();
      retryTimer = setTimeout(connect, retryMs);
      retryMs = Math.min(retryMs * 2, RECONNECT_MAX_MS);
    });
  }

  // ---- Sending ------------------------------------------------------------------------------

  const muted = () => mutedUntil > Date.now();

  function updateComposer() {
    ui.message.disabled = muted();
    ui.send.disabled = muted() || state !== 'open';
    ui.message.placeholder = muted() ? '禁言中…' : state === 'open' ? '说点什么，按回车发送' : '未连接，暂时发不出消息';
  }

  function send() {
    const body = ui.message.value.trim();
    if (!body || state !== 'open' || muted()) return;
    if (!nickname) return askNickname('first');
    socket.send((sentSinceConnect ? SEPARATOR : '') + nickname + LINE_END + body);
    sentSinceConnect = true;
    ui.message.value = '';
    following = true;
    scrollToEnd();
  }

  ui.composer.addEventListener('submit', (event) => {
    event.preventDefault();
    send();
  });
  ui.message.addEventListener('keydown', (event) => {
    if (event.key !== 'Enter') return;
    event.preventDefault(); // Enter that ends an input method's composition sends nothing
    if (!event.isComposing) send();
  });
  ui.bannerButton.addEventListener('click', connect);

  // ---- The nickname -------------------------------------------------------------------------

  const DIALOG_TEXT = {
    first: { title: '欢迎来到聊天室', hint: '请先起一个昵称，大家会看到它。', cancel: false },
    change: { title: '修改昵称', hint: '新的昵称从下一条消息起生效。', cancel: true },
    reward: { title: '管理员给了你一次改名的机会！', hint: '想换个昵称吗？', cancel: true },
  };

  function showNickname() {
    ui.nicknameLabel.textContent = nickname || '未设置昵称';
  }

  function askNickname(reason) {
    const text = DIALOG_TEXT[reason];
    ui.nicknameTitle.textContent = text.title;
    ui.nicknameHint.textContent = text.hint;
    ui.nicknameCancel.hidden = !text.cancel;
    ui.nicknameError.textContent = '';
    ui.nicknameInput.value = nickname;
    ui.dialog.dataset.reason = reason;
    if (!ui.dialog.open) ui.dialog.showModal();
    ui.nicknameInput.focus();
  }

  function nicknameProblem(name) {
    if (!name) return '昵称不能为空。';
    if (name === ADMINISTRATOR || name === ROBOT) return '这个昵称留给管理员和机器人。';
    return '';
  }

  ui.nicknameForm.addEventListener('submit', (event) => {
    event.preventDefault();
    const name = ui.nicknameInput.value.trim();
    const problem = nicknameProblem(name);
    ui.nicknameError.textContent = problem;
    if (problem) return;
    nickname = name;
    store.set(NICKNAME_KEY, name);
    showNickname();
    ui.dialog.close();
    ui.message.focus();
  });
  ui.nicknameCancel.addEventListener('click', () => ui.dialog.close());
  ui.dialog.addEventListener('cancel', (event) => {
    if (!nickname) event.preventDefault(); // a nickname is needed before anything is sent
  });
  ui.nicknameButton.addEventListener('click', () => askNickname('change'));

  ui.log.addEventListener('scroll', () => { following = followsEnd(); });
  // The log shrinks when a banner or the mute countdown appears, or a phone's keyboard opens.
  new ResizeObserver(() => { if (following) scrollToEnd(); }).observe(ui.log);
  showNickname();
  setInterval(updateMute, SECOND_MS);
  updateMute();
  connect();
  if (!nickname) askNickname('first');
  else ui.message.focus();
})();
