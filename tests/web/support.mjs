// Shared pieces of the upload page tests: a ferrylantern-server child process with its own save folder,
// Debian's Chromium as a phone opening the page at a LAN address, a link between them that can drop
// like Wi-Fi, and bounded waits that report what the page showed.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { mkdir, mkdtemp, readFile, readdir, rm, writeFile } from 'node:fs/promises';
import net from 'node:net';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { createInterface } from 'node:readline';
import { after, before } from 'node:test';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import AxeBuilder from '@axe-core/playwright';

const here = path.dirname(fileURLToPath(import.meta.url));

export const serverBinary = process.env.FERRYLANTERN_SERVER ?? path.resolve(here, '../../build/bin/ferrylantern-server');
export const artifactsDir = process.env.FERRYLANTERN_WEB_ARTIFACTS ?? path.join(here, 'artifacts');
const chromiumPath = process.env.CHROMIUM ?? '/usr/bin/chromium';

// Without the background-networking switches Chromium keeps dialling out, and this network refuses.
const chromiumArgs = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// Where the phone opens the page: the LAN address of the network namespace private-network.sh made,
// where window.isSecureContext is false as on a real phone; 127.0.0.1 where there is none.
export const pageAddress = process.env.FERRYLANTERN_WEB_ADDRESS ?? '127.0.0.1';
export const onLANAddress = pageAddress !== '127.0.0.1';

export const waitTimeout = 15000;

async function temporaryFolder(prefix) {
    return mkdtemp(path.join(tmpdir(), prefix));
}

function withTimeout(promise, ms, what) {
    let timer;
    const timeout = new Promise((_, reject) => {
        timer = setTimeout(() => reject(new Error(`timed out after ${ms} ms: ${what}`)), ms);
    });
    return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// Something that changes as events arrive; `waitFor(check)` resolves once `check()` answers something
// other than undefined (checked at every change), and fails when `failure()` names a reason first.
class Watched {
    waiters = new Set();

    notify() {
        for (const waiter of this.waiters) waiter();
    }

    failure() {
        return undefined;
    }

    waitFor(check, ms, what) {
        let waiter;
        const result = new Promise((resolve, reject) => {
            waiter = () => {
                const value = check();
                if (value !== undefined) resolve(value);
                else if (this.failure()) reject(new Error(`${this.failure()} while waiting for ${what}`));
            };
            this.waiters.add(waiter);
            waiter();
        });
        return withTimeout(result, ms, what).finally(() => this.waiters.delete(waiter));
    }
}

// One ferrylantern-server in the foreground. Its standard output is kept line by line ("saved PATH
// (N bytes)", "failed NAME from DEVICE", "text from DEVICE: TEXT", "sent PATH to DEVICE (N bytes)");
// its terminal questions arrive on standard error and are answered through standard input. `share`
// lists files phones may download.
export class Receiver extends Watched {
    static async start({ saveDir, name = '测试电脑', pin, confirm, onDuplicate, port = 0, share = [] }) {
        const stateDir = await temporaryFolder('fl-web-server-');
        const portFile = path.join(stateDir, 'port');
        const args = ['--port', String(port), '--port-file', portFile, '--save-dir', saveDir, '--name', name];
        if (pin) args.push('--pin', pin);
        if (confirm) args.push('--confirm', confirm);
        if (onDuplicate) args.push('--on-duplicate', onDuplicate);
        if (share.length > 0) args.push('--share', ...share);
        const receiver = new Receiver(spawn(serverBinary, args, { stdio: ['pipe', 'pipe', 'pipe'] }), stateDir);
        // The last address line is printed after the port file was written.
        await receiver.waitForLine(/^http:\/\/127\.0\.0\.1:\d+\/$/, 20000);
        receiver.port = Number((await readFile(portFile, 'utf8')).trim());
        receiver.saveDir = saveDir;
        return receiver;
    }

    constructor(child, stateDir) {
        super();
        this.child = child;
        this.stateDir = stateDir;
        this.lines = [];
        this.prompts = '';
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
        return `http://${pageAddress}:${this.port}/`;
    }

    get running() {
        return this.child.exitCode === null && this.child.signalCode === null;
    }

    failure() {
        return this.running ? undefined : `ferrylantern-server exited\n${this.prompts}`;
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

    // SIGTERM, or with 'SIGKILL' an end as a crash would be: no cancels, no answers, partial files kept.
    async stop(signal = 'SIGTERM') {
        if (this.running) {
            this.child.kill(signal);
            await withTimeout(this.exited, 10000, 'ferrylantern-server to stop').catch((error) => {
                this.child.kill('SIGKILL');
                throw error;
            });
        }
        await rm(this.stateDir, { recursive: true, force: true });
    }
}

// What every test file sets up once: Debian's Chromium (with `extraArgs` on its command line, and a
// throw-away profile, home and temporary folder) and a phone in it (narrow viewport, touch, mobile
// layout, dark), then `setUp()`; receivers and files that go away at the end, and no script error on
// any page of the phone.
export function useBrowser({ extraArgs = [], setUp } = {}) {
    const session = {
        cleanups: [],
        defer(cleanup) {
            session.cleanups.push(cleanup);
        },
        // A receiver with a save folder of its own (or `saveDir`), stopped at the end.
        async receiver(options = {}) {
            const saveDir = options.saveDir ?? await session.folder('fl-web-save-');
            const receiver = await Receiver.start({ ...options, saveDir });
            session.defer(() => receiver.stop());
            return receiver;
        },
        async folder(prefix) {
            const folder = await temporaryFolder(prefix);
            session.defer(() => rm(folder, { recursive: true, force: true }));
            return folder;
        },
        // Files of the given contents in a fresh folder, for the file input: { folder, paths }.
        async files(contents) {
            const folder = await session.folder('fl-web-files-');
            const paths = [];
            for (const [name, content] of Object.entries(contents)) {
                paths.push(path.join(folder, name));
                await writeFile(paths.at(-1), content);
            }
            return { folder, paths };
        },
    };
    before(async () => {
        const home = await session.folder('fl-web-chromium-');
        session.browser = await chromium.launch({
            executablePath: chromiumPath,
            headless: true,
            args: [...chromiumArgs, ...extraArgs],
            env: {
                ...process.env,
                HOME: home,
                TMPDIR: home,
                // Chromium aborts when a D-Bus it joined goes away, as the system bus does when other
                // tests stop their daemon; the page needs no bus, so it gets none.
                DBUS_SYSTEM_BUS_ADDRESS: `unix:path=${path.join(home, 'no-system-bus')}`,
                DBUS_SESSION_BUS_ADDRESS: `unix:path=${path.join(home, 'no-session-bus')}`,
            },
            timeout: 60000,
        });
        session.context = await session.browser.newContext({
            viewport: { width: 390, height: 844 },
            deviceScaleFactor: 2,
            isMobile: true,
            hasTouch: true,
            locale: 'zh-CN',
            colorScheme: 'dark',
        });
        session.context.setDefaultTimeout(waitTimeout);
        session.context.setDefaultNavigationTimeout(waitTimeout);
        session.context.scriptErrors = [];
        const { scriptErrors } = session.context;
        session.context.on('page', (page) => page.on('pageerror', (error) => scriptErrors.push(error.message)));
        await setUp?.();
    }, { timeout: 90000 });
    after(async () => {
        await withTimeout(session.browser?.close(), 10000, 'Chromium to close').catch(() => {});
        for (const cleanup of session.cleanups.reverse()) await cleanup();
        assert.deepEqual(session.context?.scriptErrors, []);
    }, { timeout: 60000 });
    return session;
}

// The page of `url` in a new tab of `context` once `selector` shows; with `device`, that name typed in.
export async function openPage(context, url, { waitFor = '#uploadPanel', device } = {}) {
    const page = await context.newPage();
    await page.goto(url);
    await page.locator(waitFor).waitFor({ state: 'visible' });
    if (device) await page.fill('#deviceName', device);
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

// Every row of the queue as { name, status, pct, stats, classes, tooltip }.
export async function rows(page) {
    return page.$$eval('#queue .file-item', (items) => items.map((item) => ({
        name: item.querySelector('.file-name').textContent,
        status: item.querySelector('.status').textContent,
        pct: item.querySelector('.pct').textContent,
        stats: item.querySelector('.file-stats').textContent,
        classes: [...item.classList].filter((c) => c !== 'file-item').sort().join(' '),
        tooltip: item.querySelector('.status').title,
    })));
}

// Every file under `folder` (hidden partial files included), as sorted paths relative to it; [] when
// the folder does not exist.
export async function entriesUnder(folder) {
    const entries = await readdir(folder, { recursive: true, withFileTypes: true }).catch(() => []);
    return entries.filter((entry) => entry.isFile())
        .map((entry) => path.relative(folder, path.join(entry.parentPath ?? entry.path, entry.name))).sort();
}

// axe-core's checks of what the page shows now; fails on any serious or critical violation.
export async function checkAccessibility(page, label) {
    const results = await new AxeBuilder({ page }).analyze();
    const grave = results.violations.filter((violation) => ['serious', 'critical'].includes(violation.impact));
    console.log(`[ FIGURE ] axe-core ${results.testEngine.version}, ${label}: ${grave.length} serious or critical, ` +
        `${results.violations.length - grave.length} minor violations, ${results.passes.length} rules passed`);
    assert.deepEqual(grave.map((violation) => ({
        id: violation.id, impact: violation.impact, nodes: violation.nodes.map((node) => node.target.join(' ')),
    })), [], `${label}: no serious or critical accessibility violations`);
}

export async function screenshot(page, name, { fullPage = true } = {}) {
    await mkdir(artifactsDir, { recursive: true });
    await page.screenshot({ path: path.join(artifactsDir, name), fullPage, animations: 'disabled', scale: 'css' });
}

// The phone's Wi-Fi, between Chromium and the server: it forwards every connection and counts the
// bytes the phone sends. `cut()` drops the link as Wi-Fi does: the phone's side of every connection is
// reset, the server's side stays open and silent. `goDown(ms)` cuts and refuses every new connection
// until one comes `ms` after the drop (the phone retrying), or until `goUp()`. `targetPort` may change,
// as when the computer's FerryLantern restarted behind the same address.
export class LinkProxy extends Watched {
    static async start(targetPort) {
        const proxy = new LinkProxy(targetPort);
        await new Promise((resolve) => proxy.server.listen(0, pageAddress, resolve));
        proxy.port = proxy.server.address().port;
        return proxy;
    }

    constructor(targetPort) {
        super();
        this.targetPort = targetPort;
        this.links = new Set();
        this.silent = new Set();
        this.bytesUp = 0;
        this.refused = 0;
        this.outage = null;
        this.server = net.createServer((phone) => this.accept(phone));
    }

    get url() {
        return `http://${pageAddress}:${this.port}/`;
    }

    waitForBytesUp(count, ms = 60000) {
        return this.waitFor(() => (this.bytesUp >= count ? this.bytesUp : undefined), ms, `${count} bytes sent`);
    }

    accept(phone) {
        phone.on('error', () => {});
        if (this.outage) {
            if (Date.now() - this.outage.since < this.outage.ms) {
                this.refused += 1;
                phone.resetAndDestroy();
                this.notify();
                return;
            }
            this.outage = null;
            this.notify();
        }
        const server = net.connect(this.targetPort, pageAddress);
        server.on('error', () => {});
        const link = { phone, server };
        this.links.add(link);
        phone.on('data', (chunk) => {
            this.bytesUp += chunk.length;
            if (!server.write(chunk)) {
                phone.pause();
                server.once('drain', () => phone.resume());
            }
            this.notify();
        });
        server.on('data', (chunk) => {
            if (!phone.destroyed) phone.write(chunk);
        });
        phone.on('end', () => server.end());
        server.on('end', () => phone.end());
        phone.on('close', () => {
            this.links.delete(link);
            if (!this.silent.has(server)) server.destroy();
        });
        server.on('close', () => {
            this.silent.delete(server);
            if (this.links.has(link)) phone.destroy();
        });
    }

    cut() {
        for (const link of this.links) {
            this.silent.add(link.server);
            link.phone.resetAndDestroy();
        }
        this.links.clear();
    }

    goDown(ms = Infinity) {
        this.outage = { since: Date.now(), ms };
        this.cut();
    }

    goUp() {
        this.outage = null;
    }

    async stop() {
        for (const link of this.links) link.phone.destroy();
        for (const server of this.silent) server.destroy();
        await new Promise((resolve) => this.server.close(resolve));
    }
}

// A slow link for the page (Chromium's own network conditions): bytes leave and arrive at
// `bitsPerSecond` until `lift()`.
export async function slowLink(page, bitsPerSecond) {
    const devtools = await page.context().newCDPSession(page);
    await devtools.send('Network.enable');
    const conditions = (throughput, latency) => devtools.send('Network.emulateNetworkConditions',
        { offline: false, latency, downloadThroughput: throughput, uploadThroughput: throughput });
    await conditions(bitsPerSecond / 8, 5);
    return { lift: () => conditions(-1, 0) };
}

// Records every status text each row of the queue shows, in order, in window.seenStatuses (one list
// per row).
export async function recordRowStatuses(page) {
    await page.evaluate(() => {
        window.seenStatuses = [];
        const record = () => {
            document.querySelectorAll('#queue .status').forEach((status, i) => {
                const seen = (window.seenStatuses[i] ??= []);
                if (seen.at(-1) !== status.textContent) seen.push(status.textContent);
            });
        };
        new MutationObserver(record).observe(document.getElementById('queue'),
            { subtree: true, childList: true, characterData: true });
        record();
    });
}
