// The room's web client. It joins the room over a WebSocket on the page's own address, sends
// what the user types framed as the room frames its own texts (a nickname line, CR LF, the
// body; CR LF CR LF before every message after the first), shows the room's stream as a chat
// (room-stream.js reads it, message-log.js shows it) and acts on the administrator's notices
// (shaking, muting, leaving...), only on those the server itself sent. It asks for the v2
// format and falls back to v1 when the server does not offer it; in v2 it takes its session up
// again after a blink or a reload and gets exactly what it missed, answers the server's pings,
// notices a connection that went silent, and shows its own messages on their way (outbox.js).
'use strict';

(() => {
  const { ROBOT, ADMINISTRATOR, SEPARATOR, LINE_END } = RoomStream;
  const NOTICE = {
    shake: '管理员抖了你一下！',
    quake: '管理员对你使用了屏幕地震！',
    reward: '管理员给了你一次改名的机会！并且可以去除您的本机号！',
    mute: '你已被管理员禁言1分钟！',
    prank: '管理员让你心甘情愿的退出聊天室！',
    kick: '你已被管理员踢出聊天室！',
    dissolution: '管理员已退出聊天室！聊天室解散！',
  };
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
  const SUBPROTOCOL = 'chatroom.v2';
  // Longer than the server's ping interval (15 s) with room to spare: a silence this long
  // means the connection is gone, whether or not the browser has noticed.
  const SILENCE_MS = 40 * 1000;
  const NICKNAME_KEY = 'chatroom.nickname';
  // The v2 session of this tab (sessionStorage), so that a reload takes it up again.
  const SESSION_KEY = 'chatroom.session';
  const LINE_TEXT = {
    joined: '以上是你加入前的消息',
    reloaded: '以上是刷新页面前的消息',
    missed: (n) => `连接中断期间有 ${n} 条消息未能取回`,
  };
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
  const MUTE_END_TEXT = '禁言已结束，可以发言了。';

  const $ = (id) => document.getElementById(id);
  const ui = {
    app: $('app'), status: $('status'), log: $('log'), marker: $('new-messages'), markerCount: $('new-messages-count'),
    banner: $('banner'), bannerText: $('banner-text'), bannerButton: $('banner-button'), composer: $('composer'),
    message: $('message'), send: $('send'), mute: $('mute'), announcer: $('announcer'),
    nicknameButton: $('nickname-button'), nicknameLabel: $('nickname-label'), dialog: $('nickname-dialog'),
    nicknameForm: $('nickname-form'), nicknameTitle: $('nickname-title'), nicknameHint: $('nickname-hint'),
    nicknameInput: $('nickname-input'), nicknameError: $('nickname-error'), nicknameCancel: $('nickname-cancel'),
    inviteButton: $('invite-button'), inviteDialog: $('invite-dialog'), inviteCode: $('invite-code'),
    inviteAddresses: $('invite-addresses'), inviteClose: $('invite-close'),
    membersButton: $('members-button'), membersCount: $('members-count'), membersPanel: $('members-panel'),
    membersList: $('members-list'), charsetHint: $('charset-hint'),
  };

  // localStorage can be missing or refuse writes (private windows); the page works without it.
  const storeIn = (storage) => ({
    get(key) { try { return window[storage].getItem(key); } catch { return null; } },
    set(key, value) { try { window[storage].setItem(key, value); } catch { /* kept for this visit only */ } },
    remove(key) { try { window[storage].removeItem(key); } catch { /* nothing kept */ } },
  });
  const store = storeIn('localStorage');
  const tabStore = storeIn('sessionStorage');
  const readSession = () => { try { return JSON.parse(tabStore.get(SESSION_KEY)); } catch { return null; } };

  let nickname = store.get(NICKNAME_KEY) || '';
  let mutedUntil = Number(store.get(MUTED_UNTIL_KEY)) || 0;
  let wasMuted = false;
  let state = 'connecting';
  let socket = null;
  let sentSinceConnect = false;
  let retryMs = RECONNECT_FIRST_MS;
  let retryTimer = 0;
  let immediateRetries = 0;
  let version = 1;
  let silenceTimer = 0;
  // v2: { token, sent } of the member this page is, kept over blinks and reloads; how this
  // connection came about ('joined', 'reloaded' or 'blinked'); the history items it replayed.
  let session = readSession();
  let arrival = session ? 'reloaded' : 'joined';
  let replayed = 0;

  const stream = RoomStream.create();
  const log = MessageLog.create(ui, () => nickname, (message) => outbox.resend(message));
  const outbox = Outbox.create(log, (message) => transmit(message.sender, message.body));

  const members = Members.create(ui);
  const line = (lineKind, text) => log.show([{ line: text, lineKind }]);

  function received({ messages, control }) {
    for (const message of messages) {
      if (message.own && !message.fromServer && message.seq !== undefined && !message.counted) outbox.settle();
      if (message.history && !message.counted) replayed++;
      message.counted = true;
    }
    log.show(messages);
    for (const message of messages) {
      if (message.fromServer && !message.history && message.sender === ADMINISTRATOR) actOn(message.body);
    }
    if (control) onControl(control);
  }

  function keepSession(next) {
    session = next;
    if (next) tabStore.set(SESSION_KEY, JSON.stringify(next));
    else tabStore.remove(SESSION_KEY);
  }

  // ---- The v2 frames that are not messages --------------------------------------------------

  function onControl(frame) {
    switch (frame.type) {
    case 'welcome': return welcome(frame);
    case 'live': return live();
    case 'ping': return socket && socket.send(JSON.stringify({ type: 'pong' }));
    case 'members': return members.show(frame);
    default: return undefined;
    }
  }

  function welcome(frame) {
    const resumed = Boolean(frame.resumed);
    if (!resumed) outbox.forget();
    if (!resumed && arrival === 'reloaded') arrival = 'joined'; // the old session was over
    keepSession({ token: String(frame.session), sent: resumed && Boolean(session && session.sent) });
    sentSinceConnect = session.sent;
    ui.app.dataset.address = String(frame.address || '');
    replayed = 0;
    if (arrival === 'blinked' && frame.missed > 0) line('missed', LINE_TEXT.missed(frame.missed));
    sendName();
  }

  // The replay is over: the history a joining or reloaded page was shown is set apart.
  function live() {
    if (replayed > 0 && arrival !== 'blinked') line('history-end', LINE_TEXT[arrival]);
    arrival = 'blinked';
  }

  function sendName() {
    if (version === 2 && socket && nickname && state === 'open') socket.send(JSON.stringify({ type: 'name', name: nickname }));
  }

  // Said once to a screen reader (the countdown itself is not a live region).
  function announce(text) {
    ui.announcer.textContent = text;
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

  // The style sheet plays the effect, or under reduced motion a still flash instead.
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
    const isMuted = left > 0;
    ui.mute.hidden = !isMuted;
    ui.mute.textContent = isMuted ? `你已被管理员禁言，${left} 秒后可以发言` : '';
    if (isMuted !== wasMuted) announce(isMuted ? ui.mute.textContent : MUTE_END_TEXT);
    wasMuted = isMuted;
    updateComposer();
  }

  function leave() {
    setState('left');
    if (socket) socket.close();
  }

  // ---- The connection -----------------------------------------------------------------------

  function setState(next) {
    // A member the room has ended cannot be taken up again: the next connection joins anew.
    if (FINAL_STATES.has(next)) keepSession(null);
    state = next;
    ui.app.dataset.state = next;
    const text = STATE_TEXT[next];
    ui.status.textContent = text.status;
    ui.banner.hidden = !text.banner;
    ui.bannerText.textContent = text.banner || '';
    ui.bannerButton.textContent = text.button || '';
    updateComposer();
  }

  // The address of the room's WebSocket; a page with a session asks to take it up again.
  function socketUrl() {
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    if (!session) return `${scheme}//${location.host}/ws`;
    const query = new URLSearchParams({ session: session.token, after: String(stream.lastSeq()) });
    return `${scheme}//${location.host}/ws?${query}`;
  }

  // In v2 the server speaks at least every ping interval; silence means the connection is lost.
  function expectFrame(ws) {
    clearTimeout(silenceTimer);
    if (version === 2) silenceTimer = setTimeout(() => lost(ws, 0), SILENCE_MS);
  }

  // A server that does not know v2 answers without the subprotocol, and a browser then fails
  // the handshake: a connection that asked for v2 and never opened is tried at once without.
  function connect(askForV2 = true) {
    clearTimeout(retryTimer);
    if (socket) socket.close();
    setState('connecting');
    const ws = new WebSocket(socketUrl(), askForV2 ? [SUBPROTOCOL] : []);
    ws.binaryType = 'arraybuffer';
    ws.askedForV2 = askForV2;
    socket = ws;
    ws.addEventListener('open', () => {
      if (socket !== ws) return;
      ws.opened = true;
      version = ws.protocol === SUBPROTOCOL ? 2 : 1;
      received(stream.reset(version));
      if (version === 1) sentSinceConnect = false;
      retryMs = RECONNECT_FIRST_MS;
      setState('open');
      expectFrame(ws);
    });
    ws.addEventListener('message', (event) => {
      if (socket !== ws) return;
      immediateRetries = 0; // a member now: a turned-away connection gets no message
      expectFrame(ws);
      received(stream.receive(event.data));
    });
    ws.addEventListener('close', (event) => lost(ws, event.code));
  }

  // The connection `ws` ended (its close event, or a silence that ended it here first).
  function lost(ws, code) {
    if (socket !== ws) return;
    socket = null;
    clearTimeout(silenceTimer);
    if (ws.readyState !== WebSocket.CLOSED) ws.close();
    received(stream.finish());
    outbox.interrupted();
    if (FINAL_STATES.has(state)) return setState(state);
    if (ws.askedForV2 && !ws.opened) return connect(false);
    setState('retrying');
    const atOnce = code === CLOSE_TRY_AGAIN && immediateRetries < MAX_IMMEDIATE_RETRIES;
    immediateRetries = atOnce ? immediateRetries + 1 : 0;
    if (atOnce) return connect();
    retryTimer = setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, RECONNECT_MAX_MS);
  }

  // ---- Sending ------------------------------------------------------------------------------

  const muted = () => mutedUntil > Date.now();

  function updateComposer() {
    ui.message.disabled = muted();
    ui.send.disabled = muted() || state !== 'open';
    ui.message.placeholder = muted() ? '禁言中…' : state === 'open' ? '回车发送，Shift+回车换行' : '未连接，暂时发不出消息';
  }

  // Frames a body under `sender` as the room frames its texts and sends it, if it can.
  function transmit(sender, body) {
    if (state !== 'open' || muted() || !socket) return false;
    const text = (sentSinceConnect ? SEPARATOR : '') + sender + LINE_END + body;
    socket.send(version === 2 ? JSON.stringify({ type: 'send', text }) : text);
    sentSinceConnect = true;
    if (version === 2 && session && !session.sent) keepSession({ ...session, sent: true });
    return true;
  }

  // The composer's Enter. In v2 the message goes on the page at once, on its way or not sent;
  // from a v1 server it comes back in the room's stream, and is kept in the box when it cannot go.
  function send(body) {
    if (muted()) return false;
    if (!nickname) {
      askNickname('first');
      return false;
    }
    if (version === 2) outbox.send(nickname, body);
    else if (!transmit(nickname, body)) return false;
    log.follow();
    return true;
  }

  Composer.create(ui, send);
  ui.bannerButton.addEventListener('click', () => connect());

  // ---- The nickname -------------------------------------------------------------------------

  const DIALOG_TEXT = {
    first: { title: '欢迎来到聊天室', hint: '请先起一个昵称，大家会看到它。', cancel: false },
    change: { title: '修改昵称', hint: '新的昵称从下一条消息起生效。', cancel: true },
    reward: { title: '管理员给了你一次改名的机会！', hint: '想换个昵称吗？', cancel: true },
  };

  function showNickname() {
    ui.nicknameLabel.textContent = nickname || '未设置昵称';
    ui.nicknameButton.setAttribute('aria-label', nickname ? `更改昵称（当前：${nickname}）` : '设置昵称');
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
    const changed = name !== nickname;
    nickname = name;
    store.set(NICKNAME_KEY, name);
    showNickname();
    if (changed) sendName();
    ui.dialog.close();
    ui.message.focus();
  });
  ui.nicknameCancel.addEventListener('click', () => ui.dialog.close());
  ui.dialog.addEventListener('cancel', (event) => {
    if (!nickname) event.preventDefault(); // a nickname is needed before anything is sent
  });
  ui.nicknameButton.addEventListener('click', () => askNickname('change'));

  // ---- Joining --------------------------------------------------------------------------------

  // A page opened for its invite (address#invite: the console's 邀请 action, on a projector)
  // shows the invite first and joins the room only once it is closed, so that a projector
  // showing the address is not a member of the room.
  let joined = false;
  function join() {
    if (joined) return;
    joined = true;
    connect();
    if (!nickname) askNickname('first');
    else ui.message.focus();
  }

  showNickname();
  setInterval(updateMute, SECOND_MS);
  updateMute();
  const invite = Invite.create(ui, join);
  if (invite.requested()) invite.show();
  else join();
})();
