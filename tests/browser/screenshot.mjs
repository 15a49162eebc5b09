// Takes the README's picture of the web page: the built program with its own word library,
// two browsers and a TCP member chatting, the robot answering, one administrator's notice;
// the first browser's page at a phone's size. With `reconnect` after the file name, instead a
// late joiner's page after a blink: the history set apart, what came while it was cut off, a
// message typed meanwhile as not sent. With `members`, the same conversation with the list of
// who is here open. Run it in a network namespace of its own:
//
//   unshare -n sh -c 'ip link set lo up &&
//     CHATROOM_SERVER=build/release/chatroom-server node tests/browser/screenshot.mjs docs/web-page.png'
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { Room, TcpMember, WEB_PORT, launchBrowser, join, joinNamed, say, messageShown, stateIs } from './room.mjs';

const PHONE = { width: 390, height: 780, deviceScaleFactor: 2 };
const words = new TextDecoder('gbk').decode(fs.readFileSync(path.join(path.dirname(fileURLToPath(import.meta.url)),
  '../../data/reply.ini')));
const conversation = [
  ['me', '大家好'], ['other', '早上好'], ['tcp', '老王\r\n下午的课改到 302 教室了'], ['me', '收到，谢谢'],
];

const room = await Room.start(words);
const browser = await launchBrowser();
async function conversationPicture(tcp, withMembers) {
  const me = await joinNamed(room, browser, '小明');
  await me.setViewport(PHONE);
  const members = { me, other: await join(browser, '阿花'), tcp };
  for (const [who, text] of conversation) {
    if (who === 'tcp') tcp.send(text);
    else await say(members[who], text);
    await messageShown(me, text.split('\r\n').pop());
  }
  await messageShown(me, '不客气，能帮上忙我很开心！');
  room.admin('shake', me.address);
  await messageShown(me, '管理员抖了你一下！');
  await me.waitForFunction(() => !document.getElementById('app').classList.contains('shake'));
  if (withMembers) {
    await me.click('#members-button');
    await me.waitForFunction(() => !document.getElementById('members-panel').hidden);
  }
  await me.screenshot({ path: process.argv[2] || 'web-page.png' });
}

// The late joiner's page after a blink; its connection is cut as a network would (ss -K).
async function afterReconnect(tcp) {
  const other = await join(browser, '阿花');
  await say(other, '大家好');
  tcp.send('\r\n\r\n老王\r\n下午的课改到 302 教室了');
  await messageShown(other, '下午的课改到 302 教室了');
  const me = await join(browser, '小明');
  await me.setViewport(PHONE);
  await say(me, '收到，谢谢');
  await messageShown(me, '收到，谢谢');
  await me.setOfflineMode(true);
  execFileSync('ss', ['-K', 'state', 'established', `( sport = :${WEB_PORT} )`], { stdio: 'pipe' });
  await stateIs(me, 'retrying');
  tcp.send('\r\n\r\n老王\r\n在三号教学楼');
  await say(me, '302 在哪栋楼？');
  await me.setOfflineMode(false);
  await me.click('#banner-button');
  await stateIs(me, 'open');
  await messageShown(me, '在三号教学楼');
  await stateIs(other, 'open');
  await say(other, '我也刚看到');
  await messageShown(me, '我也刚看到');
  return me;
}

try {
  const tcp = await TcpMember.connect();
  if (process.argv[3] === 'reconnect') {
    const me = await afterReconnect(tcp);
    await me.screenshot({ path: process.argv[2] || 'web-page-reconnect.png' });
  } else {
    await conversationPicture(tcp, process.argv[3] === 'members');
  }
  tcp.close();
} finally {
  await browser.close();
  await room.close();
}
