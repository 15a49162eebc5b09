// How long a page that missed a stretch of the room takes to catch up: a page at a phone's size
// is cut off (its connection ended without a close, as a network blink does), a TCP member
// says MISSED messages meanwhile, and the page comes back within the grace period; measured
// from the moment it is let reconnect to the first frame that shows the last missed message.
// Run by hand (not a test), in a network namespace of its own, after `npm ci` in tests/browser:
//
//   unshare -n sh -c 'ip link set lo up &&
//     CHATROOM_SERVER=build/sanitize/chatroom-server node bench/page-resume.mjs [MISSED] [CPU_SLOWDOWN]'
import { execFileSync } from 'node:child_process';
import { Room, TcpMember, WEB_PORT, launchBrowser, join, stateIs, until } from '../tests/browser/room.mjs';
import { frameShowing } from './page-frames.mjs';

const PHONE = { width: 390, height: 780, deviceScaleFactor: 2, isMobile: true, hasTouch: true };
const MISSED = Number(process.argv[2] || 500);
const CPU_SLOWDOWN = Number(process.argv[3] || 1);
const TRIALS = 3;
const SHOWN_TIMEOUT_MS = 120_000;

const message = (trial, i) => `老王\r\n第 ${trial} 轮第 ${i} 条：断线期间说的话`;
const bodyOf = (text) => text.split('\r\n')[1];

const room = await Room.start('你好\r\n你好呀\r\n');
const browser = await launchBrowser();
try {
  const tcp = await TcpMember.connect();
  const page = await join(browser, '测速', PHONE);
  const cdp = await page.createCDPSession();
  await cdp.send('Emulation.setCPUThrottlingRate', { rate: CPU_SLOWDOWN });
  const times = [];
  for (let trial = 1; trial <= TRIALS; trial++) {
    await page.setOfflineMode(true);
    execFileSync('ss', ['-K', 'state', 'established', `( sport = :${WEB_PORT} )`], { stdio: 'pipe' });
    await stateIs(page, 'retrying');
    for (let i = 1; i <= MISSED; i++) tcp.send(`${i > 1 ? '\r\n\r\n' : ''}${message(trial, i)}`);
    await tcp.waitFor(bodyOf(message(trial, MISSED)));
    const last = bodyOf(message(trial, MISSED));
    await page.setOfflineMode(false);
    const started = await page.evaluate(() => performance.now());
    await page.click('#banner-button');
    const shown = await frameShowing(page, last, SHOWN_TIMEOUT_MS);
    times.push(shown - started);
    await until('the page open again', () => page.$eval('#app', (app) => app.dataset.state === 'open'));
  }
  times.sort((a, b) => a - b);
  console.log(`result missed=${MISSED} cpu_slowdown=${CPU_SLOWDOWN} trials=${TRIALS} resume_to_last_shown_ms=${times.map((t) => t.toFixed(0)).join(',')} median_ms=${times[Math.floor(TRIALS / 2)].toFixed(0)}`);
  tcp.close();
} finally {
  await browser.close();
  await room.close();
}
