// Shared pieces of the upload page tests: a ferrylantern-server child process on 127.0.0.1 with its
// own save folder, Debian's Chromium as a phone, and bounded waits that report what the page showed.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { mkdir, mkdtemp, readFile, rm, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));

export const serverBinary = process.env.FERRYLANTERN_SERVER ?? path.resolve(here, '../../build/bin/ferrylantern-server');
export const artifactsDir = process.env.FERRYLANTERN_WEB_ARTIFACTS ?? path.join(here, 'artifacts');
const chromiumPath = process.env.CHROMIUM ?? '/usr/bin/chromium';

// Without the background-networking switches Chromium keeps dialling out, and this network refuses.
const chromiumArgs = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'];

export const waitTimeout = 15000;
const startTimeout = 20000;
const stopTimeout = 10000;

// Closes the browser, stops the receiver and removes the folders a test file made.
export async function tearDown({ chromium, receiver, folders = [] }) {
    await chromium?.close();
    await receiver?.stop();
    for (const folder of folders) {
        if (folder) await rm(folder, { recursive: true, force: true });
    }
}

export async function temporaryFolder(prefix) {
    return mkdtemp(path.join(tmpdir(), prefix));
}

function withTimeout(promise, ms, what) {
    let timer;
    const timeout = new Promise((_, reject) => {
        timer = setTimeout(() => reject(new Error(`timed out after ${ms} ms: ${what}`)), ms);
    });
    return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// One ferrylantern-server in the foreground. Its standard output is kept line by line ("saved PATH
// (N bytes)", "failed NAME from DEVICE"); its terminal questions arrive on standard error and are
// answered through standard input.
export class Receiver {
    static async start({ saveDir, name = '测试电脑', pin, confirm, onDuplicate, port = 0 }) {
        const stateDir = await temporaryFolder('fl-web-server-');
        const portFile = path.join(stateDir, 'port');
        const args = ['--port', String(port), '--port-file', portFile, '--save-dir', saveDir, '--name', name];
        if (pin) args.push('--pin', pin);
        if (confirm) args.push('--confirm', confirm);
        if (onDuplicate) args.push('--on-duplicate', onDuplicate);
        const receiver = new Receiver(spawn(serverBinary, args, { stdio: ['pipe', 'pipe', 'pipe'] }), stateDir);
        // The last address line is printed after the port file was written.
        await receiver.waitForLine(/^http:\/\/127\.0\.0\.1:\d+\/$/, startTimeout);
        receiver.port = Number((await readFile(portFile, 'utf8')).trim());
        receiver.saveDir = saveDir;
        assert.ok(receiver.port > 0, 'port file holds a port');
        return receiver;
    }

    constructor(child, stateDir) {
        this.child = child;
        this.stateDir = stateDir;
        this.lines = [];
        this.prompts = '';
        this.waiters = new Set();
        this.exited = once(child, 'exit');
        createInterface({ input: child.stdout }).on('line', (line) => {
            this.lines.push(line);
            this.notify();
        });
        child.stderr.setEncoding('utf8');
        child.stderr.on('data', (text) => {
            this.prompts += text;
            this.notify();
        });
        child.on('exit', () => this.notify());
    }

    get url() {
        return `http://127.0.0.1:${this.port}/`;
    }

    notify() {
        for (const waiter of this.waiters) waiter();
    }

    // Resolves once `check()` answers something other than undefined; fails when the server exits first.
    waitFor(check, ms, what) {
        let waiter;
        const result = new Promise((resolve, reject) => {
            waiter = () => {
                const value = check();
                if (value !== undefined) resolve(value);
                else if (this.child.exitCode !== null || this.child.signalCode !== null) {
                    reject(new Error(`ferrylantern-server exited while waiting for ${what}\n${this.prompts}`));
                }
            };
            this.waiters.add(waiter);
            waiter();
        });
        return withTimeout(result, ms, what).finally(() => this.waiters.delete(waiter));
    }

    waitForLine(pattern, ms = waitTimeout) {
        return this.waitFor(() => this.lines.find((line) => pattern.test(line)), ms, `a line matching ${pattern}`);
    }

    waitForPrompt(text, ms = waitTimeout) {
        return this.waitFor(() => (this.prompts.includes(text) ? true : undefined), ms, `the prompt ${text}`);
    }

    answer(line) {
        this.child.stdin.write(line + '\n');
    }

    async stop() {
        if (this.child.exitCode === null && this.child.signalCode === null) {
            this.child.kill('SIGTERM');
            try {
                await withTimeout(this.exited, stopTimeout, 'ferrylantern-server to stop');
            } catch (error) {
                this.child.kill('SIGKILL');
                await this.exited;
                throw error;
            }
        }
        await rm(this.stateDir, { recursive: true, force: true });
        return this.child.exitCode;
    }
}

// Debian's Chromium with a throw-away profile, home and temporary folder; `extraArgs` go on its
// command line (host resolver rules, for example).
export async function launchChromium(extraArgs = []) {
    const home = await temporaryFolder('fl-web-chromium-');
    const browser = await chromium.launch({
        executablePath: chromiumPath,
        headless: true,
        args: [...chromiumArgs, ...extraArgs],
        env: {
            ...process.env,
            HOME: home,
            TMPDIR: home,
            // Chromium aborts when a D-Bus it joined goes away, as the system bus does when other tests
            // stop their daemon; the page needs no bus, so it gets none.
            DBUS_SYSTEM_BUS_ADDRESS: `unix:path=${path.join(home, 'no-system-bus')}`,
            DBUS_SESSION_BUS_ADDRESS: `unix:path=${path.join(home, 'no-session-bus')}`,
        },
        timeout: 60000,
    });
    return {
        browser,
        async close() {
            await withTimeout(browser.close(), stopTimeout, 'Chromium to close').catch(() => {});
            await rm(home, { recursive: true, force: true });
        },
    };
}

// A phone: narrow viewport, touch, mobile layout. Script errors of every page are collected.
export async function newPhone(browser) {
    const context = await browser.newContext({
        viewport: { width: 390, height: 844 },
        deviceScaleFactor: 2,
        isMobile: true,
        hasTouch: true,
        locale: 'zh-CN',
    });
    context.setDefaultTimeout(waitTimeout);
    context.setDefaultNavigationTimeout(waitTimeout);
    context.scriptErrors = [];
    context.on('page', (page) => page.on('pageerror', (error) => context.scriptErrors.push(error.message)));
    return context;
}

export async function openPage(context, url) {
    const page = await context.newPage();
    await page.goto(url);
    return page;
}

// Waits until the text of `selector` is `expected`; on timeout fails with the text it had.
export async function waitForText(page, selector, expected, ms = waitTimeout) {
    try {
        await page.waitForFunction(([s, text]) => document.querySelector(s)?.textContent === text, [selector, expected],
            { timeout: ms });
    } catch (error) {
        const actual = await page.evaluate((s) => document.querySelector(s)?.textContent ?? null, selector)
            .catch(() => '(page gone)');
        assert.fail(`${selector}: expected ${JSON.stringify(expected)}, saw ${JSON.stringify(actual)} (${error.message.split('\n')[0]})`);
    }
}

export async function waitForSummary(page, expected, ms = waitTimeout) {
    await waitForText(page, '#summary', expected, ms);
}

// Every row of the queue as { name, status, pct, classes, tooltip }.
export async function rows(page) {
    return page.$$eval('#queue .file-item', (items) => items.map((item) => ({
        name: item.querySelector('.file-name').textContent,
        status: item.querySelector('.status').textContent,
        pct: item.querySelector('.pct').textContent,
        classes: [...item.classList].filter((c) => c !== 'file-item').sort().join(' '),
        tooltip: item.querySelector('.status').title,
    })));
}

export async function pinCells(page) {
    return page.$$eval('.pin-cell', (cells) => cells.map((cell) => ({ value: cell.value, classes: cell.className })));
}

export async function focusedPINCell(page) {
    return page.evaluate(() => {
        const active = document.activeElement;
        return active?.classList.contains('pin-cell') ? Number(active.dataset.index) : null;
    });
}

// Fires a paste of `text` at the PIN cell `index`, as a phone's paste menu would.
export async function pasteIntoPINCell(page, index, text) {
    await page.locator('.pin-cell').nth(index).evaluate((cell, pasted) => {
        const data = new DataTransfer();
        data.setData('text/plain', pasted);
        cell.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
    }, text);
}

// Files of the given sizes (or contents) in a fresh folder, for the file input.
export async function makeFiles(contents) {
    const folder = await temporaryFolder('fl-web-files-');
    const paths = [];
    for (const [name, content] of Object.entries(contents)) {
        const file = path.join(folder, name);
        await writeFile(file, content);
        paths.push(file);
    }
    return { folder, paths };
}

export async function screenshot(page, name) {
    await mkdir(artifactsDir, { recursive: true });
    await page.screenshot({ path: path.join(artifactsDir, name), fullPage: true });
}
