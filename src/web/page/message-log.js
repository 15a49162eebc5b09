// The log on the page: shows message objects (see room-stream.js) at a cost that does not grow
// with the log. Messages that arrive are put on the page once per animation frame, all in one
// insertion, and the view is scrolled to the end once then, only when the member was at the
// end. At most MAX_KEPT messages are kept; older ones are removed and one line at the top says
// so. Messages that arrive while the member has scrolled back or the tab is hidden are counted
// in the tab's title, and, scrolled back, on a button that leads down to them. Besides the
// room's messages the log shows the member's own while they are on their way (sending, or not
// sent with a button to send them again) and lines of its own (where the history ends, what
// could not be fetched again): a message object with `line` (its text) and `lineKind`.
'use strict';

const MessageLog = (() => {
  const MAX_KEPT = 500;
  // How close to the end of the log the view must be to keep following new messages.
  const FOLLOW_SLACK_PX = 48;
  const TRIMMED_TEXT = '更早的消息已移除';
  // One formatter for all: toLocaleTimeString builds a new one on every call, which is most of
  // the cost of showing a message.
  const clock = new Intl.DateTimeFormat('zh-CN', { hour: '2-digit', minute: '2-digit' });
  const timeOfDay = () => clock.format(Date.now());

  const DELIVERY_TEXT = { sending: '发送中…', failed: '未发送' };
  const RESEND_TEXT = '重发';

  // Whose a member's message is: the server says so in v2 (`own`); a v1 server does not, and the
  // nickname is all there is to go by.
  const isOwn = (message, nickname) => (message.own === undefined ? message.sender === nickname : message.own);

  function className(message, nickname) {
    const history = message.history ? ' history' : '';
    if (message.fromServer) {
      const kind = message.sender === RoomStream.ROBOT ? ' robot' : message.sender === RoomStream.ADMINISTRATOR ? ' admin' : '';
      return 'msg server' + kind + history;
    }
    if (!message.framed) return 'msg raw' + history;
    const whose = message.impostor ? ' impostor' : isOwn(message, nickname) ? ' own' : '';
    return 'msg chat' + whose + history + (message.delivery ? ` ${message.delivery}` : '');
  }

  // Another member who goes by this member's nickname is told apart by its roster entry.
  const namesake = (message, nickname) => !message.fromServer && message.own === false && message.sender === nickname;

  // `ui`: { log, marker, markerCount }; `nickname()`: the member's own, for telling a namesake
  // (and, from a v1 server, its own bubbles); `resend(message)`: the 重发 button of a message
  // that was not sent.
  function create(ui, nickname, resend) {
    const baseTitle = document.title;
    // Each message's element, once it is on the page; gone with the message.
    const elements = new WeakMap();
    let pending = [];
    const queued = new WeakSet();
    let frameRequested = false;
    let kept = 0;
    let trimmedLine = null;
    let skipped = false;
    // Whether the view follows new messages: until the member scrolls back from the end.
    let following = true;
    let unread = 0;

    function buildLine(message) {
      const el = document.createElement('p');
      el.className = `line ${message.lineKind}`;
      el.textContent = message.line;
      return el;
    }

    function build(message) {
      if (message.line) return buildLine(message);
      const el = document.createElement('div');
      const head = document.createElement('div');
      const sender = document.createElement('span');
      const time = document.createElement('time');
      const address = document.createElement('span');
      const body = document.createElement('div');
      const delivery = document.createElement('div');
      head.className = 'head';
      sender.className = 'sender';
      address.className = 'address';
      time.textContent = timeOfDay();
      body.className = 'body';
      delivery.className = 'delivery';
      head.append(sender, address, time);
      el.append(head, body, delivery);
      fill(el, message);
      return el;
    }

    function fillDelivery(el, message) {
      el.hidden = !message.delivery;
      el.textContent = DELIVERY_TEXT[message.delivery] || '';
      if (message.delivery !== 'failed') return;
      const button = document.createElement('button');
      button.type = 'button';
      button.className = 'resend';
      button.textContent = RESEND_TEXT;
      button.addEventListener('click', () => resend(message));
      el.append(' ', button);
    }

    // Room text only ever reaches the document through textContent.
    function fill(el, message) {
      if (message.line) return;
      const [head, body, delivery] = el.children;
      el.className = className(message, nickname());
      head.children[0].textContent = message.sender;
      head.children[1].textContent = namesake(message, nickname()) ? message.address : '';
      body.textContent = message.body.replaceAll(RoomStream.LINE_END, '\n');
      fillDelivery(delivery, message);
    }

    function showUnread() {
      document.title = unread > 0 ? `(${unread}) ${baseTitle}` : baseTitle;
      ui.marker.hidden = following || unread === 0;
      ui.markerCount.textContent = String(unread);
    }

    function seen() {
      if (!following || document.hidden || unread === 0) return;
      unread = 0;
      showUnread();
    }

    // Older messages go, the line that says so comes once; `skipped` messages never came on.
    function trim() {
      if ((kept > MAX_KEPT || skipped) && !trimmedLine) {
        trimmedLine = document.createElement('p');
        trimmedLine.className = 'trimmed';
        trimmedLine.textContent = TRIMMED_TEXT;
        ui.log.prepend(trimmedLine);
      }
      for (; kept > MAX_KEPT; kept--) trimmedLine.nextElementSibling.remove();
    }

    function dropOldestPending() {
      if (pending.length <= MAX_KEPT) return;
      pending.splice(0, pending.length - MAX_KEPT);
      skipped = true;
    }

    function scrollToEnd() { ui.log.scrollTop = ui.log.scrollHeight; }

    function render() {
      frameRequested = false;
      dropOldestPending();
      const batch = pending;
      pending = [];
      const fragment = document.createDocumentFragment();
      for (const message of batch) {
        const el = build(message);
        elements.set(message, el);
        fragment.append(el);
      }
      ui.log.append(fragment);
      kept += batch.length;
      trim();
      if (following) scrollToEnd();
    }

    function requestRender() {
      if (frameRequested) return;
      frameRequested = true;
      requestAnimationFrame(render);
    }

    // New messages wait for the next frame; changed ones already shown are changed in place.
    function show(messages) {
      let fresh = 0;
      for (const message of messages) {
        const el = elements.get(message);
        if (el) fill(el, message);
        else if (!queued.has(message)) {
          queued.add(message);
          pending.push(message);
          fresh++;
        }
      }
      // A hidden tab gets no frames: only the newest wait (the oldest would be removed anyway).
      if (pending.length > 2 * MAX_KEPT) dropOldestPending();
      if (fresh > 0 && (document.hidden || !following)) {
        unread += fresh;
        showUnread();
      }
      if (pending.length > 0) requestRender();
      else if (following && messages.length > 0) requestRender(); // a grown message moves the end
    }

    // A message that is no longer to be shown: an own one the room brought back.
    function remove(message) {
      const el = elements.get(message);
      if (el) {
        el.remove();
        elements.delete(message);
        kept--;
      } else if (queued.has(message)) {
        pending = pending.filter((m) => m !== message);
      }
      queued.delete(message);
    }

    // The member wants to see the end: after sending, or from the new-messages button.
    function follow() {
      following = true;
      scrollToEnd();
      seen();
      showUnread();
    }

    ui.log.addEventListener('scroll', () => {
      following = ui.log.scrollHeight - ui.log.scrollTop - ui.log.clientHeight < FOLLOW_SLACK_PX;
      seen();
      showUnread();
    }, { passive: true });
    // The log shrinks when a banner or the mute countdown appears, or a phone's keyboard opens.
    new ResizeObserver(() => { if (following) scrollToEnd(); }).observe(ui.log);
    document.addEventListener('visibilitychange', seen);
    ui.marker.addEventListener('click', follow);

    return { show, follow, remove };
  }

  return { create, MAX_KEPT };
})();
