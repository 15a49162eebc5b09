// Takes the README's picture of the invite view: the page opened as the console opens it
// (#invite), at a desktop's (projector's) size and a phone's, side by side in one picture. Run
// it in a network namespace of its own, like screenshot.mjs:
//
//   unshare -n sh -c 'ip link set lo up &&
//     CHATROOM_SERVER=build/release/chatroom-server node tests/browser/invite-screenshot.mjs docs/web-invite.png'
import { Room, launchBrowser, WEB_PORT } from './room.mjs';

const DESKTOP = { width: 1280, height: 720, deviceScaleFactor: 1 };
const PHONE = { width: 390, height: 780, deviceScaleFactor: 1 };
const GAP_PX = 24;

const room = await Room.start('');
const browser = await launchBrowser();
try {
  const shots = [];
  for (const viewport of [DESKTOP, PHONE]) {
    const page = await browser.newPage();
    await page.setViewport(viewport);
    await page.goto(`http://localhost:${WEB_PORT}/#invite`);
    await page.waitForSelector('#invite-dialog[open] svg');
    shots.push({ data: (await page.screenshot({ encoding: 'base64' })), ...viewport });
    await page.close();
  }
  // Both pictures side by side on a blank page of the browser's own.
  const board = await browser.newPage();
  await board.setViewport({ width: DESKTOP.width + PHONE.width + 3 * GAP_PX, height: Math.max(DESKTOP.height, PHONE.height) + 2 * GAP_PX });
  await board.setContent(`<body style="margin:0;padding:${GAP_PX}px;display:flex;gap:${GAP_PX}px;align-items:flex-start;background:#5b6470">${
    shots.map((s) => `<img width="${s.width}" height="${s.height}" src="data:image/png;base64,${s.data}">`).join('')}</body>`);
  await board.screenshot({ path: process.argv[2] || 'web-invite.png' });
} finally {
  await browser.close();
  await room.close();
}
