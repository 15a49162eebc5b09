// The invite view: the room's web addresses, large, and a QR code of the chosen one, for a
// teacher to show on the projector. The addresses are the server's (it writes them into the
// page's <meta name="room-addresses"> when it builds the page), since the address this page was
// opened with may be localhost; without them the page's own address stands in. The QR code is
// encoded by the qrcode-generator library inlined before this file, and drawn as SVG.
'use strict';

const Invite = (() => {
  const HASH = '#invite';
  // The smallest QR version that holds the text, and error correction M (15 %), which a phone
  // reads well off a projector's screen.
  const QR_SMALLEST_VERSION = 0;
  const QR_ERROR_CORRECTION = 'M';
  // The SVG's unit is one module; the standard's quiet zone is four modules wide.
  const QR_MODULE_SIZE = 1;
  const QR_QUIET_ZONE = 4;
  const QR_TITLE = '加入聊天室的二维码';

  function roomAddresses() {
    const meta = document.querySelector('meta[name="room-addresses"]');
    const listed = meta ? meta.content.split(/\s+/).filter((address) => address.startsWith('http://')) : [];
    return listed.length > 0 ? listed : [`${location.origin}/`];
  }

  // The library's SVG has only presentation attributes (no style attribute), so the page's
  // strict policy lets it show.
  function drawCode(container, text) {
    const code = qrcode(QR_SMALLEST_VERSION, QR_ERROR_CORRECTION);
    code.addData(text);
    code.make();
    container.innerHTML = code.createSvgTag({ cellSize: QR_MODULE_SIZE, margin: QR_QUIET_ZONE, scalable: true, title: QR_TITLE });
    container.dataset.text = text;
  }

  // `ui` holds the invite button and dialog's elements; `onClose` runs whenever it closes.
  function create(ui, onClose) {
    const addresses = roomAddresses();
    let chosen = addresses[0];

    function choose(address) {
      chosen = address;
      drawCode(ui.inviteCode, address);
      for (const item of ui.inviteAddresses.children) item.setAttribute('aria-pressed', String(item.dataset.address === address));
    }

    // One button per address; with several, choosing one puts it in the code.
    for (const address of addresses) {
      const item = document.createElement('button');
      item.type = 'button';
      item.className = 'invite-address';
      item.dataset.address = address;
      // The host and port, which people type, large and unbroken; the scheme and slash small.
      const url = new URL(address);
      const scheme = document.createElement('span');
      scheme.className = 'invite-scheme';
      scheme.textContent = `${url.protocol}//`;
      const host = document.createElement('span');
      host.className = 'invite-host';
      host.textContent = url.host;
      const slash = scheme.cloneNode();
      slash.textContent = url.pathname;
      item.append(scheme, host, slash);
      item.addEventListener('click', () => choose(address));
      ui.inviteAddresses.append(item);
    }
    ui.inviteAddresses.classList.toggle('several', addresses.length > 1);

    function show() {
      choose(chosen);
      if (!ui.inviteDialog.open) ui.inviteDialog.showModal();
      ui.inviteClose.focus();
    }

    ui.inviteButton.addEventListener('click', show);
    ui.inviteClose.addEventListener('click', () => ui.inviteDialog.close());
    ui.inviteDialog.addEventListener('close', () => {
      // A reload after closing shows the room, not the invite again.
      if (location.hash === HASH) history.replaceState(null, '', location.pathname + location.search);
      onClose();
    });
    window.addEventListener('hashchange', () => {
      if (location.hash === HASH) show();
    });

    return { show, requested: () => location.hash === HASH };
  }

  return { create };
})();
