// The page's v2 session against the built program: a page whose connection is cut while a TCP
// member talks shows every message once when it is back, as the same member; what it typed
// meanwhile shows as not sent until 重发; a late joiner sees the history set apart; two pages
// with one nickname tell their own messages from the other's; a reload takes the member up
// again. Run by CTest like web.test.mjs, and skipped like it.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { after, before, test } from 'node:test';

const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const harness = await import('./room.mjs').catch((error) => error);
if (harness instanceof Error || !fs.existsSync(chromium)) {
  console.log(`skipped: ${harness instanceof Error ? harness.message : `no ${chromium}`}`);
  process.exit(process.env.CHATROOM_BROWSER_REQUIRED ? 1 : 77);
}
const { Room, TcpMember, WEB_PORT, launchBrowser, join, joinNamed, say, stateIs, messageShown, until, underWine } = harness;

const WORDS = '你好\r\n你好呀，欢迎！\r\n';
const JOINED_LINE = '以上是你加入前的消息';
const RELOADED_LINE = '以上是刷新页面前的消息';

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser.close(); });

const noProblems = (...pages) => { for (const page of pages) assert.deepEqual(page.problems, []); };
// Every message and line of the log, in order: [class, sender, body] or ['line ...', text].
const logEntries = (page) => page.$$eval('#log > *', (all) => all.map((e) => (e.classList.contains('msg')
  ? [e.className, e.querySelector('.sender').textContent, e.querySelector('.body').textContent]
  : [e.className, e.textContent])));
const count = (entries, body) => entries.filter((e) => e[2] === body).length;
// Ends the room's side of every web connection at once, without a close frame: a network blink.
const cutWebConnections = () => execFileSync('ss', ['-K', 'state', 'established', `( sport = :${WEB_PORT} )`], { stdio: 'pipe' });

test('a page cut off while a TCP member talks shows every message once; what it typed meanwhile waits for 重发',
  { skip: underWine && 'no admin command on Windows' }, async (t) => {
    const room = await Room.start(WORDS);
    t.after(() => room.stop());
    const tcp = await TcpMember.connect();
    const page = await joinNamed(room, browser, '小明');
    tcp.send('老王\r\n断开之前');
    await messageShown(page, '断开之前', '老王');
    await say(page, '我还在');
    await tcp.waitFor('小明\r\n我还在');

    // Offline, the page cannot come back until the test lets it.
    await page.setOfflineMode(true);
    cutWebConnections();
    await stateIs(page, 'retrying');
    tcp.send('\r\n\r\n老王\r\n断开期间一\r\n\r\n老王\r\n断开期间二');
    await say(page, '断线时打的字');
    assert.match(await messageShown(page, '断线时打的字', '小明'), /\bfailed\b/);
    assert.equal(await page.$eval('#message', (m) => m.value), '');
    assert.equal(await page.$eval('#log .msg.failed .resend', (b) => b.textContent), '重发');

    await page.setOfflineMode(false);
    await page.click('#banner-button');
    await stateIs(page, 'open');
    await messageShown(page, '断开期间二', '老王');
    tcp.send('\r\n\r\n老王\r\n回来之后');
    await messageShown(page, '回来之后', '老王');
    const entries = await logEntries(page);
    for (const body of ['断开之前', '我还在', '断开期间一', '断开期间二', '回来之后']) assert.equal(count(entries, body), 1, body);
    assert.deepEqual(entries.filter((e) => e[0].startsWith('line')), [], 'a blink is no join and nothing was missed');
    // The same member all along: the room saw nobody leave, and the typed text did not go by itself.
    const roster = room.roster();
    assert.ok(roster.includes(page.address) && roster.length === 2, roster.join(' '));
    assert.ok(!tcp.text().includes('离开'), tcp.text());
    assert.ok(!tcp.text().includes('断线时打的字'));

    await page.click('#log .msg.failed .resend');
    await tcp.waitFor('\r\n\r\n小明\r\n断线时打的字');
    assert.equal(await messageShown(page, '断线时打的字', '小明'), 'msg chat own');
    await until('the resent message to settle', async () => count(await logEntries(page), '断线时打的字') === 1);
    assert.equal(tcp.text().split('断线时打的字').length, 2, 'sent once');
    noProblems(page);
    tcp.close();
    assert.equal(await room.close(), 0);
  });

test('a late joiner sees the history set apart; two pages with one nickname tell own from other; a reload takes the member up again',
  async (t) => {
    const room = await Room.start(WORDS);
    t.after(() => room.stop());
    const tcp = await TcpMember.connect();
    const first = await join(browser, '小明');
    // Each own message is on the page as sending before the room brings it back.
    await first.evaluate(() => {
      window.seenSending = [];
      new MutationObserver((changes) => changes.forEach((c) => c.addedNodes.forEach((n) =>
        n.classList && n.classList.contains('sending') && window.seenSending.push(n.textContent))))
        .observe(document.getElementById('log'), { childList: true });
    });
    tcp.send('老王\r\n早上好');
    await say(first, '我先来的');
    assert.equal(await messageShown(first, '我先来的', '小明'), 'msg chat own');
    assert.ok(await first.evaluate(() => window.seenSending.some((text) => text.includes('我先来的'))));

    const second = await join(browser, '小明');
    await until('the history line', async () => (await logEntries(second)).some((e) => e[1] === JOINED_LINE));
    const history = await logEntries(second);
    assert.deepEqual(history.map((e) => e[0]), ['msg chat history', 'msg chat history', 'line history-end']);
    assert.deepEqual(history.slice(0, 2).map((e) => e[2]), ['早上好', '我先来的']);

    await say(first, '第二句');
    assert.equal(await messageShown(first, '第二句', '小明'), 'msg chat own');
    assert.equal(await messageShown(second, '第二句', '小明'), 'msg chat');
    await say(second, '我是另一个小明');
    assert.equal(await messageShown(second, '我是另一个小明', '小明'), 'msg chat own');
    assert.equal(await messageShown(first, '我是另一个小明', '小明'), 'msg chat');
    // The namesake is told apart by its roster entry beside the name.
    const address = await second.$eval('#app', (app) => app.dataset.address);
    assert.match(address, /^127\.0\.0\.1:\d+$/);
    assert.equal(await first.$eval('#log .msg:last-child .address', (a) => a.textContent), address);
    assert.deepEqual((await logEntries(first)).filter((e) => e[0].startsWith('line')), [], 'nothing before the first joined');

    // A reload is the same member: nobody left or came, and the conversation is back.
    await second.reload();
    await stateIs(second, 'open');
    await until('the history after the reload', async () => (await logEntries(second)).some((e) => e[1] === RELOADED_LINE));
    const reloaded = await logEntries(second);
    assert.deepEqual(reloaded.filter((e) => e[2]).map((e) => e[2]), ['早上好', '我先来的', '第二句', '我是另一个小明']);
    assert.equal(reloaded.find((e) => e[2] === '我是另一个小明')[0], 'msg chat own history');
    assert.equal(await second.$eval('#app', (app) => app.dataset.address), address);
    assert.ok(!tcp.text().includes('离开'), tcp.text());
    noProblems(first);
    tcp.close();
    assert.equal(await room.close(), 0);
  });

test('a page is a member once named; pages keep each other\'s emoji, a TCP member gets "?" and the writer is told',
  async (t) => {
    const room = await Room.start(WORDS);
    t.after(() => room.stop());
    const tcp = await TcpMember.connect();
    const context = await browser.createBrowserContext();
    const asking = await context.newPage();
    await asking.goto(harness.PAGE_URL);
    await asking.waitForSelector('#nickname-dialog[open]');
    const other = await join(browser, '阿花');
    // Still asking for its nickname, the first page is nobody in the room.
    await until('the named page in the list', () => other.$eval('#members-count', (c) => c.textContent === '2'));
    if (!underWine) assert.equal(room.roster().length, 2);
    await asking.type('#nickname-input', '小明');
    await asking.keyboard.press('Enter');
    await stateIs(asking, 'open');
    await until('three in the list', () => other.$eval('#members-count', (c) => c.textContent === '3'));
    if (!underWine) assert.equal(room.roster().length, 3);

    const typed = '表情 😀👍🏽';
    await asking.type('#message', typed);
    assert.match(await asking.$eval('#charset-hint', (h) => (h.hidden ? '' : h.textContent)), /\?/);
    await asking.keyboard.press('Enter');
    assert.match(await messageShown(other, typed, '小明'), /\bchat\b/);
    await tcp.waitFor('小明\r\n表情 ???');
    tcp.close();
    assert.equal(await room.close(), 0);
  });
