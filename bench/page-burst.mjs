// How the room's web page copes with a long log, in headless Chromium at a phone's size with
// its processor slowed down as a phone's would be: the time from the first message of a burst
// of 2,000 reaching the page to the last one on screen, the main thread's work for one more
// message with 100 and with 5,000 already received, and the JavaScript heap after 10,000.
// Run by hand (not a test), in a network namespace of its own, after `npm ci` in tests/browser:
//
//   unshare -n sh -c 'ip link set lo up &&
//     CHATROOM_SERVER=build/sanitize/chatroom-server node bench/page-burst.mjs [CPU_SLOWDOWN]'
import { Room, TcpMember, launchBrowser, PAGE_URL, stateIs, sleep } from '../tests/browser/room.mjs';
import { frameShowing as frameShowingIn } from './page-frames.mjs';

const PHONE = { width: 390, height: 780, deviceScaleFactor: 2, isMobile: true, hasTouch: true };
const CPU_SLOWDOWN = Number(process.argv[2] || 4);
const BURST = 2000;
const BEFORE_ONE_MORE = [100, 5000];
const HEAP_AFTER = 10000;
// Messages are sent in chunks this large, so the room relays them as a member's burst.
const CHUNK = 500;
const ONE_MORE_TRIALS = 5;
const SHOWN_TIMEOUT_MS = 600_000;
const SETTLE_MS = 300;

const message = (i) => `老王\r\n第 ${i} 条消息：今天的作业是第三章的习题`;
const lastBody = (i) => message(i).split('\r\n')[1];

// A member page at a phone's size whose WebSocket notes when each frame arrives.
async function phonePage(browser) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  await page.evaluateOnNewDocument(() => {
    window.benchArrivals = [];
    const Native = window.WebSocket;
    window.WebSocket = class extends Native {
      constructor(...args) {
        super(...args);
        this.addEventListener('message', () => window.benchArrivals.push(performance.now()));
      }
    };
  });
  await page.setViewport(PHONE);
  await page.goto(PAGE_URL);
  await page.waitForSelector('#nickname-dialog[open]');
  await page.type('#nickname-input', '测速');
  await page.keyboard.press('Enter');
  await stateIs(page, 'open');
  page.cdp = await page.createCDPSession();
  await page.cdp.send('Performance.enable');
  return page;
}

const frameShowing = (page, body) => frameShowingIn(page, body, SHOWN_TIMEOUT_MS);

async function sendBurst(tcp, first, count) {
  for (let start = first; start < first + count; start += CHUNK) {
    const parts = [];
    for (let i = start; i < Math.min(first + count, start + CHUNK); i++) parts.push(message(i));
    tcp.send('\r\n\r\n' + parts.join('\r\n\r\n'));
    await sleep(1);
  }
}

const slowDown = (page, rate) => page.cdp.send('Emulation.setCPUThrottlingRate', { rate });
const metrics = async (page) => Object.fromEntries((await page.cdp.send('Performance.getMetrics')).metrics
  .map(({ name, value }) => [name, value]));
const median = (values) => values.slice().sort((a, b) => a - b)[Math.floor(values.length / 2)];

async function burstTime(browser, tcp) {
  const page = await phonePage(browser);
  await slowDown(page, CPU_SLOWDOWN);
  const arrivedBefore = await page.evaluate(() => window.benchArrivals.length);
  const before = await metrics(page);
  const shown = frameShowing(page, lastBody(BURST - 1));
  await sendBurst(tcp, 0, BURST);
  const end = await shown;
  const after = await metrics(page);
  const start = await page.evaluate((n) => window.benchArrivals[n], arrivedBefore);
  const frames = (await page.evaluate(() => window.benchArrivals.length)) - arrivedBefore;
  const spent = (name) => ((after[name] - before[name]) * 1000).toFixed(0);
  await page.browserContext().close();
  return { ms: end - start, detail: `${frames} WebSocket frames; script ${spent('ScriptDuration')} ms, style ${spent('RecalcStyleDuration')} ms, layout ${spent('LayoutDuration')} ms` };
}

// Main-thread work (ms) for one more message, with `already` received before, as the median of
// a few: script, style, layout and paint from its arrival until a frame after it was shown.
async function oneMoreCost(browser, tcp, already) {
  const page = await phonePage(browser);
  const shownAll = frameShowing(page, lastBody(already - 1));
  await sendBurst(tcp, 0, already);
  await shownAll;
  await slowDown(page, CPU_SLOWDOWN);
  const costs = [];
  for (let trial = 0; trial < ONE_MORE_TRIALS; trial++) {
    await sleep(SETTLE_MS);
    const before = await metrics(page);
    const shown = frameShowing(page, lastBody(already + trial));
    tcp.send('\r\n\r\n' + message(already + trial));
    await shown;
    await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve))));
    const after = await metrics(page);
    costs.push((after.TaskDuration - before.TaskDuration) * 1000);
  }
  await page.browserContext().close();
  return median(costs);
}

async function heapAfter(browser, tcp, count) {
  const page = await phonePage(browser);
  const shown = frameShowing(page, lastBody(count - 1));
  await sendBurst(tcp, 0, count);
  await shown;
  await page.cdp.send('HeapProfiler.collectGarbage');
  const { JSHeapUsedSize, Nodes } = await metrics(page);
  await page.browserContext().close();
  return { heapMB: JSHeapUsedSize / 1024 / 1024, nodes: Nodes };
}

const room = await Room.start('');
const browser = await launchBrowser();
try {
  const tcp = await TcpMember.connect();
  console.log(`CPU slowed down ${CPU_SLOWDOWN}x, viewport ${PHONE.width}x${PHONE.height}`);
  const burst = await burstTime(browser, tcp);
  console.log(`burst of ${BURST}: ${burst.ms.toFixed(0)} ms until the last is shown (${burst.detail})`);
  for (const already of BEFORE_ONE_MORE) {
    console.log(`one more after ${already}: ${(await oneMoreCost(browser, tcp, already)).toFixed(1)} ms of main-thread work`);
  }
  const { heapMB, nodes } = await heapAfter(browser, tcp, HEAP_AFTER);
  console.log(`after ${HEAP_AFTER}: JS heap ${heapMB.toFixed(1)} MB, ${nodes} DOM nodes`);
  tcp.close();
} finally {
  await browser.close();
  await room.close();
}
