// The room's members as a v2 server lists them: their count in the header, a panel with their
// names that the count opens and closes. A member without a name (a TCP client the room has not
// heard name itself, a page before its first name) is shown by its address; this page's own
// entry is marked.
'use strict';

const Members = (() => {
  const SELF_TEXT = '（你）';
  const WEB_TEXT = '网页';
  const TERMINAL_TEXT = '终端';

  function entry(member, self) {
    const item = document.createElement('li');
    const name = document.createElement('span');
    const detail = document.createElement('small');
    name.className = 'member-name';
    name.textContent = (member.name || member.address) + (member.address === self ? SELF_TEXT : '');
    detail.textContent = `${member.web ? WEB_TEXT : TERMINAL_TEXT}${member.name ? ` · ${member.address}` : ''}`;
    item.append(name, ' ', detail);
    return item;
  }

  // `ui`: { membersButton, membersCount, membersPanel, membersList }.
  function create(ui) {
    ui.membersButton.addEventListener('click', () => {
      ui.membersPanel.hidden = !ui.membersPanel.hidden;
      ui.membersButton.setAttribute('aria-expanded', String(!ui.membersPanel.hidden));
    });

    return {
      // A `members` frame: the roster in the room's order.
      show(frame) {
        const members = Array.isArray(frame.members) ? frame.members.filter((m) => m && typeof m.address === 'string') : [];
        ui.membersButton.hidden = false;
        ui.membersCount.textContent = String(members.length);
        ui.membersList.replaceChildren(...members.map((m) => entry(m, frame.self)));
      },
    };
  }

  return { create };
})();
