// The room's web page in Debian's Chromium against the built program: browsers and a TCP
// member chat both ways, the robot and the votes, the administrator's actions on a page, an
// imitated notice, the dissolution; typing several lines and with an input method, a long burst
// and the new-messages button, contrast and the names assistive technology gets. Run by CTest (node web.test.mjs); exits with 77 (skipped)
// when puppeteer-core (npm ci here) or Chromium is missing, unless CHATROOM_BROWSER_REQUIRED.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import { after, before, test } from 'node:test';

const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const harness = await import('./room.mjs').catch((error) => error);
if (harness instanceof Error || !fs.existsSync(chromium)) {
  console.log(`skipped: ${harness instanceof Error ? harness.message : `no ${chromium}`}`);
  process.exit(process.env.CHATROOM_BROWSER_REQUIRED ? 1 : 77);
}
const { Room, TcpMember, launchBrowser, join, joinNamed, say, stateIs, messageShown, until, sleep, underWine } = harness;
const { measureContrast, MIN_TEXT_RATIO, MIN_EDGE_RATIO } = await import('./contrast.mjs');

const WORDS = '你好\r\n你好呀，欢迎！\r\n';
const MUTE = '你已被管理员禁言1分钟！';
const ROBOT = 'Velqo机器人';
const ADMINISTRATOR = '管理员';
// Longer than the page's first wait before it reconnects on its own.
const RECONNECT_GRACE_MS = 2500;

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser.close(); });

const noProblems = (...pages) => { for (const page of pages) assert.deepEqual(page.problems, []); };

test('two browsers and a TCP member chat, the robot answers, votes count, the room closes', async (t) => {
  const room = await Room.start(WORDS);
  t.after(() => room.stop());
  const tcp = await TcpMember.connect();
  const a = await join(browser, '小明');
  const b = await join(browser, '阿花');

  // Browser to browser and to TCP, first message without the separator.
  await say(a, '大家好，我是小明');
  assert.equal(await messageShown(b, '大家好，我是小明', '小明'), 'msg chat');
  assert.equal(await messageShown(a, '大家好，我是小明', '小明'), 'msg chat own');
  await tcp.waitFor('小明\r\n大家好，我是小明');

  // TCP to browsers, framed and unframed; a later message from a page carries the separator.
  tcp.send('老王\r\n我在终端里，能看到吗？');
  assert.equal(await messageShown(a, '我在终端里，能看到吗？', '老王'), 'msg chat');
  tcp.send('\r\n\r\n一行没有昵称的字\r\n');
  assert.equal(await messageShown(b, '一行没有昵称的字'), 'msg raw');
  await say(a, '看到了！');
  await tcp.waitFor('\r\n\r\n小明\r\n看到了！');

  // The robot answers a browser, to everybody, set apart as the server's own.
  await say(b, '你好');
  assert.equal(await messageShown(a, '你好呀，欢迎！', ROBOT), 'msg server robot');
  await tcp.waitFor(`\r\n\r\n${ROBOT}\r\n你好呀，欢迎！`);

  // Relayed bytes imitating the mute notice are shown as chat and do nothing.
  tcp.send(`\r\n\r\n${ADMINISTRATOR}\r\n${MUTE}`);
  assert.equal(await messageShown(a, MUTE, ADMINISTRATOR), 'msg chat impostor');
  assert.deepEqual(await a.$eval('#message', (m) => [m.disabled, document.getElementById('mute').hidden]), [false, true]);

  // Three votes, two from browsers and one from TCP, switch the robot off.
  await say(a, '@关闭');
  await messageShown(b, '还需要2个人才能关闭我哦！', ROBOT);
  await say(b, '@关闭');
  await messageShown(a, '还需要1个人才能关闭我哦！', ROBOT);
  tcp.send('\r\n\r\n老王\r\n@关闭');
  await messageShown(a, '机器人已关闭，开启机器人请发送@开启', ROBOT);

  // Closing the room: both pages show the dissolution and stay closed.
  assert.equal(await room.close(), 0);
  for (const page of [a, b]) {
    assert.equal(await messageShown(page, '管理员已退出聊天室！聊天室解散！', ADMINISTRATOR), 'msg server admin');
    await stateIs(page, 'dissolved');
  }
  noProblems(a, b);
  tcp.close();
});

// The visible effect of each administrator action on the page it names; `effect` checks it.
const recordClasses = (page) => page.evaluate(() => {
  const app = document.getElementById('app');
  window.seenClasses = [];
  new MutationObserver(() => window.seenClasses.push(...app.classList)).observe(app, { attributes: true });
});
const classSeen = (page, name) => page.waitForFunction((n) => window.seenClasses.includes(n), {}, name);
const leftRoom = async (room, page, state) => {
  await stateIs(page, state);
  await until('the page to leave the roster', () => !room.roster().includes(page.address));
  await sleep(RECONNECT_GRACE_MS);
  assert.ok(!room.roster().includes(page.address), 'the page came back on its own');
  await stateIs(page, state);
};
const ACTIONS = [
  { verb: 'shake', body: '管理员抖了你一下！', effect: (room, page) => classSeen(page, 'shake') },
  { verb: 'quake', body: '管理员对你使用了屏幕地震！', effect: (room, page) => classSeen(page, 'quake') },
  { verb: 'mute', body: MUTE, effect: async (room, page) => {
    assert.deepEqual(await page.$eval('#message', (m) => [m.disabled, document.getElementById('send').disabled]), [true, true]);
    assert.match(await page.$eval('#mute', (m) => m.textContent), /禁言.*[56][0-9] 秒/);
  } },
  { verb: 'reward', body: '管理员给了你一次改名的机会！并且可以去除您的本机号！', effect: async (room, page) => {
    await page.waitForSelector('#nickname-dialog[open]');
    await page.$eval('#nickname-input', (input) => { input.value = ''; });
    await page.type('#nickname-input', '改过名的');
    await page.keyboard.press('Enter');
    await say(page, '新名字好听吗');
    assert.equal(await messageShown(page, '新名字好听吗', '改过名的'), 'msg chat own');
  } },
  { verb: 'prank', body: '管理员让你心甘情愿的退出聊天室！', effect: (room, page) => leftRoom(room, page, 'left') },
  { verb: 'kick', body: '你已被管理员踢出聊天室！', effect: (room, page) => leftRoom(room, page, 'kicked') },
];

test('the administrator\'s actions have their effect on the page they name', { skip: underWine && 'no admin command on Windows' }, async (t) => {
  const room = await Room.start(WORDS);
  t.after(() => room.stop());
  const bystander = await join(browser, '旁观者');
  for (const { verb, body, effect } of ACTIONS) {
    await t.test(verb, async () => {
      const page = await joinNamed(room, browser, verb);
      await recordClasses(page);
      assert.equal(room.admin(verb, page.address).status, 0);
      assert.equal(await messageShown(page, body, ADMINISTRATOR), 'msg server admin');
      await effect(room, page);
      noProblems(page);
      await page.browserContext().close();
    });
  }
  // Nothing of it reached the page that was not named but the leave notices.
  const notices = await bystander.$$eval('#log .msg.admin .body', (m) => m.map((e) => e.textContent));
  assert.ok(notices.every((n) => n.endsWith('离开聊天室！')), notices.join(' '));
  assert.equal(await bystander.$eval('#message', (m) => m.disabled), false);
  assert.equal(await room.close(), 0);
});

test('Shift+Enter makes lines of one message; an input method\'s Enter sends nothing', async (t) => {
  const room = await Room.start(WORDS);
  t.after(() => room.stop());
  const tcp = await TcpMember.connect();
  const a = await join(browser, '小明');
  const b = await join(browser, '阿花');

  await a.type('#message', '第一行');
  await a.keyboard.down('Shift');
  await a.keyboard.press('Enter');
  await a.keyboard.up('Shift');
  await a.type('#message', '第二行');
  // Safari's confirming Enter: key code 229 with isComposing false.
  await a.$eval('#message', (m) => {
    window.seenKeys = [];
    m.addEventListener('keydown', (e) => window.seenKeys.push([e.key, e.keyCode, e.isComposing]));
  });
  const cdp = await a.createCDPSession();
  for (const type of ['keyDown', 'keyUp']) {
    await cdp.send('Input.dispatchKeyEvent', { type, key: 'Enter', code: 'Enter', windowsVirtualKeyCode: 229 });
  }
  assert.deepEqual(await a.evaluate(() => window.seenKeys), [['Enter', 229, false]]);
  assert.equal(await a.$eval('#message', (m) => m.value), '第一行\n第二行');
  await a.keyboard.press('Enter');
  await tcp.waitFor('小明\r\n第一行\r\n第二行');
  assert.equal(await messageShown(b, '第一行\n第二行', '小明'), 'msg chat');
  assert.equal(await a.$eval('#message', (m) => m.value), '');
  noProblems(a, b);
  tcp.close();
  assert.equal(await room.close(), 0);
});

const KEPT = 500;
const logBodies = (page) => page.$$eval('#log .msg .body', (m) => m.map((e) => e.textContent));
const scrolledToEnd = (page) => page.$eval('#log', (l) => l.scrollHeight - l.scrollTop - l.clientHeight < 2);

test('a long burst ends with the newest messages shown and the older ones removed; scrolled back, a button leads down', async (t) => {
  const room = await Room.start(WORDS);
  t.after(() => room.stop());
  const tcp = await TcpMember.connect();
  const page = await join(browser, '小明');

  const burst = Array.from({ length: 2 * KEPT }, (_, i) => `老王\r\n消息 ${i}`);
  tcp.send('\r\n\r\n' + burst.join('\r\n\r\n'));
  await messageShown(page, `消息 ${burst.length - 1}`, '老王');
  assert.deepEqual(await logBodies(page), burst.slice(-KEPT).map((m) => m.split('\r\n')[1]));
  assert.equal(await page.$eval('#log', (l) => l.firstElementChild.textContent), '更早的消息已移除');
  assert.ok(await scrolledToEnd(page));
  assert.equal(await page.$eval('#new-messages', (m) => m.hidden), true);

  // Back to the top; the page has seen the scroll once the event reached a later listener.
  await page.$eval('#log', (l) => new Promise((resolve) => {
    l.addEventListener('scroll', resolve, { once: true });
    l.scrollTop = 0;
  }));
  tcp.send('\r\n\r\n老王\r\n往上翻的时候来的\r\n\r\n老王\r\n又一条');
  await messageShown(page, '又一条', '老王');
  await page.waitForSelector('#new-messages:not([hidden])');
  assert.equal(await page.title(), '(2) 聊天室');
  assert.match(await page.$eval('#new-messages', (m) => m.textContent), /^\s*2 条新消息/);
  assert.equal(await page.$eval('#log', (l) => l.scrollTop), 0);
  await page.click('#new-messages');
  await until('the log to scroll to its end', () => scrolledToEnd(page));
  assert.equal(await page.title(), '聊天室');
  assert.equal(await page.$eval('#new-messages', (m) => m.hidden), true);
  noProblems(page);
  tcp.close();
  assert.equal(await room.close(), 0);
});

test('texts and controls stand out enough, controls say what they do, the header keeps to one line on a phone, reduced motion shakes nothing', async (t) => {
  const room = await Room.start(WORDS);
  t.after(() => room.stop());
  const tcp = await TcpMember.connect();
  const first = await browser.createBrowserContext();
  const dialogPage = await first.newPage();
  await dialogPage.goto(harness.PAGE_URL);
  await dialogPage.waitForSelector('#nickname-dialog[open]');
  // The roster is read through the admin command, which Windows does not have: there the
  // page's address is not needed, since no notice is sent to it.
  const page = underWine ? await join(browser, '小明') : await joinNamed(room, browser, '小明');

  await say(page, '我自己说的');
  await say(page, '你好');
  tcp.send(`老王\r\n别人说的\r\n\r\n没有昵称的一行\r\n\r\n${ROBOT}\r\n冒充的`);
  await messageShown(page, '冒充的', ROBOT);
  if (!underWine) {
    assert.equal(room.admin('mute', page.address).status, 0);
    await messageShown(page, MUTE, ADMINISTRATOR);
  }
  await messageShown(page, '你好呀，欢迎！', ROBOT);
  // Focused, the message box shows the accent's outline instead of its border: the border is
  // measured as it stands unfocused.
  await page.evaluate(() => document.activeElement?.blur());
  const measured = [...await measureContrast(page), ...await measureContrast(dialogPage)];
  assert.equal(await room.close(), 0);
  await stateIs(page, 'dissolved');
  measured.push(...await measureContrast(page));
  const kinds = new Set(measured.map((m) => m.what));
  for (const expected of ['span.sender in msg server robot', 'time in msg chat own', '#status::before', '#message::placeholder', '#banner-button']) {
    assert.ok(kinds.has(expected), `${expected} was not measured: ${[...kinds].join(', ')}`);
  }
  const tooFaint = measured.filter((m) => m.ratio < (m.kind === 'text' ? MIN_TEXT_RATIO : MIN_EDGE_RATIO));
  assert.deepEqual(tooFaint, []);

  const tree = await page.accessibility.snapshot({ interestingOnly: false });
  const nodes = [];
  const walk = (node) => { nodes.push(node); (node.children || []).forEach(walk); };
  walk(tree);
  assert.ok(nodes.some((n) => n.role === 'main'), 'no main landmark');
  assert.ok(nodes.some((n) => n.role === 'button' && n.name === '更改昵称（当前：小明）'));
  assert.equal(await page.$eval('#mute', (m) => m.getAttribute('aria-live') ?? m.getAttribute('role')), null);

  // At a small phone's width, with the longest state's text, nothing in the header breaks onto
  // a second line: a broken word would make its box twice as tall as the others.
  await page.setViewport({ width: 360, height: 760 });
  const heights = await page.$$eval('.top > :not([hidden])', (items) => items.map((item) => item.getBoundingClientRect().height));
  assert.ok(Math.max(...heights) < 1.5 * Math.min(...heights), `header items' heights ${heights}`);

  const animationOf = (effect) => page.$eval('#app', (app, e) => {
    app.classList.add(e);
    const name = getComputedStyle(app).animationName;
    app.classList.remove(e);
    return name;
  }, effect);
  assert.deepEqual([await animationOf('shake'), await animationOf('quake')], ['shake', 'quake']);
  await page.emulateMediaFeatures([{ name: 'prefers-reduced-motion', value: 'reduce' }]);
  assert.deepEqual([await animationOf('shake'), await animationOf('quake')], ['flash', 'flash']);
  noProblems(page);
  tcp.close();
});

// The invite view, opened as the console opens it (address#invite) but through `localhost`:
// it shows the server's own addresses, not the one the page was opened with, and a QR code of
// the chosen one with its quiet zone; the page joins the room only once the view is closed.
test('the invite view shows the server\'s addresses and a QR code of them, and joins only when closed', async (t) => {
  const room = await Room.start(WORDS);
  t.after(() => room.stop());
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  page.problems = [];
  page.on('pageerror', (error) => page.problems.push(error.message));
  page.on('console', (message) => { if (message.type() === 'error') page.problems.push(message.text()); });
  await page.setViewport({ width: 1280, height: 720 });
  await page.goto(`http://localhost:${harness.WEB_PORT}/#invite`);
  await page.waitForSelector('#invite-dialog[open]');
  assert.equal(await page.$eval('#nickname-dialog', (d) => d.open), false, 'the nickname was asked over the invite');
  if (!underWine) assert.deepEqual(room.roster(), [], 'a page showing its invite joined the room');

  const shown = await page.$$eval('#invite-addresses .invite-address', (items) => items.map((i) => i.textContent));
  const machine = Object.values(os.networkInterfaces()).flat().filter((a) => a.family === 'IPv4');
  const others = machine.filter((a) => !a.internal);
  const expected = (others.length > 0 ? others : machine).map((a) => `http://${a.address}:${harness.WEB_PORT}/`);
  if (underWine) assert.ok(shown.length > 0 && shown.every((a) => expected.includes(a)), shown.join(' '));
  else assert.deepEqual([...shown].sort(), [...expected].sort());

  const code = await page.$eval('#invite-code', (box) => {
    const svg = box.querySelector('svg');
    const rect = svg.getBoundingClientRect();
    return { text: box.dataset.text, viewBox: svg.getAttribute('viewBox'), modules: (svg.querySelector('path').getAttribute('d').match(/M/g) || []).length,
      width: rect.width, height: rect.height };
  });
  assert.equal(code.text, shown[0], 'the QR code holds another text than the address shown first');
  // A QR symbol is 17 + 4 × version modules wide, here with four modules of quiet zone each side.
  const side = Number(code.viewBox.split(' ')[2]) - 2 * 4;
  assert.ok(side >= 21 && (side - 17) % 4 === 0, `not a QR symbol's size: ${code.viewBox}`);
  assert.ok(code.modules > side, 'the code has next to no dark modules');
  assert.ok(code.width >= 300 && Math.abs(code.width - code.height) < 1, `the code is ${code.width}×${code.height} pixels`);

  await page.click('#invite-close');
  await page.waitForSelector('#nickname-dialog[open]');
  assert.equal(await page.evaluate(() => location.hash), '', 'a reload would show the invite again');
  await page.type('#nickname-input', '老师');
  await page.keyboard.press('Enter');
  await stateIs(page, 'open');
  // The list of members comes in its own frame and takes its place in the header, moving the
  // buttons beside it: a click aimed before that would land elsewhere.
  await page.waitForSelector('#members-button:not([hidden])');
  await page.click('#invite-button');
  await page.waitForSelector('#invite-dialog[open]');
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => !document.getElementById('invite-dialog').open);
  await stateIs(page, 'open');
  noProblems(page);
  assert.equal(await room.close(), 0);
});
