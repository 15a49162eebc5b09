// The member's own messages on their way (v2): shown at once as sending, until the room's relay
// brings an own message back; the room relays a member's messages in the order they were sent,
// so each own message that comes back settles the oldest one still on its way. A message still
// on its way when the connection ends, or typed while there was none, is shown as not sent,
// with a button to send it again: only the member sends a message twice, never the page.
'use strict';

const Outbox = (() => {
  // `log`: the message log; `transmit(message)` sends a message's body framed under its
  // nickname and says whether it went.
  function create(log, transmit) {
    // Sent over the current session and not yet back from the room, oldest first.
    const awaiting = [];

    function outgoing(sender, body) {
      return { fromServer: false, framed: true, impostor: false, own: true, sender, body, delivery: 'sending' };
    }

    function dispatch(message) {
      if (!transmit(message)) return false;
      message.delivery = 'sending';
      awaiting.push(message);
      log.show([message]);
      return true;
    }

    return {
      // A message the member sent: on its way when there is a connection to take it, else
      // shown as not sent. Either way it is on the page, and the box may be emptied.
      send(sender, body) {
        const message = outgoing(sender, body);
        if (!dispatch(message)) {
          message.delivery = 'failed';
          log.show([message]);
        }
        return message;
      },
      // The 重发 button: the same message once more, when there is a connection.
      resend(message) {
        if (message.delivery !== 'failed') return;
        const at = awaiting.indexOf(message);
        if (at >= 0) awaiting.splice(at, 1);
        dispatch(message);
      },
      // An own message came back from the room: the oldest on its way is no longer shown
      // (the room's copy stands in its place, in the room's order).
      settle() {
        const message = awaiting.shift();
        if (message) log.remove(message);
      },
      // The connection ended: what is on its way may or may not have reached the room. It is
      // kept (a resumed session's replay may still bring it back) but shown as not sent.
      interrupted() {
        for (const message of awaiting) message.delivery = 'failed';
        log.show([...awaiting]);
      },
      // A new session (not the old one taken up again): nothing of the old one will come back.
      forget() { awaiting.length = 0; },
    };
  }

  return { create };
})();
