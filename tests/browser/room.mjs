// What the browser tests and the screenshot share: the built program started in a fresh
// program directory (or the Windows program under Wine), a member on the TCP port, and
// Chromium pages that join through the room's own web page.
//
//   CHATROOM_SERVER          the built chatroom-server (Linux)
//   CHATROOM_WINDOWS_SERVER  the built chatroom-server.exe: run it under Wine instead
//   CHATROOM_WINE_RUN        scripts/wine-run.sh, which runs it in the prefix beside the .exe
//   CHROMIUM                 the browser; /usr/bin/chromium by default
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

export const TCP_PORT = 19730;
export const WEB_PORT = 19731;
export const PAGE_URL = `http://127.0.0.1:${WEB_PORT}/`;
const HOST = '127.0.0.1';
const POLL_MS = 100;
// Bounds for what normally takes a fraction of a second; Wine starts programs slowly.
const START_TIMEOUT_MS = 90_000;
const EXIT_TIMEOUT_MS = 30_000;
export const WAIT_MS = 15_000;
// Chromium as root, in a network namespace without anything beyond the loopback.
const CHROMIUM_FLAGS = ['--no-sandbox', '--headless', '--disable-gpu', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--no-first-run', '--disable-quic'];

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
export const gbk = (text) => execFileSync('iconv', ['-f', 'UTF-8', '-t', 'GBK'], { input: text });
const fromGbk = (bytes) => new TextDecoder('gbk').decode(bytes);
const tempDirectory = (name) => fs.mkdtempSync(path.join(os.tmpdir(), `chatroom-browser-${name}-`));

async function until(what, check, timeoutMs = WAIT_MS) {
  for (const end = Date.now() + timeoutMs; Date.now() < end; await sleep(POLL_MS)) {
    const value = await check();
    if (value) return value;
  }
  throw new Error(`timed out waiting for ${what}`);
}

const windowsServer = process.env.CHATROOM_WINDOWS_SERVER;
export const underWine = Boolean(windowsServer);

// The program in a directory of its own with the word library `replyIni` (UTF-8 text, written
// as the GBK file the program reads), its own configuration home and runtime directory.
export class Room {
  static async start(replyIni) {
    const room = new Room();
    const built = windowsServer || process.env.CHATROOM_SERVER;
    room.directory = tempDirectory('program');
    room.executable = path.join(room.directory, path.basename(built));
    fs.copyFileSync(built, room.executable);
    fs.chmodSync(room.executable, 0o755);
    fs.writeFileSync(path.join(room.directory, 'reply.ini'), gbk(replyIni));
    room.env = { ...process.env, QT_QPA_PLATFORM: 'offscreen', XDG_CONFIG_HOME: tempDirectory('config'),
      XDG_RUNTIME_DIR: tempDirectory('runtime') };
    if (underWine) room.clearWindowsPolls();
    const [program, ...args] = room.command(room.executable);
    room.process = spawn(program, args, { env: room.env, stdio: ['ignore', 'inherit', 'inherit'] });
    room.exited = new Promise((resolve) => room.process.on('exit', (code, signal) => resolve(code ?? signal)));
    room.exited.then(() => [room.directory, room.env.XDG_CONFIG_HOME, room.env.XDG_RUNTIME_DIR]
      .forEach((directory) => fs.rmSync(directory, { recursive: true, force: true })));
    try {
      await until('the web port to listen', () => {
        if (room.process.exitCode !== null) throw new Error(`the program ended with ${room.process.exitCode}`);
        return room.accepts();
      }, START_TIMEOUT_MS);
    } catch (error) {
      room.process.kill('SIGKILL');
      await room.exited;
      throw error;
    }
    return room;
  }

  command(program, ...args) {
    if (!underWine) return [program, ...args];
    const prefix = path.join(path.dirname(windowsServer), 'wine-prefix');
    return [process.env.CHATROOM_WINE_RUN, '--prefix', prefix, program, ...args];
  }

  // A fresh poll: under Wine the votes live in the prefix's registry, shared by every run.
  clearWindowsPolls() {
    const file = path.join(this.directory, 'clear.reg');
    const text = 'Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_CURRENT_USER\\SOFTWARE\\聊天室]\r\n';
    fs.writeFileSync(file, Buffer.concat([Buffer.from([0xFF, 0xFE]), Buffer.from(text, 'utf16le')]));
    execFileSync(...this.commandParts('regedit', '/s', `Z:${file}`));
  }

  commandParts(program, ...args) {
    const [first, ...rest] = this.command(program, ...args);
    return [first, rest, { env: this.env, stdio: 'ignore' }];
  }

  accepts() {
    return new Promise((resolve) => {
      const socket = net.connect(WEB_PORT, HOST, () => { socket.destroy(); resolve(true); });
      socket.on('error', () => resolve(false));
    });
  }

  // `chatroom-server admin ARGS...` beside the room: its exit status and standard output.
  admin(...args) {
    try {
      return { status: 0, output: execFileSync(this.executable, ['admin', ...args], { env: this.env }).toString() };
    } catch (error) {
      return { status: error.status, output: String(error.stdout) };
    }
  }

  roster() {
    return this.admin('list').output.split('\n').filter(Boolean);
  }

  // For a test that failed half-way: ends a room still running.
  async stop() {
    if (this.process.exitCode === null && this.process.signalCode === null) await this.close();
  }

  // The close button (SIGTERM; under Wine, WM_CLOSE through taskkill); resolves to the status.
  async close() {
    if (underWine) execFileSync(...this.commandParts('taskkill', '/IM', path.basename(this.executable)));
    else this.process.kill('SIGTERM');
    const timer = setTimeout(() => this.process.kill('SIGKILL'), EXIT_TIMEOUT_MS);
    const status = await this.exited;
    clearTimeout(timer);
    return status;
  }
}

// A member on the TCP port that sends UTF-8 text as GBK and reads what the room sends.
export class TcpMember {
  static async connect() {
    const member = new TcpMember();
    member.received = Buffer.alloc(0);
    member.socket = net.connect(TCP_PORT, HOST);
    member.socket.on('data', (chunk) => { member.received = Buffer.concat([member.received, chunk]); });
    await new Promise((resolve, reject) => member.socket.once('connect', resolve).once('error', reject));
    return member;
  }

  send(text) { this.socket.write(gbk(text)); }
  text() { return fromGbk(this.received); }
  waitFor(text) { return until(`the TCP member to receive ${JSON.stringify(text)}`, () => this.text().includes(text)); }
  close() { this.socket.destroy(); }
}

export async function launchBrowser() {
  const userDataDir = tempDirectory('profile');
  const browser = await puppeteer.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true, args: [...CHROMIUM_FLAGS, `--user-data-dir=${userDataDir}`] });
  const close = browser.close.bind(browser);
  // The profile goes once Chromium has ended, not at the disconnection, when it still writes.
  browser.close = async () => {
    await close();
    fs.rmSync(userDataDir, { recursive: true, force: true, maxRetries: 5 });
  };
  return browser;
}

// A page in a context of its own (its own storage, its own connection) that has joined the
// room as `nickname`. Script errors and refused resources (the page's policy) fail the test.
export async function join(browser, nickname, viewport = { width: 400, height: 760 }) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  page.problems = [];
  page.on('pageerror', (error) => page.problems.push(error.message));
  page.on('console', (message) => { if (message.type() === 'error') page.problems.push(message.text()); });
  await page.setViewport(viewport);
  await page.goto(PAGE_URL);
  await page.waitForSelector('#nickname-dialog[open]');
  await page.type('#nickname-input', nickname);
  await page.keyboard.press('Enter');
  await stateIs(page, 'open');
  return page;
}

export async function say(page, text) {
  await page.type('#message', text);
  await page.keyboard.press('Enter');
}

export const stateIs = (page, state) =>
  page.waitForFunction((s) => document.getElementById('app').dataset.state === s, { timeout: WAIT_MS }, state);

// Waits until the log shows a message with `body` (and `sender`, when given) as the room
// brought it (an own message still on its way is not that yet) and returns its class list,
// which tells how it is shown (chat, own, raw, server robot, server admin).
export async function messageShown(page, body, sender) {
  const handle = await page.waitForFunction((b, s) => {
    const found = [...document.querySelectorAll('#log .msg')].find((m) => !m.classList.contains('sending')
      && m.querySelector('.body').textContent === b && (s === undefined || m.querySelector('.sender').textContent === s));
    return found && found.className;
  }, { timeout: WAIT_MS }, body, sender);
  return handle.jsonValue();
}

// The roster entry of a page that joins the room: the one entry that appeared meanwhile.
export async function joinNamed(room, browser, nickname) {
  const before = new Set(room.roster());
  const page = await join(browser, nickname);
  page.address = await until(`${nickname} on the roster`, () => room.roster().find((a) => !before.has(a)));
  return page;
}

export { until };
